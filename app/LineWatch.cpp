#include "LineWatch.h"

#include <QLabel>
#include <QTimer>
#include <utility>

#include "DeviceSettingsText.h"
#include "ErrorReport.h"
#include "OpenFailureHint.h"
#include "RtuSession.h"

TLineWatch::TLineWatch(TRtuSession& session, QLabel& statePanel, QLabel& settingsPanel,
                       std::function<TPortTexts()> textsNow, const QTimer& pollTimer,
                       QObject* parent)
    : QObject(parent),
      session_(session),
      statePanel_(statePanel),
      settingsPanel_(settingsPanel),
      textsNow_(std::move(textsNow)) {
  Show(LineStateText(TLineState::Closed), QString());
  connect(&pollTimer, &QTimer::timeout, this, [this, &pollTimer] { CountTick(pollTimer); });
}

void TLineWatch::CountTick(const QTimer& pollTimer) {
  if (++ticksSinceCheck_ * pollTimer.interval() < kCheckEveryMs) return;
  ticksSinceCheck_ = 0;
  // A line that is open and well, or closed, needs nothing: the quiet window does no more.
  if (!HasWork()) return;
  // Queued, so that the check runs after the tick, in the same wake-up: a reopen's waits then
  // pump the receive poll's ticks as they would from the watch's own timer (a timer does not
  // tick inside its own tick).
  QMetaObject::invokeMethod(
      this, [this] { Check(); }, Qt::QueuedConnection);
}

bool TLineWatch::HasWork() const {
  const bool open = state_ == TLineState::Open || state_ == TLineState::Reopened;
  return (open && session_.Port().DeviceLost()) || state_ == TLineState::Lost;
}

void TLineWatch::OpenSucceeded() {
  // Only the watch's own open is a reopen: the operator may click again inside its waits.
  state_ = std::exchange(reopening_, false) ? TLineState::Reopened : TLineState::Open;
  watchingForReturn_ = false;
  openTexts_ = textsNow_();
  // Asked now, not when the loss is seen: by then a pseudo-terminal's node has gone with its
  // other end, and the name may already lead to a new device.
  openedNode_ = xcom::FindDeviceNode(session_.Port().DeviceName());
  Show(LineStateText(state_), QString());
  settingsPanel_.setToolTip(HintAsToolTip(ReadBackSettingsText(session_.Port())));
}

void TLineWatch::OpenFailed(const QString& shortText, const QString& why) {
  watchingForReturn_ = false;
  if (std::exchange(reopening_, false)) {  // it came back but would not open: give up, "lost"
    Show(LineStateText(TLineState::Lost), why);
    return;
  }
  state_ = TLineState::Closed;
  Show(shortText, why);
}

void TLineWatch::Check() {
  if ((state_ == TLineState::Open || state_ == TLineState::Reopened) &&
      session_.Port().DeviceLost())
    NoticeLoss();
  // Closing and reopening wait for the idle loop: in the middle of a command (a read-all's
  // pumps) the port must stay as the command found it.
  if (state_ != TLineState::Lost || session_.InsideCommandWait()) return;
  LetGoOfLostDevice();
  WatchForReturn();
}

void TLineWatch::NoticeLoss() {
  state_ = TLineState::Lost;
  deviceName_ = session_.Port().DeviceName();
  seenGone_ = false;
  checksOnTheSameNode_ = 0;
  watchingForReturn_ = true;
  Show(LineStateText(TLineState::Lost),
       QStringLiteral("串口 %1 的设备已断开（拔出或挂断）。").arg(openTexts_.port) +
           (!openedNode_ || openedNode_->NameStaysWithTheDevice()
                ? QStringLiteral("它以同一名称回来时，将以同样的设置自动重新打开。")
                : QStringLiteral("伪终端的编号会由别的程序重用，所以不会自动重新打开。")));
}

void TLineWatch::LetGoOfLostDevice() {
  if (session_.Port().Opened()) Guarded([this] { session_.LetGoOfPort(); });
}

void TLineWatch::WatchForReturn() {
  if (!watchingForReturn_) return;
  // Nothing under the name, or something that is no serial line (/dev/null for a moment):
  // the device is not back yet.
  const xcom::SerialDeviceCheck now = xcom::CheckSerialDevice(deviceName_);
  if (!now.node) {
    seenGone_ = true;
    return;
  }
  // The lost device's own node may linger until its last user lets go. One that stays a
  // second after that never went away (a one-off error of a device still plugged in): it is
  // reopened like a device that came back.
  if (!seenGone_ && openedNode_ && now.node->SameNodeAs(*openedNode_) &&
      ++checksOnTheSameNode_ < kChecksBeforeTheSameNodeIsBack)
    return;
  // A bare pseudo-terminal number taken again belongs to whichever program asked next, and so
  // does one behind a link its maker no longer holds: opening it would write this window's
  // frames into someone else's line.
  if (!now.node->NameStaysWithTheDevice()) return;
  if (openedNode_ && !ShowIfAnotherDevice(*now.node)) return;
  // The operator has typed other texts: the reopen would not be the same click.
  if (textsNow_() != openTexts_) return;
  // As the operator's click would: an error the open does not report itself goes to the box.
  reopening_ = true;
  Guarded([this] { session_.OpenPort(openTexts_); });
  reopening_ = false;
}

bool TLineWatch::ShowIfAnotherDevice(const xcom::DeviceNode& now) {
  const QString port = openTexts_.port;
  if (!now.SameOwnersAs(*openedNode_))
    Show(LineStateText(TLineState::Lost),
         QStringLiteral("串口 %1 现在属于另一个用户，不会自动重新打开。").arg(port));
  else if (!now.SameAdapterAs(*openedNode_))
    Show(LineStateText(TLineState::Lost),
         QStringLiteral("串口 %1 现在是另一个设备，不会自动重新打开。").arg(port));
  else
    return true;
  return false;
}

void TLineWatch::AddStandingNote(const QString& sentence) {
  standingNote_ = sentence;
  Show(shownText_, shownWhy_);
}

void TLineWatch::Show(const QString& text, const QString& why) {
  shownText_ = text;
  shownWhy_ = why;
  statePanel_.setText(text);
  statePanel_.setToolTip(HintAsToolTip(why) + HintAsToolTip(standingNote_));
}
