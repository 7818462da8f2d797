#pragma once
// The end-of-line test: read the inputs (and compare them with what the fixture drives), switch
// both relays off and read them back (the known state the test starts from, whatever the module
// was left in), then switch each relay on, read back, off, read back. Each step is one result
// with PASS or FAIL; the last line is the verdict. A step that gets no valid reply ends the
// test there.

#include <array>
#include <functional>
#include <optional>

#include "ModuleCommands.h"

namespace kestrum {

// Runs the test, handing each step's result to `report` as it is known; returns the exit code
// (the worst of the steps). A test that ends before its end in any way (a stop, no reply, the
// device lost, a failed write) switches the relays it may have left on back off before it
// returns, and tells `say` (standard error) what it did or could not do.
ExitCode RunEndOfLineCheck(ModuleCommands& module,
                           const std::optional<std::array<int, 2>>& expectedInputs,
                           const std::function<void(const Result&)>& report,
                           const std::function<void(const std::string&)>& say);

}  // namespace kestrum
