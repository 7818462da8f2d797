#include "BenchWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

bool OpenQuietly(TfrmRTUTest& window, const QString& port) {
  TPortTexts texts = window.PortTexts();
  texts.port = port;
  window.ApplyPortTexts(texts);
  window.OpenPort();
  if (!window.Port().Opened()) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(port));
    return false;
  }
  RunLoop(1000);  // the control-mode frame's answer is taken
  return true;
}

void StartAutoRead(TfrmRTUTest& window) {
  window.SetAutoRead(true);
  RunLoop(2500);  // the first read-all is under way
}

bool OpenWithAutoRead(TfrmRTUTest& window, const QString& port) {
  if (!OpenQuietly(window, port)) return false;
  StartAutoRead(window);
  return true;
}
