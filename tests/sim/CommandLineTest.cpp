// The program's options and the commands typed while it runs.
#include <gtest/gtest.h>

#include "kestrum-sim/CommandLine.h"

namespace {

using kestrum_sim::CommandLine;
using kestrum_sim::ParseCommandLine;
using namespace std::chrono_literals;

CommandLine Parse(std::vector<std::string> arguments) {
  const auto parsed = ParseCommandLine(arguments);
  EXPECT_TRUE(parsed.commandLine.has_value()) << parsed.error;
  return parsed.commandLine.value_or(CommandLine{});
}

std::string ErrorOf(std::vector<std::string> arguments) {
  const auto parsed = ParseCommandLine(arguments);
  EXPECT_FALSE(parsed.commandLine.has_value());
  return parsed.error;
}

TEST(CommandLine, DefaultsArePtyAddress100Inputs00At9600N81AndNoFaults) {
  const CommandLine c = Parse({});
  EXPECT_EQ(c.endpoint, CommandLine::Endpoint::Pty);
  EXPECT_TRUE(c.link.empty());
  EXPECT_EQ(c.simulator.module.address, 100);
  EXPECT_EQ(c.simulator.module.inputs, (std::array<std::uint16_t, 2>{0, 0}));
  EXPECT_EQ(c.simulator.line, kestrum_sim::LineSettings{});
  EXPECT_EQ(c.simulator.line.FormatText(), "8N1");
  EXPECT_EQ(c.simulator.faults, kestrum_sim::FaultOptions{});
  EXPECT_FALSE(c.simulator.silence.has_value());
  EXPECT_EQ(c.simulator.module.modeReply, kestrum_sim::ModeReply::None);
  EXPECT_EQ(c.simulator.module.dataCentreModbus, kestrum_sim::DataCentreModbus::Answer);
  EXPECT_FALSE(c.verbose);
}

TEST(CommandLine, EveryOptionIsTakenInBothSpellings) {
  const CommandLine c = Parse({"--device",
                               "/tmp/x",
                               "--baud=19200",
                               "--format",
                               "7E2",
                               "--address=1",
                               "--di",
                               "1,0x0102",
                               "--delay",
                               "10",
                               "--split=20",
                               "--corrupt",
                               "0.25",
                               "--drop=1",
                               "--junk",
                               "0",
                               "--seed",
                               "18446744073709551615",
                               "--silence",
                               "15",
                               "--mode-reply=echo",
                               "--data-centre",
                               "ignore",
                               "-v"});
  EXPECT_EQ(c.endpoint, CommandLine::Endpoint::Device);
  EXPECT_EQ(c.device, "/tmp/x");
  EXPECT_EQ(c.simulator.line.baud, 19200u);
  EXPECT_EQ(c.simulator.line.FormatText(), "7E2");
  EXPECT_EQ(c.simulator.module.address, 1);
  EXPECT_EQ(c.simulator.module.inputs, (std::array<std::uint16_t, 2>{1, 0x0102}));
  EXPECT_EQ(c.simulator.faults.delay, 10ms);
  EXPECT_EQ(c.simulator.faults.split, 20ms);
  EXPECT_DOUBLE_EQ(c.simulator.faults.corrupt, 0.25);
  EXPECT_DOUBLE_EQ(c.simulator.faults.drop, 1.0);
  EXPECT_DOUBLE_EQ(c.simulator.faults.junk, 0.0);
  EXPECT_EQ(c.simulator.faults.seed, 18446744073709551615ULL);
  EXPECT_EQ(c.simulator.silence, std::optional<std::chrono::microseconds>(15ms));
  EXPECT_EQ(c.simulator.module.modeReply, kestrum_sim::ModeReply::Echo);
  EXPECT_EQ(c.simulator.module.dataCentreModbus, kestrum_sim::DataCentreModbus::Ignore);
  EXPECT_TRUE(c.verbose);
  // Baud and format in either order.
  EXPECT_EQ(Parse({"--format", "8O1", "--baud", "300"}).simulator.line,
            (kestrum_sim::LineSettings{300, 8, kestrum_sim::Parity::Odd, 1}));
  EXPECT_EQ(Parse({"--pty", "--link", "/tmp/kestrum"}).link, "/tmp/kestrum");
}

TEST(CommandLine, EveryFormatOfTheToolsListIsAccepted) {
  for (const char* format :
       {"8N1", "8E1", "8O1", "7N1", "7E1", "7O1", "8N2", "8E2", "8O2", "7N2", "7E2", "7O2"})
    EXPECT_EQ(Parse({"--format", format}).simulator.line.FormatText(), format);
}

TEST(CommandLine, BadValuesAreRefusedWithAReason) {
  EXPECT_NE(ErrorOf({"--baud", "96OO"}).find("baud"), std::string::npos);
  EXPECT_FALSE(ErrorOf({"--baud", "0"}).empty());
  EXPECT_FALSE(ErrorOf({"--baud", "9600 "}).empty());
  EXPECT_NE(ErrorOf({"--format", "8n1"}).find("format"), std::string::npos);
  EXPECT_FALSE(ErrorOf({"--format", "8N"}).empty());
  EXPECT_FALSE(ErrorOf({"--format", "9N1"}).empty());
  EXPECT_FALSE(ErrorOf({"--address", "0"}).empty());
  EXPECT_FALSE(ErrorOf({"--address", "248"}).empty());
  EXPECT_FALSE(ErrorOf({"--address", "-1"}).empty());
  EXPECT_FALSE(ErrorOf({"--di", "1"}).empty());
  EXPECT_FALSE(ErrorOf({"--di", "1,65536"}).empty());
  EXPECT_FALSE(ErrorOf({"--corrupt", "1.5"}).empty());
  EXPECT_FALSE(ErrorOf({"--drop", "-0.1"}).empty());
  EXPECT_FALSE(ErrorOf({"--junk", "half"}).empty());
  EXPECT_FALSE(ErrorOf({"--junk", "nan"}).empty());
  EXPECT_FALSE(ErrorOf({"--delay", "-5"}).empty());
  EXPECT_FALSE(ErrorOf({"--silence", "0"}).empty());
  EXPECT_FALSE(ErrorOf({"--mode-reply", "ack"}).empty());
  EXPECT_FALSE(ErrorOf({"--data-centre", "maybe"}).empty());
  EXPECT_NE(ErrorOf({"--delay"}).find("needs a value"), std::string::npos);
  EXPECT_NE(ErrorOf({"--frobnicate"}).find("unknown option"), std::string::npos);
  EXPECT_NE(ErrorOf({"--device", "/dev/null", "--link", "/tmp/l"}).find("--link"),
            std::string::npos);
  EXPECT_FALSE(ErrorOf({"--device", "/tmp/a", "--pty"}).empty());
  EXPECT_FALSE(ErrorOf({"--verbose=yes"}).empty());
}

TEST(CommandLine, HelpDocumentsEveryOptionAndCommand) {
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_TRUE(Parse({"-h", "--verbose"}).help);
  EXPECT_TRUE(Parse({"--version"}).version);
  EXPECT_FALSE(ErrorOf({"--version=1"}).empty());
  const std::string help = kestrum_sim::HelpText();
  for (const char* item : {"--pty",
                           "--link",
                           "--device",
                           "--baud",
                           "--format",
                           "--silence",
                           "--address",
                           "--di",
                           "--mode-reply",
                           "--data-centre",
                           "--delay",
                           "--split",
                           "--corrupt",
                           "--drop",
                           "--junk",
                           "--seed",
                           "--verbose",
                           "--help",
                           "di N V",
                           "di A,B",
                           "show",
                           "quit",
                           "0x0010",
                           "0x0014",
                           "Exception replies",
                           "broadcast",
                           "AA 55 00 05 E0 50",
                           "64 03 04 00 01 00 00 9E F5",
                           "SIGTERM"})
    EXPECT_NE(help.find(item), std::string::npos) << item;
}

TEST(Console, TypedCommandsSetInputsShowStateAndQuit) {
  kestrum_sim::Simulator sim;
  std::atomic<bool> verbose{false};
  const auto run = [&](const std::string& line) {
    return kestrum_sim::RunConsoleCommand(line, sim, verbose);
  };
  EXPECT_EQ(run("di 1 1").output, "DI1=1\n");
  EXPECT_EQ(run("di 2 0x0102").output, "DI2=258\n");
  EXPECT_EQ(sim.State().inputs, (std::array<std::uint16_t, 2>{1, 0x0102}));
  EXPECT_EQ(run("di 0,1").output, "DI1=0 DI2=1\n");
  EXPECT_EQ(sim.State().inputs, (std::array<std::uint16_t, 2>{0, 1}));
  EXPECT_NE(run("di 3 1").output.find("1 or 2"), std::string::npos);
  EXPECT_NE(run("di 1 70000").output.find("0 to 65535"), std::string::npos);
  EXPECT_NE(run("di 1").output.find("1,0"), std::string::npos);
  EXPECT_EQ(sim.State().inputs, (std::array<std::uint16_t, 2>{0, 1}));
  const std::string shown = run("show").output;
  EXPECT_NE(shown.find("address 100, control mode"), std::string::npos) << shown;
  EXPECT_NE(shown.find("0x0011 DI2=1"), std::string::npos) << shown;
  EXPECT_NE(shown.find("0x0017 relay4=0"), std::string::npos) << shown;
  EXPECT_NE(shown.find("replies sent 0"), std::string::npos) << shown;
  EXPECT_EQ(run("verbose on").output, "verbose on\n");
  EXPECT_TRUE(verbose);
  EXPECT_NE(run("frob").output.find("unknown command"), std::string::npos);
  EXPECT_TRUE(run("   ").output.empty());
  EXPECT_NE(run("help").output.find("di N V"), std::string::npos);
  EXPECT_TRUE(run("quit").quit);
  EXPECT_FALSE(run("show").quit);
}

}  // namespace
