#pragma once
// What the tests of every layer share: waiting for a condition, bytes from hex text and the
// process's resident memory. The pseudo-terminal pair for serial tests is in PtyPair.h.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Checks `done` until it holds or `limit` has passed; between two checks runs `between`
// (by default a 1 ms sleep; a test that must serve its event loop or the component's
// synchronised calls passes that instead). True as soon as `done` holds.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(3000),
               const std::function<void()>& between = {});

// Bytes of a text of two-digit hex numbers, one blank after each ("64 03 00 10 ").
std::vector<std::uint8_t> HexBytes(std::string_view text);

// The eight log lines (UTF-8) of one read-all against a module with inputs 1,0 and outputs
// 0,1; the send and receive lines begin with `stamp`. Sample text for the log at scale.
std::vector<std::string> ReadAllLogLines(const std::string& stamp);

// The process's resident memory in KiB (VmRSS); -1 where the system does not say.
long ResidentKiB();

}  // namespace testsupport
