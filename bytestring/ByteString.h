#pragma once
// The one byte-string type of the tool: frames, received blocks and CRC results.
// A counted sequence of 8-bit values; zero bytes may stand anywhere.

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace xcom {

using ByteString = std::vector<std::uint8_t>;

// Bytes of a text, taken one char per byte (no conversion).
inline ByteString BytesOf(std::string_view text) {
  return ByteString(text.begin(), text.end());
}

}  // namespace xcom
