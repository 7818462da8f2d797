// The text of kestrum --help. docs/man/kestrum.1 says the same at more length.
#include "Commands.h"
#include "kestrum/CommandLine.h"

namespace kestrum {
namespace {

// The port option names the ports as the system does.
#ifdef _WIN32
constexpr const char* kPortOption =
    R"(  -p, --port NAME      serial port: COMn as the device manager shows it (COM1 to COM256);
                       or a serial device server: tcp://HOST:PORT (raw) or
                       rfc2217://HOST:PORT (sets the line), an IPv6 address as [ADDR]:PORT;
                       repeat the option to run the command on several ports at once
                       (each device once)
)";
#else
constexpr const char* kPortOption =
    R"(  -p, --port NAME      serial device: COMn, a path, or a name under /dev; or a serial
                       device server: tcp://HOST:PORT (raw) or rfc2217://HOST:PORT (sets the
                       line), an IPv6 address as [ADDR]:PORT; repeat the option to run the command
                       on several ports at once (each device once)
)";
#endif

std::string CommandList() {
  std::string list;
  for (const CommandEntry& entry : Commands()) list += entry.help;
  return list;
}

}  // namespace

std::string HelpText() {
  return R"(Usage: kestrum [options] COMMAND [arguments]
Reads and switches a KESTRUM remote I/O module over Modbus RTU, for scripts and production lines.

Commands:
)" + CommandList() +
         "\nOptions:\n" + kPortOption +
         R"(  -b, --baud RATE      baud rate (default 9600): 300 600 1200 2400 4800 9600 14400 19200
                       28800 33600 38400 57600 76800 115200 230400 460800 921600
  -f, --format FMT     data bits, parity, stop bits (default 8N1): 7 or 8, N E or O, 1 or 2
  -a, --address ADDR   slave address, decimal, 0x64 or $64; low 8 bits (default 100); 1 to
                       247 for every command but mode
  -t, --timeout MS     time to wait for each reply (default 500, at most 60000)
  -r, --retries N      times a missing or corrupt reply is asked for again (default 2)
      --json           one JSON object per result line
  -v, --verbose        every frame in hex with a time stamp on standard error
  -q, --quiet          no results on standard output, only the exit code and errors
  -h, --help           this text
      --version        the version

Exit codes:
  0  success (and every check step passed)
  1  the module answered, but a check step failed or it answered with an exception
  2  usage error
  3  no valid reply within the time-out and retries, or replies out of step
  4  the port cannot be opened, or the device was lost while in use
  5  a result could not be written (full disk, closed output)
  130  interrupted (Ctrl-C); every port is released
With several ports the exit code is the worst of them.
)";
}

}  // namespace kestrum
