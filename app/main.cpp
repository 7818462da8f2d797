// The program's start routine: the application object, the one main window, the event loop.
#include "EndSignals.h"
#include "ErrorReport.h"
#include "rtutest.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  // Created before the window, so a signal ends the event loop and the window is then
  // destroyed as after a normal close (its port closed).
  TEndSignals endSignals;
  TfrmRTUTest window;
  window.show();
  return application.exec();
}
