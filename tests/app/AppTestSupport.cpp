#include "AppTestSupport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QTableWidget>

#include "LogPane.h"
#include "LogTimeStamp.h"

SimulatedModuleOnPty::SimulatedModuleOnPty(const kestrum_sim::Simulator::Options& options)
    : pty_(options.line), sim_(options) {
  sim_.Start(pty_.MasterFd());
}

SimulatedModuleOnPty::~SimulatedModuleOnPty() {
  sim_.Stop();
}

QString SimulatedModuleOnPty::Path() const {
  return QString::fromStdString(pty_.SlavePath());
}

void OpenPort(TfrmRTUTest& window, const QString& path, const QString& baud,
              const QString& format) {
  window.ApplyPortTexts({path, baud, format});
  window.OpenPort();
}

QStringList LogLines(const TfrmRTUTest& window) {
  const QString text = window.LogPane().toPlainText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QString TrafficPart(const QString& line, int withinSeconds) {
  for (const QString& marker : {QStringLiteral(" 发送："), QStringLiteral(" 接收：")}) {
    const qsizetype at = line.indexOf(marker);
    if (at <= 0) continue;
    const QString stamp = line.left(at);
    // The stamp must be the system's short date and long time (without a zone) of a recent
    // second.
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    for (int back = 0; back <= withinSeconds; ++back) {
      const QDateTime then = now.addSecs(-back);
      if (stamp == LogTimeStamp(locale, then)) return line.mid(at);
    }
  }
  return QString();
}

QStringList LogTail(const TfrmRTUTest& window, int first) {
  QStringList tail;
  const QStringList lines = LogLines(window);
  for (qsizetype i = first; i < lines.size(); ++i) {
    const QString traffic = TrafficPart(lines[i]);
    tail << (traffic.isEmpty() ? lines[i] : traffic);
  }
  return tail;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  return testsupport::WaitUntil(condition, std::chrono::milliseconds(timeoutMs),
                                [] { QTest::qWait(10); });
}

QString Cell(const TfrmRTUTest& window, int row) {
  const QTableWidgetItem* item = Control<QTableWidget>(window, "ListView1")->item(row, 1);
  return item ? item->text() : QString();
}

ErrorBoxRecorder::ErrorBoxRecorder(int openMs) : openMs_(openMs) {
  TErrorReport::SetPresenter([this](const QString& title, const QString& text) {
    titles << title;
    texts << text;
    if (whileOpen) {
      auto once = std::move(whileOpen);
      whileOpen = nullptr;
      once();
    }
    if (openMs_ > 0) QTest::qWait(openMs_);
  });
}

ErrorBoxRecorder::~ErrorBoxRecorder() {
  TErrorReport::SetPresenter({});
}
