#include "LineRestore.h"

#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace xcom {

namespace {

// Every LineRestore alive, for the exit handler. The handler is registered after the registry
// is built, so it runs before the registry is destroyed.
struct Registry {
  std::mutex mutex;
  std::vector<std::pair<int, LineSettings>> settings;
};

void RestoreAllAtExit();

Registry& TheRegistry() {
  static Registry* registry = [] {
    static Registry instance;
    std::atexit(RestoreAllAtExit);
    return &instance;
  }();
  return *registry;
}

void RestoreAllAtExit() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (const auto& [fd, original] : registry.settings) WriteLineSettings(fd, original, false);
}

}  // namespace

LineRestore::LineRestore(int fd, const LineSettings& original) : fd_(fd), original_(original) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.settings.emplace_back(fd_, original_);
}

LineRestore::~LineRestore() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  std::erase_if(registry.settings, [this](const auto& entry) { return entry.first == fd_; });
  WriteLineSettings(fd_, original_, false);
}

}  // namespace xcom
