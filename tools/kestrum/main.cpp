// kestrum: the KESTRUM module on the command line.
#include <fcntl.h>

#include <iostream>

#include "CommandLine.h"
#include "Interrupt.h"
#include "PortRun.h"
#include "ProjectVersion.h"
#include "Reporter.h"

namespace {

// Keeps descriptors 0 to 2 taken (by /dev/null where one is closed), so that a port opened
// later cannot become the output and take the results into the module's line. A closed
// standard output then fails the first result, as any output that cannot be written does.
void HoldStandardDescriptors() {
  const bool outputClosed = ::fcntl(1, F_GETFD) == -1;
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", O_RDWR);  // takes the lowest free one
  if (outputClosed) std::cout.setstate(std::ios::badbit);
}

}  // namespace

int main(int argc, char** argv) {
  HoldStandardDescriptors();
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
