#include "SystemError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace xcom {

int LastSystemError() {
  return errno;
}

std::string SystemErrorText(int error) {
  char buffer[256] = {};
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  if (text == nullptr) return {};
  // glibc answers "Unknown error N" for numbers it has no text for: that is no text.
  char unknown[64];
  std::snprintf(unknown, sizeof unknown, "Unknown error %d", error);
  if (std::strcmp(text, unknown) == 0) return {};
  return text;
}

}  // namespace xcom
