// Not a test by itself: the window's session, without a window, through a serial device server,
// for tests/cli/server_peers_test.sh. It opens the port it is given, reads every channel,
// switches relay 1 on and off again with a read after each, and prints the status list's four
// cells (DI0 DI1 DO0 DO1) of each read, "--" for a cell the read did not fill:
//   read: 00 01 00 01
//   relay 1 on: 00 01 01 01
//   relay 1 off: 00 01 00 01
// Exit 1 when the port does not open; the session's log goes to standard error.
#include <iostream>

#include "ModuleModel.h"
#include "RecordedSession.h"
#include "ResponseText.h"
#include "RtuSession.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: app_session_through_server PORT\n";
    return 2;
  }
  xcom::TXComm port;
  TRecordedView view;
  TRecordedWaits waits;
  TRtuSession session(port, view, waits);
  waits.duringPump = [&] { session.Poll(); };
  const QString name = QString::fromLocal8Bit(argv[1]);
  session.OpenPort({name, QStringLiteral("9600"), QStringLiteral("8N1")});
  const bool opened = view.openReport == name;
  const auto readAll = [&](const char* what) {
    view.cells.clear();
    session.ReadAll();
    // The relays' reply shows at a later receive poll, as the window's tick takes it there.
    for (int tick = 0; tick < 30 && view.cells.size() < 4; ++tick)
      waits.ProcessMessages(), waits.Sleep(100);
    std::cout << what << ':';
    for (const int row : {kRowDI0, kRowDI1, kRowDO0, kRowDO1}) {
      const auto cell = view.cells.find(row);
      std::cout << ' ' << (cell == view.cells.end() ? "--" : cell->second.trimmed().toStdString());
    }
    std::cout << std::endl;
  };
  if (opened) {
    readAll("read");
    session.SwitchRelay(modbus::kRelay1Register, true, true);
    readAll("relay 1 on");
    session.SwitchRelay(modbus::kRelay1Register, false, true);
    readAll("relay 1 off");
  }
  for (const QString& line : view.lines) std::cerr << line.toStdString() << '\n';
  if (!opened) std::cerr << "not opened: " << view.openReport.toStdString() << '\n';
  return opened ? 0 : 1;
}
