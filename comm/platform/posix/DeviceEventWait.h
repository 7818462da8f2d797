#pragma once
// The monitor thread's one blocking call: wait for bytes arriving on the device, for the mask to
// change, or for the stop signal, whichever comes first. Arrivals are edge-triggered (one report
// per arrival, however long older bytes stay unread) and the stop signal level-triggered (once
// set, every wait returns it at once). Each backend waits with its own system call (Linux: epoll).

#include <memory>

#include "StopSignal.h"

namespace xcom {

struct ReadyEvents {
  bool stop = false;
  bool maskChanged = false;
  bool input = false;
  bool hangUp = false;  // the device reported a hangup or an error
};

class DeviceEventWait {
 public:
  virtual ~DeviceEventWait() = default;
  // Makes `stop` part of every later wait; false, with errno set, when it cannot be watched.
  virtual bool Watch(const StopSignal& stop) = 0;
  // Waits at most `timeoutMs` (-1: no limit). False, with errno set, when the wait itself
  // failed; an interrupted wait answers true with nothing ready.
  virtual bool Wait(int timeoutMs, ReadyEvents& ready) = 0;
};

// A wait on the device `deviceFd` and the descriptor of the mask-changed wakeup; nullptr, with
// errno set, when the system refuses it.
std::unique_ptr<DeviceEventWait> MakeDeviceEventWait(int deviceFd, int maskChangedFd);

}  // namespace xcom
