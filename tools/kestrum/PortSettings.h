#pragma once
// Opens one port with the settings of the command line: the device name as the window takes
// it (COMn, a path, a name under /dev), its rate and format texts, and the reply time-out.

#include <memory>
#include <string>
#include <variant>

#include "OpenFailure.h"
#include "XComDrv.h"
#include "kestrum/CommandLine.h"

namespace kestrum {

// The open port, or why it could not be opened (in words, for standard error).
std::variant<std::unique_ptr<xcom::TXComm>, std::string> OpenPort(const Invocation& run,
                                                                  const std::string& name);

// Why an open failed, in words for standard error, with what to do about it.
std::string OpenFailureText(const xcom::OpenFailureInfo& failure);

// Start, data, parity and stop bits of one character.
unsigned BitsPerCharacter(const Invocation& run);

}  // namespace kestrum
