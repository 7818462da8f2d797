#include <cstdio>

#include "ProgramStart.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return {argv, argv + argc};
}

void ShowCommandLineOutput(const std::string& text, bool isError) {
  std::fputs(text.c_str(), isError ? stderr : stdout);
}
