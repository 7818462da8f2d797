#include "ModuleCommands.h"

#include <algorithm>

#include "HexText.h"
#include "ModuleModel.h"
#include "RequestFrames.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

// A result that carries the exchange's outcome: its round trip, its error and exit code.
Result ResultOf(const Exchange& exchange) {
  Result result;
  if (exchange.status == Exchange::Status::Reply || exchange.status == Exchange::Status::Exception)
    result.roundTripMs = exchange.roundTripMs;
  result.error = exchange.error;
  result.code = CodeOf(exchange);
  return result;
}

// A read's result without its values: the exchange's outcome, and a reply that does not hold
// exactly the registers read refused.
Result ReadResultOf(const Exchange& exchange, const RegisterRead& read) {
  Result result = ResultOf(exchange);
  result.command = "read";
  if (exchange.status != Exchange::Status::Reply) return result;
  if (exchange.reply.size() != ReplySize(read) || exchange.reply[2] != ReplyDataBytes(read)) {
    result.error = "unexpected reply " + BytesToHexText(exchange.reply);
    result.code = ExitCode::Failed;
  }
  return result;
}

// A result that stands for a try that did not bring trusted replies.
Result OutOfStep(Result result, bool stopped, unsigned tries) {
  result.values.clear();
  result.roundTripMs.reset();
  if (stopped) {
    result.error = "interrupted";
    result.code = ExitCode::Interrupted;
    return result;
  }
  if (result.code == ExitCode::Success)
    result.error = "replies out of step: no run of replies in step with its requests in " +
                   std::to_string(tries) + (tries == 1 ? " try" : " tries");
  result.code = ExitCode::NoReply;
  return result;
}

}  // namespace

std::string RelayStepText(int relay, bool on) {
  return "relay " + std::to_string(relay) + (on ? " on" : " off");
}

std::string ModeStepText(int mode) {
  return mode == kControlMode ? "mode control" : "mode data-centre";
}

ExitCode CodeOf(const Exchange& exchange) {
  switch (exchange.status) {
    case Exchange::Status::Reply:
      return ExitCode::Success;
    case Exchange::Status::Exception:
      return ExitCode::Failed;
    case Exchange::Status::NoReply:
    case Exchange::Status::OutOfStep:
      return ExitCode::NoReply;
    case Exchange::Status::DeviceLost:
      return ExitCode::DeviceLost;
    case Exchange::Status::Interrupted:
      break;
  }
  return ExitCode::Interrupted;
}

// kestrum reports each register whole (the window shows its low byte): a script sees every
// value the module holds.
ModuleCommands::Try ModuleCommands::ReadOnce(std::span<const RegisterRead> reads) {
  Try all;
  all.result.command = "read";
  for (const RegisterRead& read : reads) {
    const Exchange exchange = master_.Transact(ReadRequest(address_, read));
    Try one{ReadResultOf(exchange, read), exchange.status == Exchange::Status::OutOfStep};
    if (one.result.code != ExitCode::Success) return one;
    const std::vector<std::uint16_t> registers = RegistersOf(exchange.reply, read.count);
    for (std::size_t i = 0; i < registers.size(); ++i)
      all.result.values.emplace_back(ChannelName(static_cast<std::uint16_t>(read.start + i)),
                                     registers[i]);
    all.result.roundTripMs = all.result.roundTripMs.value_or(0) + *one.result.roundTripMs;
  }
  return all;
}

template <typename TryOnce>
Result ModuleCommands::InStep(TryOnce tryOnce) {
  master_.BeginRun();
  for (unsigned tried = 1;; ++tried) {
    Try attempt = tryOnce();
    const bool answered = attempt.result.code == ExitCode::Success;
    if (!answered && !attempt.outOfStep) return attempt.result;
    if (answered && master_.ConfirmRun()) return attempt.result;
    if (tried >= tries_ || master_.PastDeadline() || master_.Stopped())
      return OutOfStep(attempt.result, master_.Stopped(), tried);
  }
}

Result ModuleCommands::Read(const RegisterRead& read) {
  return Read(std::span(&read, 1));
}

Result ModuleCommands::Read(std::span<const RegisterRead> reads) {
  return InStep([&] { return ReadOnce(reads); });
}

ModuleCommands::Try ModuleCommands::WriteOnce(std::uint8_t reg, std::uint16_t value) {
  const xcom::ByteString request = WriteRegisterRequest(address_, reg, value);
  const Exchange exchange = master_.Transact(request);
  Try written{ResultOf(exchange), exchange.status == Exchange::Status::OutOfStep};
  if (exchange.status != Exchange::Status::Reply) return written;
  // The echo repeats address, function, start register and register count.
  if (exchange.reply.size() != 8 ||
      !std::equal(request.begin(), request.begin() + 6, exchange.reply.begin())) {
    written.result.error = "the module's echo " + BytesToHexText(exchange.reply) + "does not match";
    written.result.code = ExitCode::Failed;
  }
  return written;
}

Result ModuleCommands::Write(std::uint8_t reg, std::uint16_t value) {
  return InStep([&] { return WriteOnce(reg, value); });
}

Result ModuleCommands::SwitchRelay(int relay, bool on) {
  Result result = Write(RelayRegister(relay), on ? 1 : 0);
  result.command = "relay";
  result.step = RelayStepText(relay, on);
  return result;
}

void ModuleCommands::WakeWithControlMode() {
  master_.SetWakeFrame(ModeFrame(kControlMode));
}

Result ModuleCommands::SendMode(int mode) {
  Result result;
  result.command = "mode";
  result.step = ModeStepText(mode);
  if (master_.Stopped()) {
    result.error = "interrupted";
    result.code = ExitCode::Interrupted;
    return result;
  }
  if (master_.Send(ModeFrame(mode))) return result;
  if (master_.DeviceLost()) {
    result.error = "device lost";
    result.code = ExitCode::DeviceLost;
  } else {
    result.error = "the mode frame could not be sent within the time-out";
    result.code = ExitCode::NoReply;
  }
  return result;
}

}  // namespace kestrum
