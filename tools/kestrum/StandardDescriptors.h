#pragma once
// Keeps descriptors 0 to 2 taken (by /dev/null where one is closed), so that a port opened
// later cannot become the output and take the results into the module's line. A closed
// standard output then fails the first result, as any output that cannot be written does.
// Windows hands out no such numbers to ports: there it does nothing.

namespace kestrum {

void HoldStandardDescriptors();

}  // namespace kestrum
