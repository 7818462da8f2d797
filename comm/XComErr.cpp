#include "XComErr.h"

#include "SystemError.h"

namespace xcom {

DeviceErrorMessages& ErrorMessages() {
  static DeviceErrorMessages messages;
  return messages;
}

const std::string& ErrorMessage(DeviceError code) {
  for (const DeviceErrorEntry& entry : kDeviceErrors)
    if (entry.code == code) return ErrorMessages().*entry.message;
  static const std::string none;
  return none;
}

void RaiseDeviceError(DeviceError code) {
  RaiseDeviceError(ErrorMessage(code), static_cast<int>(code));
}

void RaiseLastDeviceError(DeviceError code) {
  RaiseLastDeviceError(ErrorMessage(code), static_cast<int>(code));
}

void RaiseDeviceError(const std::string& msg, int code) {
  throw EDeviceError(msg, code);
}

void RaiseLastDeviceError(const std::string& msg, int code) {
  const int error = LastSystemError();  // taken once, before anything else can change it
  throw EDeviceError(FormatDeviceErrorMessage(msg, error, SystemErrorText(error)), code);
}

std::string TrimSystemText(std::string text) {
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last > 32 && last != '.') break;
    text.pop_back();
  }
  return text;
}

std::string FormatDeviceErrorMessage(const std::string& msg, int error,
                                     const std::string& systemText) {
  return msg + " (Win32 error " + std::to_string(error) + ": " + TrimSystemText(systemText) + ")";
}

}  // namespace xcom
