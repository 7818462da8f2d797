#include "LossScenario.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <algorithm>

#include "AppTestSupport.h"
#include "LineWatch.h"
#include "LogPane.h"

// ---------------------------------------------------------------------------------------------
// StallMeter

StallMeter::StallMeter() {
  clock_.start();
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  timer_.start();
}

void StallMeter::Tick() {
  const qint64 now = clock_.elapsed();
  const qint64 gap = now - lastMs_;
  lastMs_ = now;
  longestMs_ = std::max(longestMs_, gap);
  sinceMarkMs_ = std::max(sinceMarkMs_, gap);
}

// ---------------------------------------------------------------------------------------------
// Modules

namespace {

kestrum_sim::Simulator::Options WithInputs(std::array<std::uint16_t, 2> inputs) {
  kestrum_sim::Simulator::Options options;
  options.module.inputs = inputs;
  return options;
}

}  // namespace

InProcessModule::InProcessModule(std::array<std::uint16_t, 2> inputs) : sim_(WithInputs(inputs)) {
  sim_.Start(pty_.MasterFd());
}

InProcessModule::~InProcessModule() {
  sim_.Stop();
}

QString InProcessModule::Path() const {
  return QString::fromStdString(pty_.SlavePath());
}

void InProcessModule::Pull() {
  sim_.Stop();         // the module's thread lets go of the master first
  pty_.CloseMaster();  // then the line goes dead: the window's side hangs up
  pty_.CloseSlave();   // and the pty's number is free again once the window lets go
}

ProcessModule::ProcessModule(const QString& program, std::array<std::uint16_t, 2> inputs,
                             bool hardKill, const QString& link)
    : hardKill_(hardKill) {
  process_.setProcessChannelMode(QProcess::SeparateChannels);
  process_.setStandardErrorFile(QProcess::nullDevice());
  QStringList arguments = {QStringLiteral("--pty"), QStringLiteral("--di"),
                           QStringLiteral("%1,%2").arg(inputs[0]).arg(inputs[1])};
  if (!link.isEmpty()) arguments << QStringLiteral("--link") << link;
  process_.start(program, arguments);
  if (!process_.waitForStarted(5000)) {
    startError_ = QStringLiteral("cannot start %1: %2").arg(program, process_.errorString());
    return;
  }
  // The first line on its standard output is the device path, once it serves it.
  QElapsedTimer clock;
  clock.start();
  while (!process_.canReadLine() && clock.elapsed() < 5000) process_.waitForReadyRead(100);
  path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
  if (path_.isEmpty()) startError_ = QStringLiteral("%1 told no device path").arg(program);
}

ProcessModule::~ProcessModule() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

void ProcessModule::Pull() {
  if (hardKill_)
    process_.kill();
  else
    process_.terminate();
  process_.waitForFinished(5000);
}

// ---------------------------------------------------------------------------------------------
// The scenario

namespace {

QStringList ChannelCells(const TfrmRTUTest& window) {
  return {Cell(window, 1), Cell(window, 2), Cell(window, 4), Cell(window, 5)};
}

}  // namespace

