#pragma once
// The simulated KESTRUM module itself: its register map and what it answers to one request.
// Pure and single-threaded: no clock, no I/O. The Simulator guards it with its own mutex.
//
// Register map: ModuleModel.h. Every register it describes is held in one store, read by 03 and
// written by 06 and 16 where the map says it is writable, up to its highest value (a relay takes
// 0 or 1). The inputs are set by the person running the module. Registers outside the map
// (0x0012 and 0x0013 among them) do not exist: a range that touches them is refused.
//
// Functions: 03 Read Holding Registers, 06 Write Single Register, 16 Write Multiple Registers.
//   - a range outside the map, or a write that touches an input register: exception 02
//   - a malformed request (register count 0 or too large, byte count that does not match the
//     register count, wrong length for the function, relay value other than 0 or 1): exception 03
//   - any other function code: exception 01
//   - a bad CRC or another slave address: no answer; address 0 (broadcast): act, never answer
//
// Mode frames AA 55 00 05 E0 50 0m 01 cs (cs = low byte of the sum of the first eight bytes)
// switch between control mode (m = 0) and data-centre mode (m = 1). By default the module keeps
// answering Modbus in both modes and answers nothing to a mode frame; both are options.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ByteString.h"
#include "ModuleModel.h"
#include "RequestFrames.h"

namespace kestrum_sim {

inline constexpr std::uint8_t kDefaultAddress = 100;
// The register map is the protocol layer's (ModuleModel.h).
using modbus::kInputCount;
using modbus::kRelayCount;

enum class DeviceMode { Control = 0, DataCentre = 1 };

// What the module sends back to a mode frame.
enum class ModeReply { None, Echo };

// Whether the module answers Modbus requests while it is in data-centre mode.
enum class DataCentreModbus { Answer, Ignore };

struct ModuleConfig {
  std::uint8_t address = kDefaultAddress;  // 1..247 (0 is the broadcast address)
  std::array<std::uint16_t, kInputCount> inputs{0, 0};
  ModeReply modeReply = ModeReply::None;
  DataCentreModbus dataCentreModbus = DataCentreModbus::Answer;
};

// Modbus exception codes the module uses.
enum class ExceptionCode : std::uint8_t {
  IllegalFunction = 0x01,
  IllegalDataAddress = 0x02,
  IllegalDataValue = 0x03,
};

// What became of one received frame.
enum class Outcome {
  Answered,           // normal reply in `reply`
  Exception,          // exception reply in `reply`
  Broadcast,          // address 0: acted on (writes), no reply
  OtherAddress,       // valid frame for another slave: ignored
  BadCrc,             // CRC wrong: ignored
  TooShort,           // fewer than 4 bytes: ignored
  ModeSwitched,       // valid mode frame; `reply` holds the echo when echoing is on
  ModeBadChecksum,    // mode frame whose checksum is wrong: ignored
  ModeUnknown,        // mode frame with a mode number other than 0 or 1: ignored
  IgnoredDataCentre,  // Modbus request while in data-centre mode with Modbus switched off
};

struct Handled {
  Outcome outcome = Outcome::TooShort;
  xcom::ByteString reply;  // empty when nothing is to be sent
  std::string note;        // one line for the log: what the module did
};

// The mode frame is the protocol layer's (RequestFrames.h).
using modbus::IsModeFrameHead;
using modbus::kModeFrameHeadSize;
using modbus::kModeFrameSize;

class SimulatedModule {
 public:
  explicit SimulatedModule(const ModuleConfig& config = {});

  // A Modbus RTU request (address, function, data, CRC) as the framer delimited it.
  Handled HandleRequest(const xcom::ByteString& frame);
  // A 9-byte frame that starts with the mode-frame head.
  Handled HandleModeFrame(const xcom::ByteString& frame);

  std::uint8_t Address() const { return config_.address; }
  DeviceMode Mode() const { return mode_; }

  // channel 1 or 2; returns false for another channel.
  bool SetInput(int channel, std::uint16_t value);
  std::uint16_t Input(int channel) const;
  // relay 1..4
  std::uint16_t Relay(int relay) const;
  // Any register of the map; nullopt for an address outside it.
  std::optional<std::uint16_t> Register(std::uint16_t address) const;

 private:
  Handled Read(const xcom::ByteString& frame, bool broadcast);
  Handled WriteSingle(const xcom::ByteString& frame, bool broadcast);
  Handled WriteMultiple(const xcom::ByteString& frame, bool broadcast);
  Handled Exception(std::uint8_t function, ExceptionCode code, bool broadcast, std::string note);
  // The exception for a value above the highest the register takes; nullopt when it takes it.
  std::optional<Handled> RefusedValue(std::uint8_t function, std::uint16_t address,
                                      std::uint16_t value, bool broadcast);

  ModuleConfig config_;
  std::map<std::uint16_t, std::uint16_t> registers_;  // every register of the map
  DeviceMode mode_ = DeviceMode::Control;
};

}  // namespace kestrum_sim
