#pragma once
// kestrum's commands, one entry each: the word, how many arguments follow it, its lines of
// --help, the step its result line names, how it runs on an open port and the module's reads it
// makes. A new read of the module is an entry in Commands.cpp that names its reads in the
// module's model (protocol/ModuleModel.h) and runs RunReads.

#include <atomic>
#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "ExitCode.h"
#include "Invocation.h"
#include "ModuleModel.h"
#include "Result.h"

namespace kestrum {

class ModuleCommands;

// What a command run on one port reports to, and what stops it.
struct CommandContext {
  const std::atomic<bool>& stop;
  std::function<void(Result)> report;
  std::function<void(const std::string&)> say;  // standard error
};

struct CommandEntry {
  const char* word;
  std::size_t argumentCount;  // the words after it
  // Puts those words into `run`, or throws a UsageError; null for a command that takes none.
  void (*takeArguments)(Invocation& run, std::span<const std::string> arguments);
  const char* help;  // its lines of the command list of --help
  // The step its result line names ("relay 1 on"); none when null.
  std::string (*step)(const Invocation& run);
  bool verdict;  // its line says pass or fail
  // It sends Modbus requests (all but the mode frame): the module is put into control mode
  // first, and the slave address must be one that answers.
  bool asksTheModule;
  // Ctrl-C is how it is meant to end (watch): its exit code is then that of its reads.
  bool endsOnStop;
  // Runs it, reporting each result; the exit code.
  ExitCode (*runOn)(const Invocation& run, ModuleCommands& module, const CommandContext& context);
  // The reads it makes, in this order, into one result line (read, watch).
  std::span<const modbus::RegisterRead> reads;
};

std::span<const CommandEntry> Commands();
// The entry of a parsed command line's word.
const CommandEntry& EntryOf(const std::string& word);
// Null for a word that names no command.
const CommandEntry* EntryNamed(const std::string& word);
// "read, relay, ...": the words for a usage message.
std::string CommandWords();

}  // namespace kestrum
