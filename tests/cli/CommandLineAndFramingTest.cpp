// The command line of kestrum (the window's rate, format and address texts), how it finds a
// reply among the bytes received, and its JSON lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "LineSettingText.h"
#include "ModbusCrc.h"
#include "PortSettings.h"
#include "ReplyAwaiter.h"
#include "Reporter.h"
#include "kestrum/CommandLine.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

using Action = ParsedCommandLine::Action;
using namespace std::chrono_literals;

ParsedCommandLine Parse(std::vector<std::string> arguments) {
  return ParseCommandLine(arguments);
}

TEST(KestrumCommandLine, TakesTheWindowsTextsAndEveryCommand) {
  const auto parsed = Parse({"-p", "COM3", "--port=/dev/pts/4", "-b", "14400", "-f", "7E2", "-a",
                             "$0A", "-t", "250", "-r", "0", "--json", "relay", "2", "on"});
  ASSERT_EQ(parsed.action, Action::Run) << parsed.error;
  const Invocation& run = parsed.invocation;
  EXPECT_EQ(run.ports, (std::vector<std::string>{"COM3", "/dev/pts/4"}));
  EXPECT_EQ(run.baud, (BaudRateChoice{14400, true}));
  EXPECT_EQ(run.dataBits, 7);
  EXPECT_EQ(run.parity, FormatParity::Even);
  EXPECT_EQ(run.stopBits, 2);
  EXPECT_EQ(run.address, 10);
  EXPECT_EQ(run.timeoutMs, 250u);
  EXPECT_EQ(run.retries, 0u);
  EXPECT_TRUE(run.json);
  EXPECT_EQ(run.command, "relay");
  EXPECT_EQ(run.relay, 2);
  EXPECT_TRUE(run.relayOn);

  EXPECT_EQ(Parse({"-p", "x", "-a", "300", "read"}).invocation.address, 0x2C);  // low 8 bits
  EXPECT_EQ(Parse({"-p", "x", "-a", "0x64", "read"}).invocation.address, 100);
  const auto watch = Parse({"watch", "--interval", "0", "--count", "3", "-p", "x"});
  EXPECT_EQ(watch.invocation.intervalMs, 0u);
  EXPECT_EQ(watch.invocation.count, 3u);
  const auto check = Parse({"-p", "x", "check", "--expect-di", "1,0"});
  EXPECT_EQ(check.invocation.expectedInputs, (std::array<int, 2>{1, 0}));
  EXPECT_EQ(Parse({"-p", "x", "mode", "data-centre"}).invocation.mode, 1);
  EXPECT_EQ(Parse({"-p", "x", "-a", "0", "mode", "control"}).action, Action::Run);  // no reply
  EXPECT_EQ(Parse({"-p", "x", "-a", "247", "read"}).invocation.address, 247);
  EXPECT_EQ(Parse({"read", "--help"}).action, Action::Help);
  EXPECT_EQ(Parse({"--version"}).action, Action::Version);
}

TEST(KestrumCommandLine, RefusesWhatTheWindowWouldQuietlyReplace) {
  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {"read"},                           // no port
           {"-p", "x"},                        // no command
           {"-p", "x", "-b", "9601", "read"},  // the window would take 9600
           {"-p", "x", "-b", "9600 ", "read"},
           {"-p", "x", "-f", "8n1", "read"},  // lower case keeps the old parity there
           {"-p", "x", "-f", "8N", "read"},
           {"-p", "x", "-a", "64 ", "read"},
           {"-p", "x", "-t", "0", "read"},
           {"-p", "x", "-r", "-1", "read"},
           {"-p", "x", "relay", "3", "on"},
           {"-p", "x", "relay", "1", "ON"},
           {"-p", "x", "relay", "1"},
           {"-p", "x", "read", "extra"},
           {"-p", "x", "mode", "data-center"},
           {"-p", "x", "--count", "2", "read"},  // watch's option
           {"-p", "x", "check", "--expect-di", "1"},
           {"-p", "x", "--bogus", "read"},
           {"-p", "x", "--json=1", "read"},
           {"-p", "x", "-a", "0", "relay", "2", "on"},  // a broadcast: every module, no reply
           {"-p", "x", "-a", "0x100", "check"},         // the same in its low 8 bits
           {"-p", "x", "-a", "248", "read"},            // reserved up to 255
           {"-p", "x", "-a", "255", "watch"},
           {"-p", "x", "-p", "x", "read"},
           {"-p"}}) {
    const auto parsed = Parse(wrong);
    EXPECT_EQ(parsed.action, Action::UsageError) << testing::PrintToString(wrong);
    EXPECT_FALSE(parsed.error.empty());
  }
}

