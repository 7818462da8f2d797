// The Telnet and COM-PORT-OPTION codecs of network lines, on made-up server traffic.

#include <gtest/gtest.h>

#include "ComPortOption.h"
#include "TelnetCodec.h"
#include "XComTypes.h"

using namespace xcom;
using namespace xcom::telnet;
namespace r = xcom::rfc2217;

namespace {

TelnetCodec ClientCodec() {
  return TelnetCodec({kOptionBinary, kOptionComPort}, {kOptionBinary, kOptionSuppressGoAhead});
}

struct ReceiveCase {
  const char* what;
  ByteString received;
  ByteString data;
  ByteString replies;
};

TEST(TelnetCodec, ReceivedBytesSplitIntoDataAndAnswers) {
  const ReceiveCase cases[] = {
      {"plain data", {1, 2, 3}, {1, 2, 3}, {}},
      {"doubled 0xFF is one data byte", {IAC, IAC, 7}, {0xFF, 7}, {}},
      {"Modbus reply whose CRC holds 0xFF",
       {0x01, 0x03, 0x04, 0x00, 0x3C, 0x00, 0x01, 0xFB, IAC, IAC},
       {0x01, 0x03, 0x04, 0x00, 0x3C, 0x00, 0x01, 0xFB, 0xFF},
       {}},
      {"DO of an agreed option", {IAC, DO, kOptionComPort}, {}, {IAC, WILL, kOptionComPort}},
      {"DO of an unknown option", {IAC, DO, 24}, {}, {IAC, WONT, 24}},
      {"WILL of an agreed option",
       {IAC, WILL, kOptionSuppressGoAhead},
       {},
       {IAC, DO, kOptionSuppressGoAhead}},
      {"WILL of an unknown option", {IAC, WILL, 1}, {}, {IAC, DONT, 1}},
      {"WONT of an option already off", {IAC, WONT, 1}, {}, {}},
      {"repeated DO answered once", {IAC, DO, 0, IAC, DO, 0}, {}, {IAC, WILL, 0}},
      {"repeated unknown DO refused once", {IAC, DO, 24, IAC, DO, 24}, {}, {IAC, WONT, 24}},
      {"one-byte commands skipped", {5, IAC, 241, 6}, {5, 6}, {}},
      {"data around a sub-negotiation", {1, IAC, SB, 99, 2, 3, IAC, SE, 4}, {1, 4}, {}},
      {"command split across blocks ends the block", {9, IAC}, {9}, {}},
  };
  for (const ReceiveCase& c : cases) {
    TelnetCodec codec = ClientCodec();
    ByteString data, replies;
    codec.Receive(c.received.data(), c.received.size(), data, replies);
    EXPECT_EQ(data, c.data) << c.what;
    EXPECT_EQ(replies, c.replies) << c.what;
  }
}

TEST(TelnetCodec, SubnegotiationsAreCappedAndSplitAnywhere) {
  TelnetCodec codec = ClientCodec();
  std::vector<ByteString> seen;
  codec.OnSubnegotiation([&](std::uint8_t option, const ByteString& body) {
    ByteString whole{option};
    whole.insert(whole.end(), body.begin(), body.end());
    seen.push_back(whole);
  });
  ByteString stream{IAC, SB, kOptionComPort, 101, 0, IAC, IAC, 0, 1, IAC, SE};
  ByteString giant{IAC, SB, kOptionComPort};
  giant.insert(giant.end(), 100000, 0x41);
  giant.insert(giant.end(), {IAC, SE, 0x42});
  stream.insert(stream.end(), giant.begin(), giant.end());
  ByteString data, replies;
  for (const std::uint8_t byte : stream) codec.Receive(&byte, 1, data, replies);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (ByteString{kOptionComPort, 101, 0, 0xFF, 0, 1}));
  EXPECT_EQ(codec.OversizedSubnegotiations(), 1u);
  EXPECT_EQ(data, ByteString{0x42});
}

TEST(TelnetCodec, OutgoingDataDoublesEvery0xFF) {
  const ByteString frame{0x01, 0x03, 0x04, 0x00, 0x3C, 0x00, 0x01, 0xFB, 0xFF};
  ByteString out;
  AppendEscaped(frame.data(), frame.size(), out);
  ByteString expected = frame;
  expected.push_back(0xFF);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(r::CommandBytes(r::kSetBaudRate, {0, 0, 0xFF, 0xFF}),
            (ByteString{IAC, SB, 44, 1, 0, 0, IAC, IAC, IAC, IAC, IAC, SE}));
}

DCB BlockOf(DWORD rate, BYTE size, BYTE parity, BYTE stop) {
  DCB dcb{};
  dcb.BaudRate = rate;
  dcb.ByteSize = size;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  return dcb;
}

