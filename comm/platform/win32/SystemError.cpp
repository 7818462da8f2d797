// The last error and its message on Windows: GetLastError and FormatMessageA.

#include "SystemError.h"

#include <array>

#include "WinTypes.h"

namespace xcom {

namespace {

// With FORMAT_MESSAGE_ARGUMENT_ARRAY a message with inserts (%1 .. %99) takes its arguments
// from an array; this one fills every insert with an empty text, so that such a message can
// never read through a missing array.
va_list* EmptyInserts() {
  static std::array<DWORD_PTR, 99> inserts = [] {
    std::array<DWORD_PTR, 99> all{};
    all.fill(reinterpret_cast<DWORD_PTR>(""));
    return all;
  }();
  return reinterpret_cast<va_list*>(inserts.data());
}

}  // namespace

int LastSystemError() {
  return static_cast<int>(::GetLastError());
}

std::string SystemErrorText(int error) {
  // FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, no source, language 0, into a
  // buffer of 256 characters. A text that does not fit counts as none.
  constexpr DWORD kFlags = 0x3000;
  static_assert(kFlags == (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY));
  char buffer[256] = {};
  const DWORD length = ::FormatMessageA(kFlags, nullptr, static_cast<DWORD>(error), 0, buffer,
                                        static_cast<DWORD>(sizeof buffer), EmptyInserts());
  return std::string(buffer, length);
}

}  // namespace xcom
