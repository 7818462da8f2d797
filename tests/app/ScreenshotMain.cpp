// Renders the window against the simulated module after relay 2 was switched on and one
// read-all, and saves it as a PNG: app_screenshot <file.png>. Used by scripts/screenshot.sh.
#include <QCheckBox>
#include <QPushButton>
#include <cstdio>

#include "AppTestSupport.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication application(argc, argv);
  kestrum_sim::Simulator::Options options;
  options.module.inputs = {1, 0};
  SimulatedModuleOnPty module(options);

  TfrmRTUTest window;
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  OpenPort(window, module.Path());
  Control<QPushButton>(window, "Button5")->click();  // relay 2 on
  QTest::qWait(300);
  window.ReadAll();  // read all channels
  QTest::qWait(500);
  if (Cell(window, 1).isEmpty() || Cell(window, 5).isEmpty()) {
    std::fprintf(stderr, "the read-all got no reply from the simulated module\n");
    return 1;
  }
  if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
