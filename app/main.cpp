// The program's start routine: the application object, the one main window, the event loop.
#include "ErrorReport.h"
#include "rtutest.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  TfrmRTUTest window;
  window.show();
  return application.exec();
}
