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

std::vector<std::string> ReadAllLogLines(const std::string& stamp) {
  return {stamp + " 发送：64 03 00 10 00 02 CC 3B ",
          stamp + " 接收：64 03 04 00 01 00 00 9E F5 ",
          "DI1=01 ",
          "DI2=00 ",
          stamp + " 发送：64 03 00 14 00 02 8D FA ",
          stamp + " 接收：64 03 04 00 00 00 01 0E F5 ",
          "DO1=00 ",
          "DO2=01 "};
}

}  // namespace testsupport
