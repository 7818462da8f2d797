// The program's start routine: the command line, the application object, the one main window,
// the event loop.
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "EndSignals.h"
#include "ErrorReport.h"
#include "ProgramOptions.h"
#include "ProgramStart.h"
#include "StartOptions.h"
#include "rtutest.h"

int main(int argc, char** argv) {
  // Read before the application object exists: --help, --version and a wrong option need no
  // display.
  const TCommandLine command = ParseCommandLine(CommandLineArguments(argc, argv));
  if (command.action == TCommandLine::Action::Exit) {
    ShowCommandLineOutput(command.output, command.outputIsError);
    return command.exitCode;
  }
  // Qt's own options are not taken: the application sees the program name only.
  int applicationArgc = 1;
  TApplication application(applicationArgc, argv);
  // Qt's own texts (the log pane's Copy, Paste, ..., the file dialog) in the system's language.
  QTranslator qtTexts;
  if (qtTexts.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    application.installTranslator(&qtTexts);
  // Created before the window, so a signal ends the event loop and the window is then
  // destroyed as after a normal close (its port closed).
  TEndSignals endSignals;
  TfrmRTUTest window;
  ApplyStartOptions(window, command.options);
  window.show();
  ScheduleStartActions(window, command.options);
  return application.exec();
}
