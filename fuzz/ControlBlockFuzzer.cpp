// Arbitrary device control blocks through the Linux layer: the termios mapping on its own, and
// SetCommState / GetCommState on a real pseudo-terminal. What termios can represent must come
// back as it was written; what it cannot take must be refused without touching the line.

#include <pty.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "LineSettings.h"
#include "PlatformDevice.h"
#include "XAsync.h"

using namespace xcom;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// One pseudo-terminal for the whole run; the device under test is its slave side.
CommDevice& Device() {
  static int master = -1;
  static std::unique_ptr<CommDevice> device = [] {
    int slave = -1;
    char name[256] = {};
    Check(openpty(&master, &slave, name, nullptr, nullptr) == 0);
    close(slave);
    auto d = OpenPlatformDevice(name);
    Check(d != nullptr);
    return d;
  }();
  return *device;
}

bool Accepted(const DCB& dcb) {
  LineSettings line;
  MakeRaw(line);
  return ApplyDcbToLine(dcb, line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(DCB)) return 0;
  DCB dcb;
  std::memcpy(&dcb, data, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  // Keep rates within what a UART divisor can be asked for, so that the pty answers quickly.
  dcb.BaudRate %= 4000001;

  // The pure mapping: an accepted block's line fields come back unchanged.
  LineSettings line;
  MakeRaw(line);
  if (ApplyDcbToLine(dcb, line)) {
    Check(dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8);
    Check(dcb.StopBits != ONE5STOPBITS && dcb.Parity <= SPACEPARITY);
    Check(line.baud == dcb.BaudRate);
    DCB back = dcb;
    back.ByteSize = 0;
    back.Parity = 0;
    back.StopBits = 0;
    OverlayLineOnDcb(line, back);
    Check(back.BaudRate == dcb.BaudRate && back.ByteSize == dcb.ByteSize);
    Check(back.Parity == dcb.Parity && back.StopBits == dcb.StopBits);
    Check(back.fOutX == dcb.fOutX && back.fInX == dcb.fInX && back.fParity == dcb.fParity);
  }

  // The device: a refused block fails and leaves the previous one in force; an accepted one
  // reads back with every field the component wrote.
  CommDevice& device = Device();
  DCB before;
  Check(GetDCB(device, before) || true);
  const bool set = device.SetCommState(dcb);
  DCB after;
  Check(GetDCB(device, after));
  if (set) {
    Check(Accepted(dcb));
    Check(after.BaudRate == dcb.BaudRate && after.ByteSize == dcb.ByteSize);
    Check(after.Parity == dcb.Parity && after.StopBits == dcb.StopBits);
    Check(after.XonLim == dcb.XonLim && after.XoffLim == dcb.XoffLim);
    Check(after.EvtChar == dcb.EvtChar && after.ErrorChar == dcb.ErrorChar);
    Check(after.EofChar == dcb.EofChar);
    Check(after.fDsrSensitivity == dcb.fDsrSensitivity && after.fNull == dcb.fNull);
    Check(after.fAbortOnError == dcb.fAbortOnError);
  } else {
    Check(after.BaudRate == before.BaudRate);
  }
  return 0;
}
