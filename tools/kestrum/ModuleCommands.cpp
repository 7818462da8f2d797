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

// A read's result without its values: the exchange's outcome, and a reply that is no reply of
// two registers refused.
Result ReadResultOf(const Exchange& exchange) {
  Result result = ResultOf(exchange);
  result.command = "read";
  if (exchange.status != Exchange::Status::Reply) return result;
  if (exchange.reply.size() != 9 || exchange.reply[2] != 4) {
    result.error = "unexpected reply " + BytesToHexText(exchange.reply);
    result.code = ExitCode::Failed;
  }
  return result;
}

}  // namespace

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
Result ModuleCommands::ReadInputs() {
  const Exchange exchange = master_.Transact(ReadInputBlockRequest(address_));
  Result result = ReadResultOf(exchange);
  if (result.code != ExitCode::Success) return result;
  const Inputs inputs = InputsOf(exchange.reply);
  result.values = {{"DI1", inputs.di1}, {"DI2", inputs.di2}};
  return result;
}

Result ModuleCommands::ReadOutputs() {
  const Exchange exchange = master_.Transact(ReadOutputBlockRequest(address_));
  Result result = ReadResultOf(exchange);
  if (result.code != ExitCode::Success) return result;
  const Relays relays = RelaysOf(exchange.reply);
  result.values = {{"DO1", relays.do1}, {"DO2", relays.do2}};
  return result;
}

Result ModuleCommands::ReadAll() {
  Result inputs = ReadInputs();
  if (inputs.code != ExitCode::Success) return inputs;
  Result outputs = ReadOutputs();
  if (outputs.code != ExitCode::Success) return outputs;
  inputs.values.insert(inputs.values.end(), outputs.values.begin(), outputs.values.end());
  *inputs.roundTripMs += *outputs.roundTripMs;
  return inputs;
}

Result ModuleCommands::SwitchRelay(int relay, bool on) {
  const xcom::ByteString request = RelayRequest(address_, RelayRegister(relay), on);
  const Exchange exchange = master_.Transact(request);
  Result result = ResultOf(exchange);
  result.command = "relay";
  result.step = "relay " + std::to_string(relay) + (on ? " on" : " off");
  if (exchange.status != Exchange::Status::Reply) return result;
  // The echo repeats address, function, start register and register count.
  if (exchange.reply.size() != 8 ||
      !std::equal(request.begin(), request.begin() + 6, exchange.reply.begin())) {
    result.error = "the module's echo " + BytesToHexText(exchange.reply) + "does not match";
    result.code = ExitCode::Failed;
  }
  return result;
}

void ModuleCommands::EnterControlMode() {
  if (!master_.Stopped()) master_.SendAndLetSettle(ModeFrame(kControlMode));
}

Result ModuleCommands::SendMode(int mode) {
  Result result;
  result.command = "mode";
  result.step = mode == kControlMode ? "mode control" : "mode data-centre";
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
