#include "TestSupport.h"

namespace testsupport {

// Only Linux tells the tests their resident memory (/proc/self/status).
long ResidentKiB() {
  return -1;
}

}  // namespace testsupport
