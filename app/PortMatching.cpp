#include "PortMatching.h"

#include <filesystem>

bool PortMatches(const std::string& port, const std::string& typed) {
  return port.rfind(typed, 0) == 0 ||
         std::filesystem::path(port).filename().string().rfind(typed, 0) == 0;
}
