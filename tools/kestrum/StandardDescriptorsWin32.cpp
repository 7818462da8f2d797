#include "StandardDescriptors.h"

namespace kestrum {

// A port is a handle of its own on Windows, never one of the standard streams' numbers.
void HoldStandardDescriptors() {}

}  // namespace kestrum
