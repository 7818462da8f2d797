// kestrum: the KESTRUM module on the command line.
#include <iostream>

#include "Interrupt.h"
#include "PortRun.h"
#include "ProjectVersion.h"
#include "Reporter.h"
#include "StandardDescriptors.h"
#include "kestrum/CommandLine.h"

int main(int argc, char** argv) {
  kestrum::HoldStandardDescriptors();
  using kestrum::ParsedCommandLine;
  const ParsedCommandLine parsed =
      kestrum::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (parsed.action) {
    case ParsedCommandLine::Action::Help:
      std::cout << kestrum::HelpText();
      return 0;
    case ParsedCommandLine::Action::Version:
      std::cout << "kestrum " << kProjectVersion << '\n';
      return 0;
    case ParsedCommandLine::Action::UsageError:
      std::cerr << "kestrum: " << parsed.error << "\nTry 'kestrum --help'.\n";
      return static_cast<int>(kestrum::ExitCode::Usage);
    case ParsedCommandLine::Action::Run:
      break;
  }
  const kestrum::Invocation& run = parsed.invocation;
  kestrum::Reporter reporter(std::cout, std::cerr,
                             {run.json, run.quiet, run.verbose, run.ports.size() > 1});
  auto& stop = kestrum::InstallInterruptHandlers();
  reporter.StopOnOutputFailure(&stop);
  return static_cast<int>(kestrum::RunOnAllPorts(run, reporter, stop));
}
