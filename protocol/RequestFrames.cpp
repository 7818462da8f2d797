#include "RequestFrames.h"

#include "ModbusCrc.h"

namespace modbus {

namespace {

std::uint8_t AddressByte(std::int32_t slaveAddress) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(slaveAddress) & 0xFF);
}

std::uint8_t High(std::uint16_t value) {
  return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t Low(std::uint16_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

xcom::ByteString ReadRequest(std::int32_t slaveAddress, const RegisterRead& read) {
  return WithCrc({AddressByte(slaveAddress), 0x03, High(read.start), Low(read.start),
                  High(read.count), Low(read.count)});
}

xcom::ByteString WriteRegisterRequest(std::int32_t slaveAddress, std::uint8_t reg,
                                      std::uint16_t value) {
  return WithCrc(
      {AddressByte(slaveAddress), 0x10, 0x00, reg, 0x00, 0x01, 0x02, High(value), Low(value)});
}

xcom::ByteString RelayRequest(std::int32_t slaveAddress, std::uint8_t relayRegister, bool on) {
  return WriteRegisterRequest(slaveAddress, relayRegister, on ? 1 : 0);
}

xcom::ByteString ModeFrame(int mode) {
  xcom::ByteString frame(kModeFrameHead.begin(), kModeFrameHead.end());
  frame.push_back(static_cast<std::uint8_t>(mode));
  frame.push_back(kModeTrailer);
  frame.push_back(ModeFrameChecksum(frame));
  return frame;
}

std::optional<int> ModeOf(std::span<const std::uint8_t> frame) {
  const std::uint8_t mode = frame[kModeNumberAt];
  if (mode > kDataCenterMode || frame[kModeTrailerAt] != kModeTrailer) return std::nullopt;
  return mode;
}

std::uint8_t ModeFrameChecksum(std::span<const std::uint8_t> frame) {
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < kModeFrameSize && i < frame.size(); ++i) sum += frame[i];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

bool IsModeFrameHead(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size && i < kModeFrameHeadSize; ++i)
    if (data[i] != kModeFrameHead[i]) return false;
  return true;
}

}  // namespace modbus
