#pragma once
// Everything kestrum writes: result lines on standard output (plain or JSON), messages and the
// verbose frame trace on standard error. Several port threads share one reporter; each line
// is written whole.

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>

#include "ByteString.h"
#include "Result.h"

namespace kestrum {

struct ReportStyle {
  bool json = false;
  bool quiet = false;     // no result lines
  bool verbose = false;   // frame trace
  bool tagPorts = false;  // plain lines start with "PORT: " (several ports)
};

class Reporter {
 public:
  Reporter(std::ostream& out, std::ostream& err, ReportStyle style);

  // A result line (stdout) and, for a result with an error, the message (stderr).
  void Report(const std::string& port, std::uint8_t address, const Result& result);
  // "kestrum: PORT: text" on stderr.
  void Message(const std::string& port, const std::string& text);
  // With --verbose: "HH:MM:SS.mmm PORT TX|RX hex" on stderr.
  void Frame(const std::string& port, bool sent, const xcom::ByteString& bytes);
  bool Verbose() const { return style_.verbose; }

  // A result that cannot be written ends the run: `stop` is raised for every port. A full disk
  // is said on standard error once; a reader that went away (a closed pipe) ends it quietly.
  void StopOnOutputFailure(std::atomic<bool>* stop) { stopOnFailure_ = stop; }
  bool OutputFailed() const { return outputFailed_; }

 private:
  std::string PlainLine(const std::string& port, const Result& result) const;
  // Writes one result line; on failure tells why once and raises the stop.
  void WriteResultLine(const std::string& line);

  std::ostream& out_;
  std::ostream& err_;
  const ReportStyle style_;
  std::mutex mutex_;
  std::atomic<bool>* stopOnFailure_ = nullptr;
  std::atomic<bool> outputFailed_{false};
};

// The result as one JSON object (no newline).
std::string JsonLine(const std::string& port, std::uint8_t address, const Result& result);

}  // namespace kestrum
