#include "BenchWindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <thread>

#include "rtutest.h"

void RunLoop(int milliseconds) {
  QTimer::singleShot(milliseconds, qApp, &QCoreApplication::quit);
  QCoreApplication::exec();
}

void Pump(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool OpenWithAutoRead(TfrmRTUTest& window, const QString& port) {
  window.Edit1->setText(port);
  window.Button1->click();
  if (!window.XMODEM1.Opened()) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(port));
    return false;
  }
  window.CheckBox2->setChecked(true);
  RunLoop(2500);  // the first read-all is under way
  return true;
}
