#pragma once
// How the window words a decoded reply: the lines it adds to the log and the status-list cells
// it fills. The log counts channels from 1 ("DI1="), the list from 0 (row DI0); a cell shows a
// register's low byte in hex, as the design fixes.

#include <QString>
#include <vector>

#include "ResponseDecoder.h"

// The status-list rows a reply fills: DI0, DI1 (input block) and DO0, DO1 (output block). Other
// channels have no row: they show in the log only.
inline constexpr int kRowDI0 = 1;
inline constexpr int kRowDI1 = 2;
inline constexpr int kRowDO0 = 4;
inline constexpr int kRowDO1 = 5;
inline constexpr int kNoRow = -1;

// The line logged for a read reply whose CRC does not match.
inline constexpr const char* kCrcErrorLine = "CRC校验失败！";

// The note logged for a reply that may answer more than one request: it shows no value.
inline constexpr const char* kReplyInDoubtLine = "应答次序不明，可能属于较早的请求：未显示";

// One channel: its log line ("DI1=01 "), its row of the status list (or kNoRow) and the cell
// ("01 ").
struct TChannelText {
  QString logLine;
  int row = 0;
  QString cellText;
  bool operator==(const TChannelText&) const = default;
};

// What a reply shows, in order: the error line (when not empty), then per channel its log line
// and its cell.
struct TResponseText {
  QString errorLine;
  std::vector<TChannelText> channels;
};

TResponseText ResponseText(const modbus::DecodedResponse& decoded);
