#include <cstdio>

#include "ProgramStart.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return {argv, argv + argc};
}

void PrintToStartingConsole(const std::string& text, bool toError) {
  std::fputs(text.c_str(), toError ? stderr : stdout);
}
