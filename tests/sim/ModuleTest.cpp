// The module's answers, without a line: every request of the tool, exceptions, silence.
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "SimulatedModule.h"

using namespace modbus;  // the protocol layer

namespace {

using kestrum_sim::DeviceMode;
using kestrum_sim::ModuleConfig;
using kestrum_sim::Outcome;
using kestrum_sim::SimulatedModule;
using simtest::Hex;

xcom::ByteString Bytes(std::initializer_list<int> values) {
  xcom::ByteString bytes;
  for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

ModuleConfig WithInputs(std::uint16_t di1, std::uint16_t di2) {
  ModuleConfig config;
  config.inputs = {di1, di2};
  return config;
}

TEST(ModuleAnswers, ReadInputBlockGivesTheDocumentedReplyByteForByte) {
  SimulatedModule module(WithInputs(1, 0));
  const auto handled =
      module.HandleRequest(Bytes({0x64, 0x03, 0x00, 0x10, 0x00, 0x02, 0xCC, 0x3B}));
  EXPECT_EQ(handled.outcome, Outcome::Answered);
  EXPECT_EQ(Hex(handled.reply), "64 03 04 00 01 00 00 9E F5 ");
}

TEST(ModuleAnswers, RelayFramesOfTheToolSwitchRelaysAndAreEchoedInEightBytes) {
  // The eight relay frames exactly as the tool sends them with address 100.
  struct Case {
    xcom::ByteString frame;
    int relay;
    std::uint16_t value;
  };
  const Case cases[] = {
      {Bytes({0x64, 0x10, 0x00, 0x14, 0x00, 0x01, 0x02, 0x00, 0x01, 0xF3, 0xD6}), 1, 1},
      {Bytes({0x64, 0x10, 0x00, 0x15, 0x00, 0x01, 0x02, 0x00, 0x01, 0xF2, 0x07}), 2, 1},
      {Bytes({0x64, 0x10, 0x00, 0x16, 0x00, 0x01, 0x02, 0x00, 0x01, 0xF2, 0x34}), 3, 1},
      {Bytes({0x64, 0x10, 0x00, 0x17, 0x00, 0x01, 0x02, 0x00, 0x01, 0xF3, 0xE5}), 4, 1},
      {Bytes({0x64, 0x10, 0x00, 0x14, 0x00, 0x01, 0x02, 0x00, 0x00, 0x32, 0x16}), 1, 0},
      {Bytes({0x64, 0x10, 0x00, 0x15, 0x00, 0x01, 0x02, 0x00, 0x00, 0x33, 0xC7}), 2, 0},
      {Bytes({0x64, 0x10, 0x00, 0x16, 0x00, 0x01, 0x02, 0x00, 0x00, 0x33, 0xF4}), 3, 0},
      {Bytes({0x64, 0x10, 0x00, 0x17, 0x00, 0x01, 0x02, 0x00, 0x00, 0x32, 0x25}), 4, 0},
  };
  SimulatedModule module;
  for (const Case& c : cases) {
    SCOPED_TRACE(Hex(c.frame));
    const auto handled = module.HandleRequest(c.frame);
    ASSERT_EQ(handled.outcome, Outcome::Answered);
    // Standard reply: address, 10, start register, register count, CRC.
    EXPECT_EQ(Hex(handled.reply),
              Hex(WithCrc(xcom::ByteString(c.frame.begin(), c.frame.begin() + 6))));
    EXPECT_EQ(handled.reply.size(), 8u);
    EXPECT_EQ(module.Relay(c.relay), c.value);
  }
}

TEST(ModuleAnswers, ReadOutputBlockShowsTheRelaysAsWritten) {
  SimulatedModule module(WithInputs(1, 0));
  module.HandleRequest(Bytes({0x64, 0x10, 0x00, 0x15, 0x00, 0x01, 0x02, 0x00, 0x01, 0xF2, 0x07}));
  const auto outputs =
      module.HandleRequest(Bytes({0x64, 0x03, 0x00, 0x14, 0x00, 0x02, 0x8D, 0xFA}));
  // The worked example of a whole read-all: relay 2 on.
  EXPECT_EQ(Hex(outputs.reply), "64 03 04 00 00 00 01 0E F5 ");
  const auto all = module.HandleRequest(simtest::ReadRequest(100, 0x14, 4));
  EXPECT_EQ(Hex(all.reply), Hex(WithCrc(Bytes({0x64, 0x03, 0x08, 0, 0, 0, 1, 0, 0, 0, 0}))));
}

TEST(ModuleAnswers, RegisterValuesAboveOneByteAreReadInFull) {
  SimulatedModule module(WithInputs(0x0102, 0xFFFF));
  const auto handled = module.HandleRequest(simtest::ReadRequest(100, 0x10, 2));
  EXPECT_EQ(Hex(handled.reply),
            "64 03 04 01 02 FF FF " +
                Hex(ModbusCrc16(Bytes({0x64, 0x03, 0x04, 0x01, 0x02, 0xFF, 0xFF}))));
  const auto one = module.HandleRequest(simtest::ReadRequest(100, 0x11, 1));
  EXPECT_EQ(Hex(one.reply), Hex(WithCrc(Bytes({0x64, 0x03, 0x02, 0xFF, 0xFF}))));
}

TEST(ModuleAnswers, FunctionSixWritesOneRelayAndEchoesTheRequest) {
  SimulatedModule module;
  const xcom::ByteString request = WithCrc(Bytes({0x64, 0x06, 0x00, 0x17, 0x00, 0x01}));
  const auto handled = module.HandleRequest(request);
  EXPECT_EQ(handled.reply, request);
  EXPECT_EQ(module.Relay(4), 1);
}

TEST(ModuleAnswers, FunctionSixteenWritesSeveralRelaysAtOnce) {
  SimulatedModule module;
  const auto handled = module.HandleRequest(
      WithCrc(Bytes({0x64, 0x10, 0x00, 0x15, 0x00, 0x03, 0x06, 0, 1, 0, 0, 0, 1})));
  EXPECT_EQ(Hex(handled.reply), Hex(WithCrc(Bytes({0x64, 0x10, 0x00, 0x15, 0x00, 0x03}))));
  EXPECT_EQ(module.Relay(1), 0);
  EXPECT_EQ(module.Relay(2), 1);
  EXPECT_EQ(module.Relay(3), 0);
  EXPECT_EQ(module.Relay(4), 1);
}

struct ExceptionCase {
  const char* what;
  xcom::ByteString request;  // without CRC
  int replyFunction;
  int code;
};

class ModuleExceptions : public ::testing::TestWithParam<ExceptionCase> {};

TEST_P(ModuleExceptions, AnswerWithFunctionOr80AndTheCode) {
  const ExceptionCase& c = GetParam();
  SimulatedModule module(WithInputs(1, 1));
  const auto handled = module.HandleRequest(WithCrc(c.request));
  EXPECT_EQ(handled.outcome, Outcome::Exception);
  EXPECT_EQ(Hex(handled.reply), Hex(WithCrc(Bytes({0x64, c.replyFunction, c.code}))));
  // Nothing was written by a refused request.
  for (int relay = 1; relay <= 4; ++relay) EXPECT_EQ(module.Relay(relay), 0);
  EXPECT_EQ(module.Input(1), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ModuleExceptions,
    ::testing::Values(
        ExceptionCase{"read of the gap 0x0012", Bytes({0x64, 3, 0, 0x12, 0, 1}), 0x83, 2},
        ExceptionCase{"read running into the gap", Bytes({0x64, 3, 0, 0x10, 0, 3}), 0x83, 2},
        ExceptionCase{"read from the gap into relays", Bytes({0x64, 3, 0, 0x13, 0, 2}), 0x83, 2},
        ExceptionCase{"read past the last relay", Bytes({0x64, 3, 0, 0x17, 0, 2}), 0x83, 2},
        ExceptionCase{"read below the map", Bytes({0x64, 3, 0, 0x00, 0, 2}), 0x83, 2},
        ExceptionCase{"read wrapping past 0xFFFF", Bytes({0x64, 3, 0xFF, 0xFF, 0, 2}), 0x83, 2},
        ExceptionCase{"read of no register", Bytes({0x64, 3, 0, 0x10, 0, 0}), 0x83, 3},
        ExceptionCase{"read of 126 registers", Bytes({0x64, 3, 0, 0x10, 0, 126}), 0x83, 3},
        ExceptionCase{"write 16 to an input", Bytes({0x64, 0x10, 0, 0x10, 0, 1, 2, 0, 1}), 0x90, 2},
        ExceptionCase{"write 16 past relay 4",
                      Bytes({0x64, 0x10, 0, 0x16, 0, 3, 6, 0, 1, 0, 1, 0, 1}), 0x90, 2},
        ExceptionCase{"write 16 byte count wrong", Bytes({0x64, 0x10, 0, 0x14, 0, 2, 2, 0, 1}),
                      0x90, 3},
        ExceptionCase{"write 16 relay value 2", Bytes({0x64, 0x10, 0, 0x14, 0, 1, 2, 0, 2}), 0x90,
                      3},
        ExceptionCase{"write 6 to an input", Bytes({0x64, 6, 0, 0x11, 0, 0}), 0x86, 2},
        ExceptionCase{"write 6 to the gap", Bytes({0x64, 6, 0, 0x12, 0, 1}), 0x86, 2},
        ExceptionCase{"write 6 value 0x0100", Bytes({0x64, 6, 0, 0x14, 1, 0}), 0x86, 3},
        ExceptionCase{"read input registers (04)", Bytes({0x64, 4, 0, 0x10, 0, 2}), 0x84, 1},
        ExceptionCase{"unknown function 0x41", Bytes({0x64, 0x41, 1, 2}), 0xC1, 1},
        ExceptionCase{"read of wrong length", Bytes({0x64, 3, 0, 0x10, 0, 2, 0}), 0x83, 3}),
    [](const auto& info) {
      std::string name;
      for (const char ch : std::string(info.param.what))
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST(ModuleSilence, BadCrcForeignAddressAndShortFramesGetNoAnswer) {
  SimulatedModule module(WithInputs(1, 0));
  xcom::ByteString badCrc = Bytes({0x64, 0x03, 0x00, 0x10, 0x00, 0x02, 0xCC, 0x3C});
  EXPECT_EQ(module.HandleRequest(badCrc).outcome, Outcome::BadCrc);
  EXPECT_TRUE(module.HandleRequest(badCrc).reply.empty());
  const auto foreign = module.HandleRequest(simtest::ReadRequest(1, 0x10, 2));
  EXPECT_EQ(foreign.outcome, Outcome::OtherAddress);
  EXPECT_TRUE(foreign.reply.empty());
  // A write for another slave changes nothing here.
  EXPECT_TRUE(module.HandleRequest(simtest::RelayRequest(101, 0x14, 1)).reply.empty());
  EXPECT_EQ(module.Relay(1), 0);
  EXPECT_EQ(module.HandleRequest(Bytes({0x64, 0x03, 0x00})).outcome, Outcome::TooShort);
}

TEST(ModuleSilence, BroadcastWritesActButNothingIsAnswered) {
  SimulatedModule module;
  const auto write = module.HandleRequest(simtest::RelayRequest(0, 0x16, 1));
  EXPECT_EQ(write.outcome, Outcome::Broadcast);
  EXPECT_TRUE(write.reply.empty());
  EXPECT_EQ(module.Relay(3), 1);
  EXPECT_TRUE(module.HandleRequest(WithCrc(Bytes({0, 6, 0, 0x14, 0, 1}))).reply.empty());
  EXPECT_EQ(module.Relay(1), 1);
  // Reads and refused requests to address 0 are not answered either.
  EXPECT_TRUE(module.HandleRequest(simtest::ReadRequest(0, 0x10, 2)).reply.empty());
  EXPECT_TRUE(module.HandleRequest(WithCrc(Bytes({0, 6, 0, 0x10, 0, 1}))).reply.empty());
  EXPECT_TRUE(module.HandleRequest(WithCrc(Bytes({0, 0x41}))).reply.empty());
}

TEST(ModuleAddress, AnotherAddressIsAnsweredWithThatAddress) {
  ModuleConfig config = WithInputs(0, 1);
  config.address = 1;
  SimulatedModule module(config);
  // The tool's input-block frame for address 1.
  const auto handled =
      module.HandleRequest(Bytes({0x01, 0x03, 0x00, 0x10, 0x00, 0x02, 0xC5, 0xCE}));
  EXPECT_EQ(Hex(handled.reply), Hex(WithCrc(Bytes({0x01, 0x03, 0x04, 0, 0, 0, 1}))));
  EXPECT_TRUE(module.HandleRequest(simtest::ReadRequest(100, 0x10, 2)).reply.empty());
}

TEST(ModuleModes, ModeFramesSwitchModesAndModbusStillWorksInBoth) {
  SimulatedModule module(WithInputs(1, 0));
  const xcom::ByteString dataCentre = Bytes({0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x01, 0x01, 0x36});
  const xcom::ByteString control = Bytes({0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x00, 0x01, 0x35});
  EXPECT_EQ(module.Mode(), DeviceMode::Control);
  auto handled = module.HandleModeFrame(dataCentre);
  EXPECT_EQ(handled.outcome, Outcome::ModeSwitched);
  EXPECT_TRUE(handled.reply.empty());  // no answer by default
  EXPECT_EQ(module.Mode(), DeviceMode::DataCentre);
  EXPECT_EQ(Hex(module.HandleRequest(simtest::ReadRequest(100, 0x10, 2)).reply),
            "64 03 04 00 01 00 00 9E F5 ");
  EXPECT_EQ(module.HandleModeFrame(control).outcome, Outcome::ModeSwitched);
  EXPECT_EQ(module.Mode(), DeviceMode::Control);
}

TEST(ModuleModes, BadCheckSumOrUnknownModeLeavesTheModeAlone) {
  SimulatedModule module;
  EXPECT_EQ(
      module.HandleModeFrame(Bytes({0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x01, 0x01, 0x35})).outcome,
      Outcome::ModeBadChecksum);
  EXPECT_EQ(
      module.HandleModeFrame(Bytes({0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x02, 0x01, 0x37})).outcome,
      Outcome::ModeUnknown);
  EXPECT_EQ(module.Mode(), DeviceMode::Control);
}

TEST(ModuleModes, EchoAndStrictDataCentreAreOptions) {
  ModuleConfig config;
  config.modeReply = kestrum_sim::ModeReply::Echo;
  config.dataCentreModbus = kestrum_sim::DataCentreModbus::Ignore;
  SimulatedModule module(config);
  const xcom::ByteString dataCentre = Bytes({0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x01, 0x01, 0x36});
  EXPECT_EQ(module.HandleModeFrame(dataCentre).reply, dataCentre);
  const auto ignored = module.HandleRequest(simtest::RelayRequest(100, 0x14, 1));
  EXPECT_EQ(ignored.outcome, Outcome::IgnoredDataCentre);
  EXPECT_TRUE(ignored.reply.empty());
  EXPECT_EQ(module.Relay(1), 0);
}

}  // namespace
