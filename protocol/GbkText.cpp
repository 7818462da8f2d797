#include "GbkText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

namespace modbus {

namespace {

// Owns one conversion descriptor.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("No text conversion from ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray continuation byte).
std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

}  // namespace

xcom::ByteString GbkBytesOf(std::string_view utf8) {
  xcom::ByteString out;
  if (utf8.empty()) return out;
  Converter converter("GBK", "UTF-8");
  std::vector<char> chunk(4 * utf8.size() + 16);
  char* in = const_cast<char*>(utf8.data());  // iconv's signature; the input is not written
  std::size_t inLeft = utf8.size();
  while (inLeft > 0) {
    char* outPtr = chunk.data();
    std::size_t outLeft = chunk.size();
    const std::size_t rc = iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft);
    out.insert(out.end(), chunk.data(), outPtr);
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ (no GBK form, or malformed) or EINVAL (cut-off sequence at the end): one '?' for
    // the character, then go on after it.
    out.push_back('?');
    const std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(*in));
    std::size_t skip = 1;
    while (skip < length && skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80)
      ++skip;
    in += skip;
    inLeft -= skip;
  }
  return out;
}

}  // namespace modbus
