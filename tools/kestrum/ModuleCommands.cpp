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
Result ModuleCommands::Read(const RegisterRead& read) {
  const Exchange exchange = master_.Transact(ReadRequest(address_, read));
  Result result = ReadResultOf(exchange, read);
  if (result.code != ExitCode::Success) return result;
  const std::vector<std::uint16_t> registers = RegistersOf(exchange.reply, read.count);
  for (std::size_t i = 0; i < registers.size(); ++i)
    result.values.emplace_back(ChannelName(static_cast<std::uint16_t>(read.start + i)),
                               registers[i]);
  return result;
}

Result ModuleCommands::Read(std::span<const RegisterRead> reads) {
  Result all = Read(reads.front());
  for (const RegisterRead& read : reads.subspan(1)) {
    if (all.code != ExitCode::Success) break;
    const Result next = Read(read);
    if (next.code != ExitCode::Success) return next;
    all.values.insert(all.values.end(), next.values.begin(), next.values.end());
    *all.roundTripMs += *next.roundTripMs;
  }
  return all;
}

Result ModuleCommands::Write(std::uint8_t reg, std::uint16_t value) {
  const xcom::ByteString request = WriteRegisterRequest(address_, reg, value);
  const Exchange exchange = master_.Transact(request);
  Result result = ResultOf(exchange);
  if (exchange.status != Exchange::Status::Reply) return result;
  // The echo repeats address, function, start register and register count.
  if (exchange.reply.size() != 8 ||
      !std::equal(request.begin(), request.begin() + 6, exchange.reply.begin())) {
    result.error = "the module's echo " + BytesToHexText(exchange.reply) + "does not match";
    result.code = ExitCode::Failed;
  }
  return result;
}

Result ModuleCommands::SwitchRelay(int relay, bool on) {
  Result result = Write(RelayRegister(relay), on ? 1 : 0);
  result.command = "relay";
  result.step = RelayStepText(relay, on);
  return result;
}

void ModuleCommands::EnterControlMode() {
  if (!master_.Stopped()) master_.SendAndLetSettle(ModeFrame(kControlMode));
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
