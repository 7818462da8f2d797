#pragma once
// The serial port component's one exception type and the routines that raise it.

#include <exception>
#include <string>

namespace xcom {

// Base exception: a message text (and a help context that stays 0).
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  int HelpContext() const { return 0; }

 private:
  std::string message_;
};

// Raised by every failing operation of the port component; ErrorCode tells which one.
class EDeviceError : public Exception {
 public:
  EDeviceError(std::string message, int code) : Exception(std::move(message)), errorCode_(code) {}
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

// The component's message texts. They are fetched at the moment of a raise, so a program may
// replace any of them (for a translation) through ErrorMessages().
struct DeviceErrorMessages {
  std::string DeviceNotOpened = "Device not opened.";                         // code 1
  std::string DeviceAlreadyOpened = "Device is allready opened.";             // code 2
  std::string UpdateDCBFailed = "Unable to update device control block.";     // code 3
  std::string SendLocked = "Device locked. Cannot perform send operations.";  // code 4
  std::string ReadLocked = "Device locked. Cannot perform read operations.";  // code 5
  std::string UpdateBuffersFailed = "Unable to update IO buffers.";           // code 6
  std::string UpdateTimeoutsFailed = "Unable to update Timeouts.";            // code 7
  std::string ReadFailed = "Unable to read from port.";                       // code 10
  std::string CloseInsideHandler =
      "Cannot close the device from inside its own event handler.";  // code 11
};

DeviceErrorMessages& ErrorMessages();

[[noreturn]] void RaiseDeviceError(const std::string& msg, int code);

// Raises `msg` in the long form "%s (Win32 error %d: %s)" with the calling thread's last
// system error number and the system's (trimmed) text for it.
[[noreturn]] void RaiseLastDeviceError(const std::string& msg, int code);

// Drops trailing characters with codes 0..32 and full stops.
std::string TrimSystemText(std::string text);

// The long form of a message; `systemText` is trimmed here.
std::string FormatDeviceErrorMessage(const std::string& msg, int error,
                                     const std::string& systemText);

}  // namespace xcom
