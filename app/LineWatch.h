#pragma once
// Watches the open line for the operator: status-bar panel 0 shows its state (closed, open,
// lost, reopened, or why the last open failed), panel 1's tooltip what the device runs at.
//
// A device that goes away (an adapter pulled, the far end of a pseudo-terminal closed) is
// noticed within a fifth of a second of the line hanging up or a write failing, with no
// message box. Its handle is then let go, once no command is running, so that the system can
// give the returning device the same name again. When a device appears again under the name
// that was open, the line is reopened as a click on "打开串口" with the same texts would,
// unless the operator has clicked "打开串口" since or changed those texts, or the name now leads
// to another user's node or another adapter. If the device does not come back, nothing more
// happens: panel 0 stays "lost".

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "DeviceNode.h"
#include "LineState.h"
#include "PortTexts.h"

class QLabel;
class QTimer;
class TRtuSession;

class TLineWatch : public QObject {
 public:
  // `statePanel` and `settingsPanel` are status-bar panels 0 and 1; `textsNow` gives the port,
  // rate and format texts as they stand, which a reopen must still match. The watch looks at
  // the line on every kCheckEveryMs / interval-th tick of `pollTimer` (the receive poll's
  // timer): a quiet window then wakes for the poll only, not for the watch as well.
  TLineWatch(TRtuSession& session, QLabel& statePanel, QLabel& settingsPanel,
             std::function<TPortTexts()> textsNow, const QTimer& pollTimer, QObject* parent);

  // The open-port command reports its outcome here (`why`: the full sentence).
  void OpenSucceeded();
  void OpenFailed(const QString& shortText, const QString& why);

  TLineState State() const { return state_; }

  // A remark that stays in panel 0's tooltip, under the state's own sentence, whatever the
  // state becomes (a log file that cannot be written).
  void AddStandingNote(const QString& sentence);

  static constexpr int kCheckEveryMs = 200;

 private:
  void CountTick(const QTimer& pollTimer);
  // A loss to notice, or a lost device to let go of and watch for.
  bool HasWork() const;
  void Check();
  void NoticeLoss();
  void LetGoOfLostDevice();
  void WatchForReturn();
  // Panel 0 tells when the name now leads to another user's node or another adapter; false
  // then.
  bool ShowIfAnotherDevice(const xcom::DeviceNode& now);
  void Show(const QString& text, const QString& why);

  TRtuSession& session_;
  QLabel& statePanel_;
  QLabel& settingsPanel_;
  std::function<TPortTexts()> textsNow_;
  int ticksSinceCheck_ = 0;
  TLineState state_ = TLineState::Closed;
  bool reopening_ = false;
  QString shownText_, shownWhy_, standingNote_;
  // While lost: what was open, and what has been seen of its name since.
  bool watchingForReturn_ = false;
  TPortTexts openTexts_;
  std::string deviceName_;
  std::optional<xcom::DeviceNode> openedNode_;  // what the name led to when it was opened
  bool seenGone_ = false;
  int checksOnTheSameNode_ = 0;
  static constexpr int kChecksBeforeTheSameNodeIsBack = 5;
};