TEST(ComPortOption, EachSettingIsSentWithTheOptionsValue) {
  DCB hardware = BlockOf(19200, 7, ODDPARITY, ONE5STOPBITS);
  hardware.fOutxCtsFlow = 1;
  hardware.fRtsControl = 2;
  hardware.fDtrControl = 1;
  DCB software = BlockOf(921600, 8, SPACEPARITY, TWOSTOPBITS);
  software.fOutX = software.fInX = 1;
  struct Case {
    DCB dcb;
    std::vector<ByteString> values;  // command byte first
  } cases[] = {
      {BlockOf(9600, 8, NOPARITY, ONESTOPBIT),
       {{1, 0, 0, 0x25, 0x80}, {2, 8}, {3, 1}, {4, 1}, {5, 1}, {5, 14}, {5, 9}, {5, 12}}},
      {hardware, {{1, 0, 0, 0x4B, 0}, {2, 7}, {3, 2}, {4, 3}, {5, 3}, {5, 16}, {5, 8}}},
      {software, {{1, 0, 0x0E, 0x10, 0}, {2, 8}, {3, 5}, {4, 2}, {5, 2}, {5, 15}, {5, 9}, {5, 12}}},
  };
  for (const Case& c : cases) {
    std::vector<ByteString> sent;
    for (const r::Setting& s : r::SettingsOf(c.dcb)) {
      ByteString v{s.command};
      v.insert(v.end(), s.value.begin(), s.value.end());
      sent.push_back(v);
    }
    EXPECT_EQ(sent, c.values) << c.dcb.BaudRate;
  }
  EXPECT_EQ(r::PurgeValueOf(PURGE_RXCLEAR), r::kPurgeReceive);
  EXPECT_EQ(r::PurgeValueOf(PURGE_TXABORT | PURGE_TXCLEAR), r::kPurgeTransmit);
  EXPECT_EQ(r::PurgeValueOf(PURGE_RXCLEAR | PURGE_TXCLEAR), r::kPurgeBoth);
  EXPECT_EQ(r::PurgeValueOf(0), 0);
}

TEST(ComPortOption, ServerAnswersAndNotificationsBecomeEventsAndErrors) {
  constexpr auto bit = [](TDeviceEvent e) { return 1u << e; };
  struct Case {
    const char* what;
    std::vector<ByteString> bodies;  // server sub-negotiation bodies, in order
    std::uint32_t events;
    std::uint32_t errors;
  } cases[] = {
      {"rate acknowledged", {{101, 0, 0, 0x25, 0x80}}, 0, 0},
      {"CTS came on", {{107, 0x11}}, bit(deCTS), 0},
      {"state only, no delta bits", {{107, 0xA0}}, bit(deDSR) | bit(deRLSD), 0},
      {"same state twice is one change", {{107, 0x10}, {107, 0x10}}, bit(deCTS), 0},
      {"ring trailing edge", {{107, 0x04}}, bit(deRing), 0},
      {"framing and overrun", {{106, 0x0A}}, bit(deError), 0x0008 | 0x0002},
      {"break", {{106, 0x10}}, bit(deBreak), 0x0010},
      {"data-ready and empty bits alone", {{106, 0x61}}, 0, 0},
      {"unknown and malformed answers ignored", {{}, {100}, {113, 1}, {107}}, 0, 0},
  };
  for (const Case& c : cases) {
    r::ServerState state;
    for (const ByteString& body : c.bodies) state.Take(body);
    EXPECT_EQ(state.TakeEvents(), c.events) << c.what;
    EXPECT_EQ(state.TakeErrors(), c.errors) << c.what;
    EXPECT_EQ(state.TakeEvents(), 0u) << c.what;
  }
  r::ServerState state;
  EXPECT_FALSE(state.Answered(r::kSetBaudRate));
  state.Take({101, 0, 0, 0x25, 0x80});
  EXPECT_TRUE(state.Answered(r::kSetBaudRate));
  EXPECT_EQ(state.Answer(r::kSetBaudRate), (ByteString{0, 0, 0x25, 0x80}));
  state.Forget(r::kSetBaudRate);
  EXPECT_FALSE(state.Answered(r::kSetBaudRate));
  state.Take({105, r::kControlNoFlow});  // flow control taken, DTR left unanswered
  EXPECT_TRUE(state.ControlAnswered(r::kControlNoFlow));
  EXPECT_FALSE(state.ControlAnswered(r::kControlDtrOff));
  state.Forget(r::kSetControl);
  EXPECT_FALSE(state.ControlAnswered(r::kControlNoFlow));
}

}  // namespace
