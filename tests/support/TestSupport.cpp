#include "TestSupport.h"

#include <charconv>
#include <thread>

namespace testsupport {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
               const std::function<void()>& between) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return done();
    if (between)
      between();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::vector<std::uint8_t> HexBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    std::uint8_t value = 0;
    std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    bytes.push_back(value);
  }
  return bytes;
}

}  // namespace testsupport
