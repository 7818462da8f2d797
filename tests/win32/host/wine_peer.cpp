// The far end of the serial lines for the Windows tests under Wine. Not part of the tool.
//
//   rtutest-wine-peer --dosdevices DIR --port com5 [--port com12 ...] [--timeout SECONDS]
//                     -- command [args...]
//
// For every --port it opens a pseudo-terminal pair, links DIR/<port> to the slave (so that
// "\\.\COM5" reaches it under Wine) and keeps the master. Then it runs the command (the test
// program under Wine) with RTUTEST_PEER=127.0.0.1:<tcp port> in its environment and serves
// one-line text commands from the tests on that TCP port until the command ends:
//
//   WRITE <port> <hex>        -> OK             put bytes on the line
//   READ <port> <count> <ms>  -> DATA <hex>     up to count bytes within ms
//   DRAIN <port> <quiet ms>   -> DATA <hex>     everything until the line is quiet
//   PENDING <port>            -> COUNT <n>      bytes the tests sent, unread here
//   TERMIOS <port>            -> TERMIOS k=v..  the line settings of the slave
//   HANGUP <port>             -> OK             close the master (the slave is hung up) and
//                                               link a fresh pair
//
// Its exit status is the command's; when the command outlives --timeout (a hang under Wine),
// its process group is killed and the status is 124.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "UniqueFd.h"

namespace {

using Clock = std::chrono::steady_clock;

using xcom::UniqueFd;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "rtutest-wine-peer: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(2);
}

std::string Lowercase(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// One serial line: the master we drive and a slave descriptor of our own, kept open so that
// the line settings can be read and the master never sees EIO between two opens by the tests.
struct Line {
  std::string link;
  UniqueFd master;
  UniqueFd slave;
};

void OpenLine(Line& line) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) Die("openpty");
  line.master = UniqueFd(master);
  line.slave = UniqueFd(slave);
  // The test program must not inherit either end: a copy of the master would keep the line
  // from ever hanging up.
  if (fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || fcntl(slave, F_SETFD, FD_CLOEXEC) != 0)
    Die("fcntl");
  termios raw{};
  if (tcgetattr(slave, &raw) != 0) Die("tcgetattr");
  cfmakeraw(&raw);
  if (tcsetattr(slave, TCSANOW, &raw) != 0) Die("tcsetattr");
  if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) Die("fcntl");
  char name[128];
  if (ptsname_r(master, name, sizeof name) != 0) Die("ptsname_r");
  const std::string tmp = line.link + ".new";
  ::unlink(tmp.c_str());
  if (::symlink(name, tmp.c_str()) != 0) Die("symlink " + tmp);
  if (::rename(tmp.c_str(), line.link.c_str()) != 0) Die("rename " + tmp);
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::optional<std::string> FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const auto nibble = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    } else {
      return false;
    }
  }
  return true;
}

// Reads from the master until `count` bytes (0: no limit) or `limit` passed; with `quietMs`
// set, also stops once nothing arrived for that long.
std::string ReadLine(int fd, std::size_t count, int limitMs, int quietMs) {
  std::string got;
  const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
  auto lastData = Clock::now();
  char buf[4096];
  for (;;) {
    const ssize_t n =
        ::read(fd, buf, count ? std::min(sizeof buf, count - got.size()) : sizeof buf);
    if (n > 0) {
      got.append(buf, static_cast<std::size_t>(n));
      lastData = Clock::now();
      if (count && got.size() >= count) break;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;  // EIO: no slave open
    const auto now = Clock::now();
    if (now >= end) break;
    if (quietMs > 0 && now - lastData >= std::chrono::milliseconds(quietMs)) break;
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, 10);
  }
  return got;
}

