#pragma once
// What the start routine needs of the system it runs on, and the only per-system code of the
// window: the command line as UTF-8 text, and a way to show what the command line answers
// (--help, --version, a mistake) where the person who started the program sees it.

#include <string>
#include <vector>

std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Prints `text` (UTF-8) to standard error or standard output as they were handed to the program.
// On Windows, where a program with a window gets neither, it goes to the console of the program
// that started it, and without one (a shortcut, Explorer) into a message box.
void ShowCommandLineOutput(const std::string& text, bool isError);
