#include "DeviceName.h"

#include <cctype>

namespace xcom {

namespace {

// The number n of "COMn" when the name has exactly that form (n >= 1, decimal digits without
// a leading zero, at most 9 digits), else 0.
unsigned long ComPortNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 12) return 0;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  if (name[3] == '0') return 0;
  unsigned long n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + static_cast<unsigned long>(name[i] - '0');
  }
  return n;
}

}  // namespace

std::string DevicePathForName(const std::string& name) {
  if (const unsigned long n = ComPortNumber(name); n != 0)
    return "/dev/ttyS" + std::to_string(n - 1);
  // A path, absolute or relative to the working folder (./link, ../sim/link).
  if (name.find('/') != std::string::npos) return name;
  return "/dev/" + name;
}

}  // namespace xcom