std::string SpeedText(speed_t s) {
  static const std::pair<speed_t, int> table[] = {
      {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
      {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
      {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
      {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
  for (const auto& [code, rate] : table)
    if (code == s) return std::to_string(rate);
  return "other";
}

std::string TermiosText(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return "ERROR tcgetattr";
  const int csize = (t.c_cflag & CSIZE) == CS5   ? 5
                    : (t.c_cflag & CSIZE) == CS6 ? 6
                    : (t.c_cflag & CSIZE) == CS7 ? 7
                                                 : 8;
  std::ostringstream out;
  out << "TERMIOS ispeed=" << SpeedText(cfgetispeed(&t)) << " ospeed=" << SpeedText(cfgetospeed(&t))
      << " csize=" << csize << " parenb=" << ((t.c_cflag & PARENB) ? 1 : 0)
      << " parodd=" << ((t.c_cflag & PARODD) ? 1 : 0)
      << " cmspar=" << ((t.c_cflag & CMSPAR) ? 1 : 0)
      << " cstopb=" << ((t.c_cflag & CSTOPB) ? 1 : 0)
      << " crtscts=" << ((t.c_cflag & CRTSCTS) ? 1 : 0) << " ixon=" << ((t.c_iflag & IXON) ? 1 : 0)
      << " ixoff=" << ((t.c_iflag & IXOFF) ? 1 : 0) << " icanon=" << ((t.c_lflag & ICANON) ? 1 : 0)
      << " echo=" << ((t.c_lflag & ECHO) ? 1 : 0) << " vstart=" << static_cast<int>(t.c_cc[VSTART])
      << " vstop=" << static_cast<int>(t.c_cc[VSTOP]);
  return out.str();
}

class Peer {
 public:
  explicit Peer(std::map<std::string, Line>& lines) : lines_(lines) {}

  std::string Handle(const std::string& request) {
    std::istringstream in(request);
    std::string verb, port;
    in >> verb >> port;
    port = Lowercase(port);
    const auto it = lines_.find(port);
    if (it == lines_.end()) return "ERROR unknown port '" + port + "'";
    Line& line = it->second;
    if (verb == "WRITE") {
      std::string hex;
      in >> hex;
      const auto bytes = FromHex(hex);
      if (!bytes) return "ERROR bad hex";
      return WriteAll(line.master.Get(), *bytes)
                 ? "OK"
                 : std::string("ERROR write: ") + std::strerror(errno);
    }
    if (verb == "READ") {
      std::size_t count = 0;
      int ms = 0;
      if (!(in >> count >> ms) || count == 0) return "ERROR usage: READ port count ms";
      return "DATA " + ToHex(ReadLine(line.master.Get(), count, ms, 0));
    }
    if (verb == "DRAIN") {
      int quiet = 0;
      if (!(in >> quiet) || quiet <= 0) return "ERROR usage: DRAIN port quietms";
      return "DATA " + ToHex(ReadLine(line.master.Get(), 0, 60000, quiet));
    }
    if (verb == "PENDING") {
      int n = 0;
      if (ioctl(line.master.Get(), FIONREAD, &n) != 0) return "ERROR FIONREAD";
      return "COUNT " + std::to_string(n);
    }
    if (verb == "TERMIOS") return TermiosText(line.slave.Get());
    if (verb == "HANGUP") {
      line.master.Reset();
      line.slave.Reset();
      OpenLine(line);
      return "OK";
    }
    return "ERROR unknown command '" + verb + "'";
  }

 private:
  std::map<std::string, Line>& lines_;
};

volatile sig_atomic_t childDone = 0;
void OnChild(int) {
  childDone = 1;
}

struct PeerOptions {
  std::string dosdevices;
  std::vector<std::string> ports;  // lower case
  int timeoutSeconds = 300;
  char** command = nullptr;  // the program to run and its arguments, as argv ends them
};

// The options before "--" and the command after it; nothing (after a message) when they are
// not usable.
std::optional<PeerOptions> ParseOptions(int argc, char** argv) {
  PeerOptions options;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--dosdevices" && i + 1 < argc) {
      options.dosdevices = argv[++i];
    } else if (a == "--port" && i + 1 < argc) {
      options.ports.push_back(Lowercase(argv[++i]));
    } else if (a == "--timeout" && i + 1 < argc) {
      options.timeoutSeconds = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "rtutest-wine-peer: unknown argument '%s'\n", a.c_str());
      return std::nullopt;
    }
  }
  if (options.dosdevices.empty() || i >= argc) {
    std::fprintf(
        stderr,
        "usage: rtutest-wine-peer --dosdevices DIR --port comN... [--timeout S] -- cmd...\n");
    return std::nullopt;
  }
  options.command = argv + i;
  return options;
}

// A TCP listener on the loopback interface at a port the system picks, and its address
// "127.0.0.1:<port>".
std::pair<UniqueFd, std::string> ListenOnLoopback() {
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener.Get() < 0) Die("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) Die("bind");
  if (::listen(listener.Get(), 8) != 0) Die("listen");
  socklen_t len = sizeof addr;
  if (::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    Die("getsockname");
  return {std::move(listener), "127.0.0.1:" + std::to_string(ntohs(addr.sin_port))};
}

// Runs the command in a process group of its own (so that a hang can be killed whole), with
// the peer's address and ports in its environment.
pid_t StartCommand(const PeerOptions& options, const std::string& endpoint) {
  struct sigaction sa {};
  sa.sa_handler = OnChild;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGCHLD, &sa, nullptr);

  const pid_t child = ::fork();
  if (child < 0) Die("fork");
  if (child == 0) {
    ::setpgid(0, 0);
    ::setenv("RTUTEST_PEER", endpoint.c_str(), 1);
    std::string names;
    for (const auto& p : options.ports) names += (names.empty() ? "" : ",") + p;
    ::setenv("RTUTEST_PEER_PORTS", names.c_str(), 1);
    ::execvp(options.command[0], options.command);
    std::fprintf(stderr, "rtutest-wine-peer: cannot run %s: %s\n", options.command[0],
                 std::strerror(errno));
    ::_exit(127);
  }
  ::setpgid(child, child);
  return child;
}

// One connection of the tests, with what it sent beyond its last whole line.
struct Client {
  UniqueFd fd;
  std::string pending;
};

// Takes what the client sent and answers each whole line; closes the client when it is gone.
void ServeClient(Client& c, Peer& peer) {
  char buf[65536];
  const ssize_t n = ::recv(c.fd.Get(), buf, sizeof buf, 0);
  if (n <= 0) {
    c.fd.Reset();
    return;
  }
  c.pending.append(buf, static_cast<std::size_t>(n));
  std::size_t eol;
  while ((eol = c.pending.find('\n')) != std::string::npos) {
    std::string request = c.pending.substr(0, eol);
    c.pending.erase(0, eol + 1);
    if (!request.empty() && request.back() == '\r') request.pop_back();
    const std::string reply = peer.Handle(request) + "\n";
    if (!WriteAll(c.fd.Get(), reply)) c.fd.Reset();
    if (c.fd.Get() < 0) return;
  }
}

// Serves the tests until the command ends, or kills it once it outlives --timeout; its wait
// status, nothing when it was killed.
std::optional<int> ServeUntilExit(const UniqueFd& listener, Peer& peer, pid_t child,
                                  const PeerOptions& options) {
  std::vector<Client> clients;
  const auto deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
  for (;;) {
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == child) return status;
    if (Clock::now() >= deadline) {
      std::fprintf(stderr, "rtutest-wine-peer: '%s' still running after %d s: killing it\n",
                   options.command[0], options.timeoutSeconds);
      ::kill(-child, SIGKILL);
      ::waitpid(child, &status, 0);
      return std::nullopt;
    }
    std::vector<pollfd> fds;
    fds.push_back({listener.Get(), POLLIN, 0});
    for (const auto& c : clients) fds.push_back({c.fd.Get(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      const int fd = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) clients.push_back({UniqueFd(fd), {}});
    }
    for (std::size_t k = 1; k < fds.size(); ++k)
      if (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) ServeClient(clients[k - 1], peer);
    clients.erase(std::remove_if(clients.begin(), clients.end(),
                                 [](const Client& c) { return c.fd.Get() < 0; }),
                  clients.end());
  }
}

// The command's exit status as a shell gives it; 124 after a time-out.
int ExitStatus(std::optional<int> status) {
  if (!status) return 124;
  if (WIFEXITED(*status)) return WEXITSTATUS(*status);
  if (WIFSIGNALED(*status)) return 128 + WTERMSIG(*status);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<PeerOptions> options = ParseOptions(argc, argv);
  if (!options) return 2;
  std::map<std::string, Line> lines;
  for (const auto& p : options->ports) {
    Line& line = lines[p];
    line.link = options->dosdevices + "/" + p;
    OpenLine(line);
  }
  const auto [listener, endpoint] = ListenOnLoopback();
  const pid_t child = StartCommand(*options, endpoint);
  Peer peer(lines);
  const std::optional<int> status = ServeUntilExit(listener, peer, child, *options);
  for (auto& [name, line] : lines) ::unlink(line.link.c_str());
  return ExitStatus(status);
}
