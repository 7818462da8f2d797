// Arbitrary byte streams, cut into chunks with arbitrary gaps, through the simulated module's
// request framer and its answers.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ModbusCrc.h"
#include "RequestFramer.h"
#include "SimulatedModule.h"

using namespace modbus;  // the protocol layer

using namespace kestrum_sim;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::size_t CheckEvents(const std::vector<FramerEvent>& events, SimulatedModule& module) {
  std::size_t bytes = 0;
  for (const FramerEvent& e : events) {
    bytes += e.bytes.size();
    Check(!e.bytes.empty());
    if (e.kind == FramerEvent::Kind::Request) {
      Check(HasValidCrc(e.bytes));
      const Handled h = module.HandleRequest(e.bytes);
      // A reply is a whole Modbus frame for this module's address, never for another one.
      if (!h.reply.empty()) {
        Check(HasValidCrc(h.reply));
        Check(h.reply[0] == module.Address() && h.reply.size() <= 256);
        Check(h.reply[1] == e.bytes[1] || h.reply[1] == (e.bytes[1] | 0x80));
      }
      if (e.bytes[0] != module.Address()) Check(h.reply.empty());
    } else if (e.kind == FramerEvent::Kind::ModeFrame) {
      Check(e.bytes.size() == kModeFrameSize && IsModeFrameHead(e.bytes.data(), e.bytes.size()));
      module.HandleModeFrame(e.bytes);
    }
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SimulatedModule module;
  RequestFramer framer(kMinimumSilence);
  auto now = Clock::time_point{} + std::chrono::hours(1);
  std::size_t fed = 0;
  std::size_t reported = 0;
  // Each chunk: one byte of gap (in units of 0.25 ms), one byte of length, then the bytes.
  std::size_t at = 0;
  while (at + 2 <= size) {
    now += std::chrono::microseconds(250) * data[at];
    reported += CheckEvents(framer.Poll(now), module);
    const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
    reported += CheckEvents(framer.Feed(data + at + 2, length, now), module);
    fed += length;
    at += 2 + length;
    Check(framer.Buffered() <= 2 * RequestFramer::kMaxFrame);
  }
  now += std::chrono::seconds(1);
  reported += CheckEvents(framer.Poll(now), module);
  // Every byte is accounted for exactly once: in a frame or in a discarded block.
  Check(framer.Buffered() == 0);
  Check(reported == fed);
  return 0;
}
