#pragma once
// The frames the tool sends to the I/O module: Modbus RTU requests (built with the slave
// address of the moment and closed with their CRC) and the two fixed mode frames.

#include <cstdint>

#include "ByteString.h"
#include "ModuleModel.h"

namespace modbus {

// Read Holding Registers (03) of `count` registers from `start`, CRC appended. The address byte
// is the low 8 bits of `slaveAddress` (no range check: 300 gives 2C, -1 gives FF).
ByteString ReadRegistersRequest(std::int32_t slaveAddress, std::uint16_t start,
                                std::uint16_t count);

// The two reads of the read-all command: registers 0x0010-0x0011 and 0x0014-0x0015.
ByteString ReadInputBlockRequest(std::int32_t slaveAddress);
ByteString ReadOutputBlockRequest(std::int32_t slaveAddress);

// Write Multiple Registers (16) of the single register `relayRegister` with the value 1 (on)
// or 0 (off), CRC appended: 11 bytes.
ByteString RelayRequest(std::int32_t slaveAddress, std::uint8_t relayRegister, bool on);

// The module's mode numbers and their fixed 9-byte frames (no address, no CRC-16; the last
// byte is the low 8 bits of the sum of the eight before it).
inline constexpr int kControlMode = 0;
inline constexpr int kDataCenterMode = 1;
ByteString ModeFrame(int mode);

}  // namespace modbus
