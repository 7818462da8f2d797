#pragma once
// What became of a port's line settings (rate, character format, flow control) the last time
// they were applied. A local line takes them or raises; a serial device server may own the line
// itself (a raw TCP port) or leave some settings unanswered, and a status text must not claim a
// rate the tool did not set.

#include <cstdint>

namespace xcom {

enum class LineSettingsOutcome : std::int32_t {
  Applied,      // a local line, or a server that confirmed every setting
  Unconfirmed,  // a server that left some settings unanswered (see `unconfirmed`)
  ServerOwned,  // the server's own settings hold: the tool sets none (raw TCP, or a server
                // that refused the COM-PORT-OPTION)
};

// Bits of LineSettingsReport::unconfirmed.
inline constexpr std::uint32_t kSettingRate = 0x01, kSettingDataSize = 0x02, kSettingParity = 0x04,
                               kSettingStopSize = 0x08, kSettingFlowControl = 0x10,
                               kSettingModemLines = 0x20;

struct LineSettingsReport {
  LineSettingsOutcome outcome = LineSettingsOutcome::Applied;
  std::uint32_t unconfirmed = 0;  // which settings the server did not answer

  bool operator==(const LineSettingsReport&) const = default;
};

}  // namespace xcom
