#pragma once
// A window-less view and waits for the session: what it shows is recorded, and its waits sleep
// as long as asked (the module answers meanwhile) and run `duringPump` inside each pump, as the
// event loop runs the receive poll's tick there.

#include <QStringList>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "AppTestSupport.h"
#include "SessionView.h"
#include "SessionWaits.h"

class TRecordedView final : public TSessionView {
 public:
  QStringList lines;  // traffic lines without their time stamps
  std::map<int, QString> cells;
  QString openReport;

  void LogLine(const QString& line) override {
    const QString traffic = TrafficPart(line);
    lines << (traffic.isEmpty() ? line : traffic);
  }
  void ShowChannelValue(int row, const QString& text) override { cells[row] = text; }
  void ReportOpened(const TPortTexts& texts) override { openReport = texts.port; }
  void ReportOpenFailure(const QString&, const QString& why, const QString&) override {
    openReport = why;
  }
};

class TRecordedWaits final : public TSessionWaits {
 public:
  QStringList steps;
  std::function<void()> duringPump;

  void Sleep(int milliseconds) override {
    steps << QStringLiteral("sleep %1").arg(milliseconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  void ProcessMessages() override {
    steps << QStringLiteral("pump");
    ++depth_;
    if (duringPump) duringPump();
    --depth_;
  }
  bool InsideWait() const override { return depth_ > 0; }

 private:
  int depth_ = 0;
};
