// Uses the installed component the way another program would: builds a port, sets it up, and
// opens a device that is not there (no real device is touched).
#include <cstdio>
#include <string>

#include "ByteString.h"
#include "XComDrv.h"

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "xcom consumer: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main() {
  xcom::TXComm port;
  port.SetBaudRate(xcom::br19200);
  port.DataControl().SetParity(xcom::paEven);
  port.Buffers().SetInputSize(50);
  port.SetDeviceName("/nonexistent/xcom-consumer-port");
  if (port.BaudValue() != 19200) return Fail("BaudRate did not set BaudValue");
  if (port.Buffers().InputSize() != 128) return Fail("InputSize was not clamped to 128");
  if (port.OpenDevice()) return Fail("a device that is not there opened");
  if (port.OpenFailureReason().reason != xcom::OpenFailure::NoSuchDevice)
    return Fail("the open failed for another reason than a missing device");
  try {
    port.SendString(xcom::ByteString{0x01, 0x03});
    return Fail("sending on a closed port raised nothing");
  } catch (const xcom::EDeviceError& e) {
    if (e.ErrorCode() != 1 || std::string(e.what()) != "Device not opened.")
      return Fail(std::string("wrong error: ") + e.what());
  }
  std::puts("xcom consumer: ok");
  return 0;
}
