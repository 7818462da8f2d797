// The command line: what each option puts where, and how mistakes end the program.
#include <gtest/gtest.h>

#include "ProgramOptions.h"

namespace {

TCommandLine Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "rtutest");
  return ParseCommandLine(arguments);
}

TEST(ProgramOptions, NoOptionsKeepTheDefaults) {
  const TCommandLine line = Parse({});
  EXPECT_EQ(line.action, TCommandLine::Action::Run);
  EXPECT_FALSE(line.options.port || line.options.baud || line.options.format ||
               line.options.address || line.options.logFile || line.options.open);
}

TEST(ProgramOptions, ValuesSeparateOrAfterEquals) {
  const TCommandLine line = Parse({"--port", "/tmp/kestrum", "--baud=115200", "--format", "7E2",
                                   "--address=0x64", "--open", "--log-file", "a=b.log"});
  ASSERT_EQ(line.action, TCommandLine::Action::Run);
  EXPECT_EQ(*line.options.port, "/tmp/kestrum");
  EXPECT_EQ(*line.options.baud, "115200");
  EXPECT_EQ(*line.options.format, "7E2");
  EXPECT_EQ(*line.options.address, "0x64");
  EXPECT_EQ(*line.options.logFile, "a=b.log");
  EXPECT_TRUE(line.options.open);
}

TEST(ProgramOptions, EmptyAndDashValuesAreTakenAsTyped) {
  const TCommandLine line = Parse({"--port=", "--baud", "-5", "--port", "--port"});
  ASSERT_EQ(line.action, TCommandLine::Action::Run);
  EXPECT_EQ(*line.options.port, "--port");  // the later one wins, its value taken whole
  EXPECT_EQ(*line.options.baud, "-5");
}

TEST(ProgramOptions, HelpAndVersionPrintToStandardOutputAndSucceed) {
  for (const char* option : {"--help", "--version"}) {
    const TCommandLine line = Parse({"--bogus-after-is-not-read", option});
    EXPECT_EQ(line.action, TCommandLine::Action::Exit) << option;
    EXPECT_EQ(line.exitCode, 2) << "a mistake before it still counts";
    const TCommandLine alone = Parse({option, "--bogus"});
    EXPECT_EQ(alone.exitCode, 0);
    EXPECT_FALSE(alone.outputIsError);
  }
  EXPECT_NE(Parse({"--help"}).output.find("--log-file PATH"), std::string::npos);
  EXPECT_EQ(Parse({"--version"}).output.rfind("rtutest ", 0), 0u);
}

TEST(ProgramOptions, MistakesGiveOneLineAndTheUsageOnStandardErrorWithCode2) {
  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"-p", "x"}, {"COM3"}, {"--port"}, {"--open=yes"}, {"--portx=1"}}) {
    const TCommandLine line = Parse(wrong);
    EXPECT_EQ(line.action, TCommandLine::Action::Exit) << wrong[0];
    EXPECT_EQ(line.exitCode, 2) << wrong[0];
    EXPECT_TRUE(line.outputIsError);
    const std::size_t firstBreak = line.output.find('\n');
    EXPECT_EQ(line.output.rfind("rtutest: ", 0), 0u);
    EXPECT_EQ(line.output.substr(firstBreak + 1), UsageText());
  }
}

}  // namespace
