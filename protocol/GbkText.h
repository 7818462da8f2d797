#pragma once
// The free text of the window as the module receives it: 8-bit bytes in the GBK code page.

#include <string_view>

#include "ByteString.h"

namespace modbus {

// Converts UTF-8 text to GBK. A character GBK cannot hold, and a malformed UTF-8 sequence,
// becomes one '?'. Nothing is added (no terminator).
xcom::ByteString GbkBytesOf(std::string_view utf8);

}  // namespace modbus
