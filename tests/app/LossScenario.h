#pragma once
// A cable pulled in the middle of auto-read, measured end to end with the real window: the
// window reads the module every couple of seconds, the module's pseudo-terminal goes away, the
// window goes on for a while without it, then the module comes back under a new device path,
// the operator types that path and clicks "打开串口", and the reads resume.
//
// Used by the window's tests (one pull at several moments of the read-all) and by the loss
// driver that scripts/loss-test.sh runs a hundred times.

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

#include "PtyPair.h"
#include "Simulator.h"

class TfrmRTUTest;

// How long the UI thread went without running its event loop: a 10 ms timer notes the
// longest gap between two of its ticks (a sleep, a blocked send, a click that takes long).
class StallMeter : public QObject {
 public:
  StallMeter();
  // The longest gap since the meter started, and since the last Mark().
  qint64 LongestMs() const { return longestMs_; }
  qint64 LongestSinceMarkMs() const { return sinceMarkMs_; }
  void Mark() { sinceMarkMs_ = 0; }

 private:
  void Tick();
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 lastMs_ = 0;
  qint64 longestMs_ = 0;
  qint64 sinceMarkMs_ = 0;
};

// The simulated module whose line can be pulled: one end of a pseudo-terminal, served in this
// process (closing the master is the pull) or by the kestrum-sim program (killing it is).
class PullableModule {
 public:
  virtual ~PullableModule() = default;
  virtual QString Path() const = 0;
  virtual void Pull() = 0;
};

// kestrum_sim::Simulator on a pty pair of its own; Pull() stops it and closes the master.
class InProcessModule : public PullableModule {
 public:
  explicit InProcessModule(std::array<std::uint16_t, 2> inputs);
  ~InProcessModule() override;
  QString Path() const override;
  void Pull() override;

 private:
  ptytest::PtyPair pty_;
  kestrum_sim::Simulator sim_;
};

// The kestrum-sim program on a pty of its own, also behind the fixed symbolic link `link` when
// one is given (as an operator runs it); Pull() kills it (SIGKILL: a link stays behind, stale;
// or SIGTERM, so that it closes its end and removes its link itself).
class ProcessModule : public PullableModule {
 public:
  ProcessModule(const QString& program, std::array<std::uint16_t, 2> inputs, bool hardKill,
                const QString& link = QString());
  ~ProcessModule() override;
  QString Path() const override { return path_; }
  void Pull() override;
  // Empty when the program started and told its device path.
  QString StartError() const { return startError_; }

 private:
  QProcess process_;
  QString path_;
  QString startError_;
  bool hardKill_;
};

struct LossReport {
  QString failure;            // the first requirement that did not hold; empty when all did
  qint64 longestStallMs = 0;  // from the open to the end
  qint64 longestStallAfterLossMs = 0;  // from the pull to the end (reopen included)
  int errorBoxes = 0;
  int mostBoxesAtOnce = 0;
  QStringList boxTexts;
  int sendsIntoTheLostLine = 0;  // read requests the window sent while the line was gone
};

struct LossPlan {
  int pullAfterMs = 0;   // after the first read-all was decoded
  int withoutMs = 2500;  // how long the window runs on without the module
  int boxOpenMs = 300;   // how long the operator takes to close an error box
};

// Runs one pull on `window` (fresh, port closed). `first` serves inputs 1,0 and `makeSecond`
// brings a module back with inputs 0,1 under a new path.
LossReport RunLossScenario(TfrmRTUTest& window, PullableModule& first,
                           const std::function<std::unique_ptr<PullableModule>()>& makeSecond,
                           const LossPlan& plan);

// A re-plug during auto-read: the module serving `link` (the window has it open) is killed and,
// once the window has noticed, a new one with the inputs `back` starts on the same link. Times
// from its return to the window reopening the line by itself and to the first reply decoded
// from it (both -1 when that did not happen within 5 s). `module` is the new one afterwards.
struct ReplugTimes {
  qint64 reopenedMs = -1;
  qint64 firstDecodedMs = -1;
  qsizetype linesBeforeReturn = 0;  // the log pane's lines before the module came back
  QString failure;                  // why the module could not be restarted or noticed gone
};
ReplugTimes RunReplug(TfrmRTUTest& window, std::unique_ptr<ProcessModule>& module,
                      const QString& program, const QString& link,
                      std::array<std::uint16_t, 2> back);
