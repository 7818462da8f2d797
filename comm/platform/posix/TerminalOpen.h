#pragma once
// Taking a terminal that a backend has opened for this component: the part of opening every
// POSIX backend shares.

#include <memory>

#include "CommDevice.h"
#include "UniqueFd.h"

namespace xcom {

// `fd` is the checked device, opened O_RDWR | O_NOCTTY | O_NONBLOCK. The device is taken with
// flock(LOCK_EX | LOCK_NB): a second open by this component or any program that takes flock (the
// simulated module does) fails, and the kernel drops the lock when the process ends, however it
// ends. flock is advisory: a program that does not take it can still open the device. On a real
// serial line TIOCEXCL is set as well, which keeps out other programs of ordinary users (the flag
// goes with the device's last close); root can open a terminal whatever its exclusive flag says.
// A pseudo-terminal gets no TIOCEXCL: its flag would outlive this process while the other end
// lives, and lock out the next open. The line is put in raw mode at once, so that it never
// echoes or edits what arrives; closing gives it back the settings it had before (LineRestore.h).
// Notes the outcome (OpenFailureNote.h); nullptr when the device cannot be taken.
std::unique_ptr<CommDevice> TakeTerminal(UniqueFd fd, bool pseudoTerminal);

}  // namespace xcom