LossReport RunLossScenario(TfrmRTUTest& window, PullableModule& first,
                           const std::function<std::unique_ptr<PullableModule>()>& makeSecond,
                           const LossPlan& plan) {
  LossReport report;
  const auto fail = [&report](const QString& why) {
    if (report.failure.isEmpty()) report.failure = why;
  };
  // Error boxes stay open a moment, as with a person in front of them; events go on meanwhile,
  // as under a modal box.
  int boxesOpen = 0;
  TErrorReport::SetPresenter([&](const QString&, const QString& text) {
    ++report.errorBoxes;
    report.boxTexts << text;
    report.mostBoxesAtOnce = std::max(report.mostBoxesAtOnce, ++boxesOpen);
    QTest::qWait(plan.boxOpenMs);
    --boxesOpen;
  });
  struct RestorePresenter {
    ~RestorePresenter() { TErrorReport::SetPresenter({}); }
  } restorePresenter;

  StallMeter meter;
  OpenPort(window, first.Path());
  if (!window.Port().Opened()) {
    fail(QStringLiteral("the first open failed: ") + window.StatusText(1));
    return report;
  }
  window.SetAutoRead(true);
  const QStringList firstValues = {QStringLiteral("01 "), QStringLiteral("00 "),
                                   QStringLiteral("00 "), QStringLiteral("00 ")};
  if (!WaitUntil([&] { return ChannelCells(window) == firstValues; }, 10000))
    fail(QStringLiteral("no read-all decoded before the pull"));
  QTest::qWait(plan.pullAfterMs);

  // The pull.
  const QStringList cellsBefore = ChannelCells(window);
  const qsizetype linesBefore = window.LogPane().lineCount();
  meter.Mark();
  first.Pull();
  QTest::qWait(plan.withoutMs);
  if (ChannelCells(window) != cellsBefore)
    fail(QStringLiteral("the status list changed while the line was gone"));
  for (qsizetype line = linesBefore; line < window.LogPane().lineCount(); ++line)
    if (window.LogPane().lineText(line).contains(QStringLiteral(" 发送：")))
      ++report.sendsIntoTheLostLine;

  // The module is back under another name: the operator types it and clicks "打开串口".
  const std::unique_ptr<PullableModule> second = makeSecond();
  Control<QLineEdit>(window, "Edit1")->setText(second->Path());
  Control<QPushButton>(window, "Button1")->click();
  if (!window.Port().Opened())
    fail(QStringLiteral("the reopen failed: ") + window.StatusText(1));
  else if (!window.StatusText(1).startsWith(second->Path() +
                                            QStringLiteral("打开成功,BaudRate=9600")))
    fail(QStringLiteral("the reopen showed ") + window.StatusText(1));
  const QStringList secondValues = {QStringLiteral("00 "), QStringLiteral("01 "),
                                    QStringLiteral("00 "), QStringLiteral("00 ")};
  if (!WaitUntil([&] { return ChannelCells(window) == secondValues; }, 10000))
    fail(QStringLiteral("the auto-read did not resume on the new line"));
  window.SetAutoRead(false);

  report.longestStallMs = meter.LongestMs();
  report.longestStallAfterLossMs = meter.LongestSinceMarkMs();
  // One send time-out (Buffers.OutputTimeout) is the most the window may stay blocked.
  if (report.longestStallAfterLossMs >= 5000)
    fail(QStringLiteral("the window was blocked for %1 ms").arg(report.longestStallAfterLossMs));
  if (report.mostBoxesAtOnce > 1)
    fail(QStringLiteral("%1 error boxes were open at once").arg(report.mostBoxesAtOnce));
  return report;
}

// ---------------------------------------------------------------------------------------------
// A re-plug on a fixed link

ReplugTimes RunReplug(TfrmRTUTest& window, std::unique_ptr<ProcessModule>& module,
                      const QString& program, const QString& link,
                      std::array<std::uint16_t, 2> back) {
  ReplugTimes times;
  module->Pull();
  if (!WaitUntil([&] { return window.LineState() == TLineState::Lost; }, 3000)) {
    times.failure = QStringLiteral("the loss was not noticed");
    return times;
  }
  times.linesBeforeReturn = window.LogPane().lineCount();
  const auto cell = [](std::uint16_t value) {
    return QStringLiteral("%1 ").arg(value, 2, 16, QLatin1Char('0')).toUpper();
  };
  const QStringList backValues = {cell(back[0]), cell(back[1])};
  // Both moments are noted as they happen, also inside a command's pumps: the reopen at its
  // mode frame's log line, the first decoded reply at the status list's change.
  QElapsedTimer sinceReturn;
  QObject watcher;
  QObject::connect(&window.LogPane(), &TLogPane::lineCountChanged, &watcher, [&] {
    if (times.reopenedMs < 0 && sinceReturn.isValid() && window.LineState() == TLineState::Reopened)
      times.reopenedMs = sinceReturn.elapsed();
  });
  QObject::connect(Control<QTableWidget>(window, "ListView1"), &QTableWidget::itemChanged, &watcher,
                   [&] {
                     if (times.firstDecodedMs < 0 && sinceReturn.isValid() &&
                         QStringList{Cell(window, 1), Cell(window, 2)} == backValues)
                       times.firstDecodedMs = sinceReturn.elapsed();
                   });
  module = std::make_unique<ProcessModule>(program, back, true, link);
  sinceReturn.start();
  if (!module->StartError().isEmpty()) {
    times.failure = module->StartError();
    return times;
  }
  WaitUntil([&] { return times.reopenedMs >= 0 && times.firstDecodedMs >= 0; }, 5000);
  return times;
}
