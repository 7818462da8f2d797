#include "LineWatch.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <utility>

#include "ErrorReport.h"
#include "OpenFailureHint.h"
#include "UiWait.h"
#include "rtutest.h"

TLineWatch::TLineWatch(TfrmRTUTest& form) : QObject(&form), form_(form) {
  Show(LineStateText(LineState::Closed), QString());
  timer_.setInterval(kCheckEveryMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Check(); });
  timer_.start();
}

void TLineWatch::OpenSucceeded() {
  // Only the watch's own click is a reopen: the operator may click again inside its waits.
  state_ = std::exchange(reopening_, false) ? LineState::Reopened : LineState::Open;
  watchingForReturn_ = false;
  openTexts_ = TextsNow();
  // Asked now, not when the loss is seen: by then a pseudo-terminal's node has gone with its
  // other end, and the name may already lead to a new device.
  openedNode_ = xcom::FindDeviceNode(form_.XMODEM1.DeviceName());
  Show(LineStateText(state_), QString());
  form_.StatusPanels[1]->setToolTip(HintAsToolTip(ReadBackSettingsText(form_.XMODEM1)));
}

void TLineWatch::OpenFailed(const QString& shortText, const QString& why) {
  watchingForReturn_ = false;
  if (std::exchange(reopening_, false)) {  // it came back but would not open: give up, "lost"
    Show(LineStateText(LineState::Lost), why);
    return;
  }
  state_ = LineState::Closed;
  Show(shortText, why);
}

void TLineWatch::Check() {
  if ((state_ == LineState::Open || state_ == LineState::Reopened) && form_.XMODEM1.DeviceLost())
    NoticeLoss();
  // Closing and reopening wait for the idle loop: in the middle of a command (a read-all's
  // pumps) the port must stay as the command found it.
  if (state_ != LineState::Lost || InsideCommandWait()) return;
  LetGoOfLostDevice();
  WatchForReturn();
}

void TLineWatch::NoticeLoss() {
  state_ = LineState::Lost;
  deviceName_ = form_.XMODEM1.DeviceName();
  seenGone_ = false;
  checksOnTheSameNode_ = 0;
  watchingForReturn_ = true;
  Show(LineStateText(LineState::Lost),
       QStringLiteral("串口 %1 的设备已断开（拔出或挂断）。").arg(openTexts_.port) +
           (!openedNode_ || openedNode_->NameStaysWithTheDevice()
                ? QStringLiteral("它以同一名称回来时，将以同样的设置自动重新打开。")
                : QStringLiteral("伪终端的编号会由别的程序重用，所以不会自动重新打开。")));
}

void TLineWatch::LetGoOfLostDevice() {
  if (form_.XMODEM1.Opened()) Guarded([this] { form_.XMODEM1.CloseDevice(); });
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
  if (TextsNow() != openTexts_) return;
  reopening_ = true;
  form_.Button1->click();
  reopening_ = false;
}

bool TLineWatch::ShowIfAnotherDevice(const xcom::DeviceNode& now) {
  const QString port = openTexts_.port;
  if (!now.SameOwnersAs(*openedNode_))
    Show(LineStateText(LineState::Lost),
         QStringLiteral("串口 %1 现在属于另一个用户，不会自动重新打开。").arg(port));
  else if (!now.SameAdapterAs(*openedNode_))
    Show(LineStateText(LineState::Lost),
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
  form_.StatusPanels[0]->setText(text);
  form_.StatusPanels[0]->setToolTip(HintAsToolTip(why) + HintAsToolTip(standingNote_));
}

TLineWatch::TOpenTexts TLineWatch::TextsNow() const {
  return {form_.Edit1->text(), form_.ComboBox1->currentText(), form_.ComboBox6->currentText()};
}
