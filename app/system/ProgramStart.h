#pragma once
// What the start routine needs of the system it runs on, and the only per-system code of the
// window: the command line as UTF-8 text, and a way to print to the console the program was
// started from (a Windows program with a window has no console of its own).

#include <string>
#include <vector>

std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Prints `text` (UTF-8) to standard error or standard output as they were handed to the program;
// on Windows, where a program with a window gets neither, to the console of the program that
// started it, if there is one.
void PrintToStartingConsole(const std::string& text, bool toError);
