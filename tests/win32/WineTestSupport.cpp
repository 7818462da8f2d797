#include "WineTestSupport.h"

#include <ws2tcpip.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>

namespace wintest {

namespace {

using Clock = std::chrono::steady_clock;

std::string HexOf(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

Bytes BytesOfHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// A hung wait must not hang the run: a test still running after this long ends the whole
// program with a message naming it (the script counts the program as failed).
constexpr auto kTestLimit = std::chrono::seconds(60);

class Watchdog : public testing::EmptyTestEventListener {
 public:
  Watchdog() : thread_([this] { Run(); }) {}
  ~Watchdog() override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void OnTestStart(const testing::TestInfo& info) override {
    std::lock_guard lock(mutex_);
    name_ = std::string(info.test_suite_name()) + "." + info.name();
    deadline_ = Clock::now() + kTestLimit;
    armed_ = true;
  }

  void OnTestEnd(const testing::TestInfo&) override {
    std::lock_guard lock(mutex_);
    armed_ = false;
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
      changed_.wait_for(lock, std::chrono::milliseconds(200));
      if (armed_ && Clock::now() > deadline_) {
        std::fprintf(stderr, "[ WATCHDOG ] %s still running after %lld s: a wait hung; ending\n",
                     name_.c_str(), static_cast<long long>(kTestLimit.count()));
        std::fflush(stderr);
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), 3);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool quit_ = false;
  bool armed_ = false;
  std::string name_;
  Clock::time_point deadline_;
  std::thread thread_;
};

// gtest owns the listener once appended.
[[maybe_unused]] const bool kWatchdogInstalled = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
  return true;
}();

}  // namespace

bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

PtyPeer::PtyPeer() {
  const char* endpoint = std::getenv("RTUTEST_PEER");
  if (endpoint == nullptr) {
    ADD_FAILURE() << "RTUTEST_PEER is not set: run the Windows tests through "
                     "scripts/test-wine.sh, which provides the far end of the serial lines";
    return;
  }
  const std::string text = endpoint;
  const auto colon = text.find(':');
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    ADD_FAILURE() << "WSAStartup failed";
    return;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(text.c_str() + colon + 1)));
  ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &address.sin_addr);
  socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET ||
      ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot reach the pty peer at " << text;
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
}

PtyPeer::~PtyPeer() {
  if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
  ::WSACleanup();
}

std::string PtyPeer::Request(const std::string& line) {
  if (socket_ == INVALID_SOCKET) return "ERROR not connected";
  const std::string out = line + "\n";
  std::size_t sent = 0;
  while (sent < out.size()) {
    const int n = ::send(socket_, out.data() + sent, static_cast<int>(out.size() - sent), 0);
    if (n <= 0) return "ERROR send";
    sent += static_cast<std::size_t>(n);
  }
  std::string reply;
  char c;
  while (::recv(socket_, &c, 1, 0) == 1) {
    if (c == '\n') return reply;
    reply += c;
  }
  return "ERROR connection closed";
}

void PtyPeer::Write(const std::string& port, const Bytes& bytes) {
  const std::string reply = Request("WRITE " + port + " " + HexOf(bytes));
  EXPECT_EQ(reply, "OK") << "peer WRITE " << port;
}

Bytes PtyPeer::Read(const std::string& port, std::size_t count, std::chrono::milliseconds limit) {
  const std::string reply =
      Request("READ " + port + " " + std::to_string(count) + " " + std::to_string(limit.count()));
  EXPECT_EQ(reply.rfind("DATA ", 0), 0u) << "peer READ " << port << ": " << reply;
  return reply.size() > 5 ? BytesOfHex(reply.substr(5)) : Bytes{};
}

Bytes PtyPeer::Drain(const std::string& port, std::chrono::milliseconds quiet) {
  const std::string reply = Request("DRAIN " + port + " " + std::to_string(quiet.count()));
  EXPECT_EQ(reply.rfind("DATA ", 0), 0u) << "peer DRAIN " << port << ": " << reply;
  return reply.size() > 5 ? BytesOfHex(reply.substr(5)) : Bytes{};
}

int PtyPeer::Pending(const std::string& port) {
  const std::string reply = Request("PENDING " + port);
  EXPECT_EQ(reply.rfind("COUNT ", 0), 0u) << "peer PENDING " << port << ": " << reply;
  return reply.size() > 6 ? std::atoi(reply.c_str() + 6) : -1;
}

std::map<std::string, std::string> PtyPeer::Termios(const std::string& port) {
  const std::string reply = Request("TERMIOS " + port);
  EXPECT_EQ(reply.rfind("TERMIOS ", 0), 0u) << "peer TERMIOS " << port << ": " << reply;
  std::map<std::string, std::string> values;
  std::istringstream in(reply);
  std::string item;
  in >> item;  // "TERMIOS"
  while (in >> item) {
    const auto eq = item.find('=');
    if (eq != std::string::npos) values[item.substr(0, eq)] = item.substr(eq + 1);
  }
  return values;
}

void PtyPeer::Hangup(const std::string& port) {
  EXPECT_EQ(Request("HANGUP " + port), "OK") << "peer HANGUP " << port;
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace wintest
