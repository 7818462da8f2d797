#include "RtuSession.h"

#include <exception>

#include "GbkText.h"
#include "HexText.h"
#include "LineSettingText.h"
#include "LogTimeStamp.h"
#include "OpenFailureHint.h"
#include "RequestFrames.h"
#include "ResponseText.h"
#include "SlaveAddress.h"

using namespace modbus;  // the protocol layer
using namespace xcom;

TRtuSession::TRtuSession(TXComm& port, TSessionView& view, TSessionWaits& waits)
    : port_(port), view_(view), waits_(waits) {}

// ---------------------------------------------------------------------------------------------
// Open

void TRtuSession::OpenPort(const TPortTexts& texts) {
  DeviceMode = -1;
  // Closing stands outside the guard below: its failure goes to the caller's error report.
  if (port_.Opened()) port_.CloseDevice();
  replyReader_.Reset();  // nothing sent before an open waits for a reply after it
  try {
    ApplyTexts(texts);
    port_.OpenDevice();
    if (port_.Opened()) {
      view_.ReportOpened(texts);
      SwitchToControlMode();
    } else {
      const OpenFailureInfo failure = port_.OpenFailureReason();
      view_.ReportOpenFailure(texts.port, OpenFailureHint(texts.port, failure),
                              OpenFailureShortText(failure, false));
    }
  } catch (const std::exception& error) {
    ReportOpenError(texts.port, error.what());
  } catch (...) {
    ReportOpenError(texts.port, "Unknown error");
  }
}

void TRtuSession::ApplyTexts(const TPortTexts& texts) {
  port_.SetDeviceName(texts.port.toStdString());
  port_.SetBaudRate(br9600);
  if (const auto choice = BaudRateFromText(texts.baud.toStdString())) {
    port_.SetBaudRate(choice->custom ? brCustom : BaudRateMemberOf(choice->rate));
    if (choice->custom) port_.SetBaudValue(choice->rate);
  }
  // Character format: the first three characters, each on its own; a missing one, like any
  // other character, leaves its setting as it was. Characters, not UTF-16 units: an emoji or
  // another character beyond the BMP counts as one.
  const CharacterFormat format = CharacterFormatFromText(texts.format.left(6).toStdU32String());
  if (format.dataBits) port_.DataControl().SetDataBits(*format.dataBits == 7 ? db7 : db8);
  if (format.parity)
    port_.DataControl().SetParity(*format.parity == FormatParity::None   ? paNone
                                  : *format.parity == FormatParity::Even ? paEven
                                                                         : paOdd);
  if (format.stopBits) port_.DataControl().SetStopBits(*format.stopBits == 2 ? sb2 : sb1);
}

void TRtuSession::ReportOpenError(const QString& port, const std::string& message) {
  view_.ReportOpenFailure(port, OpenErrorHint(port, port_.Opened(), message),
                          OpenFailureShortText(LastOpenFailure(), port_.Opened()));
}

void TRtuSession::SetSlaveAddress(const QString& text) {
  if (const auto address = SlaveAddressFromText(text.toStdString())) SlaveAddress = *address;
}

// ---------------------------------------------------------------------------------------------
// Send path and mode switches

void TRtuSession::SendAndLog(const xcom::ByteString& frame) {
  // What is waiting now came before this frame left: it answers what was sent before.
  const std::size_t queuedBefore = port_.Opened() ? port_.QueueCount(0) : 0;
  const bool whole = port_.SendString(frame);
  replyReader_.Sent(frame, whole, queuedBefore);
  // A short write is logged all the same, and says so.
  view_.LogLine(LogTimeStamp() + QStringLiteral(" 发送：") +
                QString::fromStdString(BytesToHexText(frame)) +
                (whole ? QString() : QStringLiteral("（未完整发出）")));
}

void TRtuSession::SwitchToMode(int mode) {
  if (DeviceMode == mode) return;
  DeviceMode = mode;
  SendAndLog(ModeFrame(mode));
  waits_.Sleep(500);
  waits_.ProcessMessages();
}

void TRtuSession::SwitchToControlMode() {
  SwitchToMode(kControlMode);
}

void TRtuSession::SwitchToDataCenterMode() {
  SwitchToMode(kDataCenterMode);
}

// ---------------------------------------------------------------------------------------------
// Commands

void TRtuSession::ReadAll() {
  ReadingOutputs = false;
  waits_.Sleep(200);
  SendRead(kReadInputs);
  waits_.Sleep(200);
  for (int i = 0; i < 10; ++i) {
    waits_.Sleep(5);
    waits_.ProcessMessages();  // the receive poll takes the input block's reply in here
  }
  ReadingOutputs = true;
  waits_.Sleep(200);
  SendRead(kReadRelays);
  waits_.Sleep(200);
}

void TRtuSession::SendRead(const RegisterRead& read) {
  SendAndLog(ReadRequest(SlaveAddress, read));
}

void TRtuSession::SwitchRelay(std::uint8_t relayRegister, bool on, bool waitAround) {
  if (waitAround) waits_.Sleep(200);
  SwitchToControlMode();
  SendAndLog(RelayRequest(SlaveAddress, relayRegister, on));
  if (waitAround) waits_.Sleep(200);
}

void TRtuSession::SendFreeText(const QString& text) {
  SwitchToDataCenterMode();
  SendAndLog(GbkBytesOf(text.toStdString()));
}

// ---------------------------------------------------------------------------------------------
// Receive poll

void TRtuSession::Poll() {
  if (!port_.Opened()) return;
  xcom::ByteString block;
  if (port_.ReadString(block)) {
    waits_.Sleep(60);  // bytes still on their way join this block
    xcom::ByteString rest;
    port_.ReadString(rest);
    block.insert(block.end(), rest.begin(), rest.end());
  }
  const ReplyReader::Result received =
      replyReader_.Read(block, {static_cast<std::uint8_t>(SlaveAddress), ReadingOutputs});
  if (received.logged)
    view_.LogLine(LogTimeStamp() + QStringLiteral(" 接收：") +
                  QString::fromStdString(BytesToHexText(block)));
  for (const DecodedResponse& decoded : received.shown) Show(decoded);
}

void TRtuSession::Show(const DecodedResponse& decoded) {
  const TResponseText text = ResponseText(decoded);
  if (!text.errorLine.isEmpty()) view_.LogLine(text.errorLine);
  for (const TChannelText& channel : text.channels) {
    view_.LogLine(channel.logLine);
    if (channel.row != kNoRow) view_.ShowChannelValue(channel.row, channel.cellText);
  }
}

void TRtuSession::LetGoOfPort() {
  if (port_.Opened()) port_.CloseDevice();
}
