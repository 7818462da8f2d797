#pragma once
// The session between the form and the port: the port, the protocol state, the reply reader,
// the send-and-log path and the command sequences (open, read-all, relay, mode, free text, the
// receive poll). It shows what happens through a TSessionView and waits through a
// TSessionWaits, so the sequences run without a window.
//
// What may run inside a command's waits (re-entrancy):
// - A Sleep runs nothing of the session: ticks and clicks wait, queued, for the next pump. The
//   window still repaints.
// - A ProcessMessages runs every pending tick and click to its end before the command goes
//   on. The read-all relies on this: the receive poll takes the input block's reply inside its
//   pumps, while ReadingOutputs is still false.
// - Any command may so run inside another (a click on a relay button during a read-all, the
//   auto-read's tick during a relay's wait, even the open-port command). The inner command
//   finds the protocol state as the outer left it, and the outer goes on with the state the
//   inner left: SlaveAddress, DeviceMode and ReadingOutputs are neither saved nor restored, as
//   the design has it, and the reply reader attributes replies by the order requests left in.
// - Nothing else closes or reopens the port: work that would (letting a lost device go,
//   reopening it) waits until InsideCommandWait() is false, so a command finds the port as it
//   left it at every point but its own open.
// - The auto-read does not run inside itself: its timer stops while its read-all runs.
// Errors of a command (the port not open, a failed write) leave it as exceptions, for the
// caller's error report; only the open-port command turns its own errors into a report.

#include <QString>
#include <cstdint>

#include "ByteString.h"
#include "PortTexts.h"
#include "ReplyReader.h"
#include "SessionView.h"
#include "SessionWaits.h"
#include "XComDrv.h"

class TRtuSession {
 public:
  TRtuSession(xcom::TXComm& port, TSessionView& view, TSessionWaits& waits);
  TRtuSession(const TRtuSession&) = delete;
  TRtuSession& operator=(const TRtuSession&) = delete;

  // Protocol state, named as designed.
  std::int32_t SlaveAddress = 100;
  std::int32_t DeviceMode = -1;  // -1 not yet set, 0 control mode, 1 data-centre mode
  bool ReadingOutputs = false;

  // Closes an open port, applies the texts, opens, and on success puts the module into control
  // mode. The outcome goes to the view; only the close's failure leaves as an exception.
  void OpenPort(const TPortTexts& texts);
  // A text that is no number changes nothing, silently.
  void SetSlaveAddress(const QString& text);
  // The inputs' read, the pumps in which its reply is read, then the relays' read.
  void ReadAll();
  // One of the module's reads (ModuleModel.h); its reply shows when the receive poll takes it.
  void SendRead(const modbus::RegisterRead& read);
  // Relay registers 0x14..0x17; `waitAround`: 200 ms before and after, as relays 1 and 2 have.
  void SwitchRelay(std::uint8_t relayRegister, bool on, bool waitAround);
  // Data-centre mode, then the text in GBK.
  void SendFreeText(const QString& text);
  // The receive poll: what the port holds, logged, and what it answers shown.
  void Poll();

  void SendAndLog(const xcom::ByteString& frame);
  void SwitchToControlMode();
  void SwitchToDataCenterMode();

  // Lets go of a lost device (a close, when open).
  void LetGoOfPort();
  bool InsideCommandWait() const { return waits_.InsideWait(); }
  xcom::TXComm& Port() { return port_; }

 private:
  void ApplyTexts(const TPortTexts& texts);
  void ReportOpenError(const QString& port, const std::string& message);
  void SwitchToMode(int mode);
  void Show(const modbus::DecodedResponse& decoded);

  xcom::TXComm& port_;
  TSessionView& view_;
  TSessionWaits& waits_;
  // The requests still waiting for a reply, and what each received block means.
  modbus::ReplyReader replyReader_;
};
