// How long a writer waits for the line to send the driver's bytes beyond the output size.
#include <gtest/gtest.h>

#include "OutputExcess.h"

namespace xcom {
namespace {

DCB Line(DWORD baud, BYTE byteSize, BYTE parity, BYTE stopBits) {
  DCB dcb{};
  dcb.BaudRate = baud;
  dcb.ByteSize = byteSize;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  return dcb;
}

TEST(OutputExcess, TheLineTimeOfTheBytesBeyondTheSizeRoundedUp) {
  const struct {
    std::uint32_t outgoing, size;
    DCB line;
    std::uint32_t ms;
  } rows[] = {
      {4095, 4096, Line(9600, 8, NOPARITY, ONESTOPBIT), 0},       // within the size
      {4096, 4096, Line(9600, 8, NOPARITY, ONESTOPBIT), 2},       // one byte: 10 bits, 1.04 ms
      {4191, 4096, Line(9600, 8, NOPARITY, ONESTOPBIT), 101},     // 96 bytes, 100 ms exactly
      {4191, 4096, Line(9600, 8, EVENPARITY, TWOSTOPBITS), 121},  // 12 bits a byte
      {4191, 4096, Line(0, 8, NOPARITY, ONESTOPBIT), 101},        // no rate: 9600
      {1055, 1000, Line(115200, 7, NOPARITY, ONESTOPBIT), 5},     // 56 bytes of 9 bits
  };
  for (const auto& row : rows)
    EXPECT_EQ(OutputExcessWaitMs(row.outgoing, row.size, row.line), row.ms)
        << row.outgoing << " of " << row.size;
}

// A close waits for the queued bytes as long as the line needs for them, plus a margin, never
// for the whole output time-out when less will do.
TEST(OutputExcess, ACloseWaitsTheLineTimeOfTheQueuedBytesWithinTheTimeOut) {
  const DCB line = Line(9600, 8, NOPARITY, ONESTOPBIT);
  EXPECT_EQ(CloseDrainWaitMs(0, line, 5000), 100u);
  EXPECT_EQ(CloseDrainWaitMs(96, line, 5000), 201u);     // 100 ms of line time
  EXPECT_EQ(CloseDrainWaitMs(2048, line, 5000), 2234u);  // a full queue: 2.13 s
  EXPECT_EQ(CloseDrainWaitMs(9600, line, 5000), 5000u);  // more than the time-out allows
}

}  // namespace
}  // namespace xcom
