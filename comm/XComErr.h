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
// kDeviceErrors below pairs each with its code.
struct DeviceErrorMessages {
  std::string DeviceNotOpened = "Device not opened.";
  std::string DeviceAlreadyOpened = "Device is allready opened.";
  std::string UpdateDCBFailed = "Unable to update device control block.";
  std::string SendLocked = "Device locked. Cannot perform send operations.";
  std::string ReadLocked = "Device locked. Cannot perform read operations.";
  std::string UpdateBuffersFailed = "Unable to update IO buffers.";
  std::string UpdateTimeoutsFailed = "Unable to update Timeouts.";
  std::string ReadFailed = "Unable to read from port.";
  std::string CloseInsideHandler = "Cannot close the device from inside its own event handler.";
};

DeviceErrorMessages& ErrorMessages();

// The component's error codes (EDeviceError::ErrorCode). 8 and 9 are not assigned.
enum class DeviceError : int {
  DeviceNotOpened = 1,
  DeviceAlreadyOpened = 2,
  UpdateDCBFailed = 3,
  SendLocked = 4,
  ReadLocked = 5,
  UpdateBuffersFailed = 6,
  UpdateTimeoutsFailed = 7,
  ReadFailed = 10,
  CloseInsideHandler = 11,
};

// Each code with its replaceable message.
struct DeviceErrorEntry {
  DeviceError code;
  std::string DeviceErrorMessages::*message;
};
inline constexpr DeviceErrorEntry kDeviceErrors[] = {
    {DeviceError::DeviceNotOpened, &DeviceErrorMessages::DeviceNotOpened},
    {DeviceError::DeviceAlreadyOpened, &DeviceErrorMessages::DeviceAlreadyOpened},
    {DeviceError::UpdateDCBFailed, &DeviceErrorMessages::UpdateDCBFailed},
    {DeviceError::SendLocked, &DeviceErrorMessages::SendLocked},
    {DeviceError::ReadLocked, &DeviceErrorMessages::ReadLocked},
    {DeviceError::UpdateBuffersFailed, &DeviceErrorMessages::UpdateBuffersFailed},
    {DeviceError::UpdateTimeoutsFailed, &DeviceErrorMessages::UpdateTimeoutsFailed},
    {DeviceError::ReadFailed, &DeviceErrorMessages::ReadFailed},
    {DeviceError::CloseInsideHandler, &DeviceErrorMessages::CloseInsideHandler},
};

// The message of `code` as it stands now in ErrorMessages().
const std::string& ErrorMessage(DeviceError code);

// Raises `code` with its message, fetched at this moment.
[[noreturn]] void RaiseDeviceError(DeviceError code);
// Raises `code` in the long form, with the calling thread's last system error number.
[[noreturn]] void RaiseLastDeviceError(DeviceError code);

// The raising routines themselves, with a message text and a code.
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
