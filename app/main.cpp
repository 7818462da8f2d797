// The program's start routine: the command line, the application object, the one main window,
// the event loop.
#include <cstdio>

#include "EndSignals.h"
#include "ErrorReport.h"
#include "ProgramOptions.h"
#include "StartOptions.h"
#include "rtutest.h"

int main(int argc, char** argv) {
  // Read before the application object exists: --help, --version and a wrong option need no
  // display.
  const CommandLine command = ParseCommandLine({argv, argv + argc});
  if (command.action == CommandLine::Action::Exit) {
    std::fputs(command.output.c_str(), command.outputIsError ? stderr : stdout);
    return command.exitCode;
  }
  // Qt's own options are not taken: the application sees the program name only.
  int applicationArgc = 1;
  TApplication application(applicationArgc, argv);
  // Created before the window, so a signal ends the event loop and the window is then
  // destroyed as after a normal close (its port closed).
  TEndSignals endSignals;
  TfrmRTUTest window;
  ApplyStartOptions(window, command.options);
  window.show();
  ScheduleStartActions(window, command.options);
  return application.exec();
}
