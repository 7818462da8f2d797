// GbkBytesOf on Windows: the GBK code page is the system's code page 936, reached with
// WideCharToMultiByte. The UTF-8 input is decoded here, one character at a time, so that a
// character code page 936 cannot hold and a malformed sequence each become exactly one '?'.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

#include "GbkText.h"

namespace modbus {

namespace {

constexpr UINT kGbkCodePage = 936;

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray continuation byte).
std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

bool IsContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// Decodes the well-formed sequence at `s` of `length` bytes; false when it is not one.
bool DecodeUtf8(const unsigned char* s, std::size_t length, std::uint32_t& codePoint) {
  if (length == 2) {
    if (!IsContinuation(s[1])) return false;
    codePoint = ((s[0] & 0x1Fu) << 6) | (s[1] & 0x3Fu);
    return true;
  }
  if (length == 3) {
    const unsigned char lo = s[0] == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
    const unsigned char hi = s[0] == 0xED ? 0x9F : 0xBF;  // no surrogates
    if (s[1] < lo || s[1] > hi || !IsContinuation(s[2])) return false;
    codePoint = ((s[0] & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
    return true;
  }
  if (length == 4) {
    const unsigned char lo = s[0] == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = s[0] == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    if (s[1] < lo || s[1] > hi || !IsContinuation(s[2]) || !IsContinuation(s[3])) return false;
    codePoint =
        ((s[0] & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
    return true;
  }
  return false;
}

// Appends the code page 936 bytes of one character, or '?' when it has none.
void AppendGbk(xcom::ByteString& out, std::uint32_t codePoint) {
  wchar_t units[2];
  int count = 1;
  if (codePoint >= 0x10000) {
    units[0] = static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<wchar_t>(codePoint);
  }
  char bytes[8];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                    static_cast<int>(sizeof bytes), "?", &usedDefault);
  if (n <= 0 || usedDefault) {
    out.push_back('?');
    return;
  }
  for (int k = 0; k < n; ++k) out.push_back(static_cast<std::uint8_t>(bytes[k]));
}

}  // namespace

xcom::ByteString GbkBytesOf(std::string_view utf8) {
  xcom::ByteString out;
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  std::size_t i = 0;
  while (i < size) {
    if (s[i] < 0x80) {
      out.push_back(s[i++]);
      continue;
    }
    const std::size_t length = Utf8SequenceLength(s[i]);
    std::uint32_t codePoint = 0;
    if (length > 1 && i + length <= size && DecodeUtf8(s + i, length, codePoint)) {
      AppendGbk(out, codePoint);
      i += length;
      continue;
    }
    // Malformed or cut off: one '?', then go on after the lead byte and the continuation
    // bytes that belong to it.
    out.push_back('?');
    std::size_t skip = 1;
    while (skip < length && i + skip < size && IsContinuation(s[i + skip])) ++skip;
    i += skip;
  }
  return out;
}

}  // namespace modbus
