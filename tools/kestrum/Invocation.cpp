#include "Invocation.h"

#include <charconv>

namespace kestrum {

unsigned NumberIn(const std::string& option, std::string_view text, unsigned low, unsigned high) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    throw UsageError(option + " takes a number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + std::string(text) + "'");
  return value;
}

}  // namespace kestrum
