#include "StandardDescriptors.h"

#include <fcntl.h>

#include <iostream>

namespace kestrum {

void HoldStandardDescriptors() {
  const bool outputClosed = ::fcntl(1, F_GETFD) == -1;
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", O_RDWR);  // takes the lowest free one
  if (outputClosed) std::cout.setstate(std::ios::badbit);
}

}  // namespace kestrum
