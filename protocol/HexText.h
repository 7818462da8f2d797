#pragma once
// The hexadecimal text form of bytes used by the log pane and the status list.

#include <string>

#include "ByteString.h"

namespace modbus {

// Two uppercase hex digits of `value` (0..255).
std::string ByteToHex(unsigned value);

// Two digits and one space per byte: {01, 03, 0A} gives "01 03 0A ".
std::string BytesToHexText(const xcom::ByteString& data);

}  // namespace modbus