TEST(ReplyScan, FindsTheReplyBehindStrayBytesAndEchoesAndKnowsWhenOneIsUnderWay) {
  using Outcome = ReplyScan::Outcome;
  const xcom::ByteString request = WithCrc({0x64, 0x03, 0x00, 0x10, 0x00, 0x02});
  const xcom::ByteString reply = WithCrc({0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00});
  xcom::ByteString late = reply;
  for (const std::uint8_t stray : {0x64, 0x17, 0x64})  // the address byte in the junk, too
    late.insert(late.begin(), stray);
  late.insert(late.begin(), request.begin(), request.end());  // the adapter's echo first
  const ReplyScan found = ScanForReply(late, request);
  EXPECT_EQ(found.outcome, Outcome::Complete);
  EXPECT_EQ(found.reply, reply);
  EXPECT_EQ(found.unframed, 3u);
  EXPECT_EQ(ScanForReply(xcom::ByteString(reply.begin(), reply.begin() + 1), request).outcome,
            Outcome::Incomplete);
  EXPECT_EQ(ScanForReply(xcom::ByteString(reply.begin(), reply.end() - 1), request).outcome,
            Outcome::Incomplete);
  EXPECT_EQ(ScanForReply(request, request).outcome, Outcome::None);  // only the echo so far
  xcom::ByteString flipped = reply;
  flipped[4] ^= 0x10;
  EXPECT_EQ(ScanForReply(flipped, request).outcome, Outcome::Corrupt);
  const xcom::ByteString otherSlave = WithCrc({0x65, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00});
  EXPECT_EQ(ScanForReply(otherSlave, request).outcome, Outcome::None);
  const xcom::ByteString exception = WithCrc({0x64, 0x83, 0x02});
  EXPECT_EQ(ScanForReply(exception, request).reply, exception);
  const xcom::ByteString echo = WithCrc({0x64, 0x10, 0x00, 0x14, 0x00, 0x01});  // a relay write's
  EXPECT_EQ(ScanForReply(echo, request).outcome, Outcome::None);
}

TEST(ReplyScan, SilenceIsThreeAndAHalfCharacters) {
  EXPECT_EQ(SilenceFor(9600, 10).count(), 3645);
  EXPECT_EQ(SilenceFor(1200, 11).count(), 32083);
  EXPECT_EQ(SilenceFor(19200, 10).count(), 1822);   // the last rate that counts characters
  EXPECT_EQ(SilenceFor(115200, 10).count(), 1750);  // the fixed value at high rates
}

// A device name is bytes: what is not UTF-8 is escaped, so that every line is valid JSON.
TEST(JsonLine, PortNamesOfAnyBytesGiveValidJson) {
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"/tmp/\xe7\xab\xaf\xe5\x8f\xa3", "/tmp/\xe7\xab\xaf\xe5\x8f\xa3"},  // UTF-8 kept
      {"/tmp/\xff\xfe", "/tmp/\\u00ff\\u00fe"},
      {"/tmp/\xdf\xbf\xc2\x80", "/tmp/\xdf\xbf\xc2\x80"},   // the last and first two-byte ones
      {"/tmp/\xe7\xab", "/tmp/\\u00e7\\u00ab"},             // cut short
      {"/tmp/\xc0\xaf", "/tmp/\\u00c0\\u00af"},             // overlong '/'
      {"/tmp/\xed\xa0\x80", "/tmp/\\u00ed\\u00a0\\u0080"},  // a surrogate
      {"/tmp/\xf4\x90\x80\x80", "/tmp/\\u00f4\\u0090\\u0080\\u0080"},  // beyond U+10FFFF
      {"a\"b\\c\n", "a\\\"b\\\\c\\u000a"}};
  for (const auto& [port, quoted] : cases)
    EXPECT_EQ(JsonLine(port, 100, {}).substr(0, quoted.size() + 10), "{\"port\":\"" + quoted + "\"")
        << quoted;
}

// A newline in a port's name cannot forge a result line or a message of its own.
TEST(Reporter, PortNamesCannotStartALineInPlainOutput) {
  std::ostringstream out, err;
  Reporter reporter(out, err, {false, false, false, true});
  const std::string port = "/tmp/a\nttyUSB3: DI1=0 DI2=0\\";
  reporter.Report(port, 100, Result{"read", "", {{"DI1", 1}}, {}, {}, "", ExitCode::Success});
  reporter.Message(port, "lost");
  EXPECT_EQ(out.str(), "/tmp/a\\u000attyUSB3: DI1=0 DI2=0\\\\: DI1=1\n");
  const std::string messages = err.str();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
}

// The permission hint names the dialout group only where it owns the device.
TEST(OpenFailureText, PermissionHintFollowsTheDevicesOwnerAndGroup) {
  using xcom::OpenFailure;
  const std::pair<xcom::OpenFailureInfo, std::string> cases[] = {
      {{OpenFailure::PermissionDenied, 13, "root", "dialout"}, "in the dialout group"},
      {{OpenFailure::PermissionDenied, 13, "alice", "tty"}, "another user (alice)"},
      {{OpenFailure::PermissionDenied, 13, "", ""}, "as a user who may open"}};
  for (const auto& [failure, hint] : cases) {
    const std::string text = OpenFailureText(failure);
    EXPECT_NE(text.find(hint), std::string::npos) << text;
    EXPECT_EQ(text.find("dialout") != std::string::npos, failure.deviceGroup == "dialout") << text;
  }
}

}  // namespace
}  // namespace kestrum
