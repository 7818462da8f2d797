#pragma once
// The simulated module's end of the line: a pseudo-terminal it creates, or a serial device
// that exists already (a USB-RS485 adapter, one side of a socat pair), set up with termios.

#include <string>

#include "LineSettings.h"
#include "UniqueFd.h"

namespace kestrum_sim {

using xcom::UniqueFd;

// Raw mode (no echo, no line editing, no translation, no flow control), the baud rate and the
// character format. Throws std::system_error when the device refuses.
void ConfigureLine(int fd, const LineSettings& line);

// Sets a baud rate termios has no constant for (the component's termios2 routine). Returns
// false on failure.
bool SetArbitraryBaud(int fd, unsigned baud);

// Opens an existing serial device for the module, after checking (before opening) that it is a
// serial line by the tool's rule, takes an exclusive flock on it (a second program that honours
// the lock cannot open it too) and configures it.
// Throws std::system_error with the device path in the message.
UniqueFd OpenSerialDevice(const std::string& path, const LineSettings& line);

// A pseudo-terminal for the module. The module works on the master; the tool opens the slave
// path. The object keeps a descriptor of the slave open too, so the master does not see a
// hang-up while the tool has the port closed; the slave starts in raw mode with the module's
// settings. An optional link is a symbolic link to the slave path, removed again by the
// destructor (only while it still points to this pseudo-terminal). An existing link is replaced
// only when it is left over (dangling, or to a pseudo-terminal) and no running simulator has it.
class PseudoTerminal {
 public:
  // Throws std::system_error when no pseudo-terminal can be had or the link cannot be made.
  explicit PseudoTerminal(const LineSettings& line, const std::string& link = {});
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  int MasterFd() const { return master_.Get(); }
  // "/dev/pts/N": what the tool opens.
  const std::string& SlavePath() const { return slavePath_; }
  const std::string& LinkPath() const { return link_; }
  // Removes the link now (also done by the destructor); safe to call twice.
  void RemoveLink();

 private:
  void PlaceLink(const std::string& link);

  UniqueFd master_;
  UniqueFd slave_;
  UniqueFd linkClaim_;  // holds the link's name while this simulator runs
  std::string slavePath_;
  std::string link_;
};

}  // namespace kestrum_sim
