#pragma once
// The frames the tool sends to the I/O module: Modbus RTU requests (built with the slave
// address of the moment and closed with their CRC) and the two fixed mode frames.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "ByteString.h"
#include "ModuleModel.h"

namespace modbus {

// Read Holding Registers (03) of the registers of `read`, CRC appended. The address byte is the
// low 8 bits of `slaveAddress` (no range check: 300 gives 2C, -1 gives FF).
xcom::ByteString ReadRequest(std::int32_t slaveAddress, const RegisterRead& read);

// Write Multiple Registers (16) of the single register `reg` (its low 8 bits: the module's
// registers all lie below 0x100) with `value`, CRC appended: 11 bytes.
xcom::ByteString WriteRegisterRequest(std::int32_t slaveAddress, std::uint8_t reg,
                                      std::uint16_t value);
// The write of a relay's register: 1 (on) or 0 (off).
xcom::ByteString RelayRequest(std::int32_t slaveAddress, std::uint8_t relayRegister, bool on);

// The module's mode numbers and their fixed 9-byte frames AA 55 00 05 E0 50 0m 01 cs (no
// address, no CRC-16; the last byte is the low 8 bits of the sum of the eight before it): the
// fixed head, the mode number (byte 7), the fixed 01 (byte 8) and the checksum.
inline constexpr int kControlMode = 0;
inline constexpr int kDataCenterMode = 1;
inline constexpr std::size_t kModeFrameSize = 9;
inline constexpr std::size_t kModeFrameHeadSize = 6;
inline constexpr std::array<std::uint8_t, kModeFrameHeadSize> kModeFrameHead = {0xAA, 0x55, 0x00,
                                                                                0x05, 0xE0, 0x50};
inline constexpr std::size_t kModeNumberAt = kModeFrameHeadSize;
inline constexpr std::size_t kModeTrailerAt = kModeFrameHeadSize + 1;
inline constexpr std::uint8_t kModeTrailer = 0x01;
xcom::ByteString ModeFrame(int mode);
// The mode a frame with a valid head and checksum selects: the mode number when it is 0 or 1 and
// the trailer byte is 01; nullopt otherwise.
std::optional<int> ModeOf(std::span<const std::uint8_t> frame);
// The checksum byte of a mode frame whose first eight bytes are `frame`'s.
std::uint8_t ModeFrameChecksum(std::span<const std::uint8_t> frame);
// True when the `size` bytes at `data` agree with the start of the mode frame's fixed head (a
// frame that may still be arriving counts as long as what came agrees).
bool IsModeFrameHead(const std::uint8_t* data, std::size_t size);

}  // namespace modbus
