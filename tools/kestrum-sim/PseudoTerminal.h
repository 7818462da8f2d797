#pragma once
// The simulated module's own line: a pseudo-terminal it creates, with an optional link to it.

#include <string>

#include "LineSettings.h"
#include "UniqueFd.h"

namespace kestrum_sim {

using xcom::UniqueFd;

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
