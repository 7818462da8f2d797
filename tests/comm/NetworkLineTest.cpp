// A port on network lines against servers of this test's own on loopback: hostile ones (silent,
// endless negotiation, a giant sub-negotiation, garbage, a hang-up), and a cooperating RFC 2217
// server that leaves the modem lines unanswered, as ser2net on a pseudo-terminal does.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "ComPortOption.h"
#include "TelnetCodec.h"
#include "TestSupport.h"
#include "XComDrv.h"

using namespace xcom;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The few socket calls the servers below make, on both systems.
#ifdef _WIN32
using Socket = SOCKET;
constexpr int kNoSignal = 0;
constexpr int kBothWays = SD_BOTH;
void CloseSocket(Socket s) {
  ::closesocket(s);
}
void MakeNonBlocking(Socket s) {
  u_long on = 1;
  ::ioctlsocket(s, FIONBIO, &on);
}
const bool winsockStarted = [] {
  WSADATA data;
  return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
#else
using Socket = int;
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kBothWays = SHUT_RDWR;
void CloseSocket(Socket s) {
  ::close(s);
}
void MakeNonBlocking(Socket) {}
#endif

// Serves one connection with `behaviour(fd, stop)` on a thread; the socket closes afterwards.
class Server {
 public:
  explicit Server(std::function<void(Socket, std::atomic<bool>&)> behaviour) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, behaviour] {
      const Socket fd = ::accept(listener_, nullptr, nullptr);
      if (fd == static_cast<Socket>(-1)) return;
      behaviour(fd, stop_);
      CloseSocket(fd);
    });
  }
  ~Server() {
    stop_ = true;
    // Ends an accept still waiting: a shutdown does on Linux, only the close does on Windows.
    ::shutdown(listener_, kBothWays);
#ifdef _WIN32
    CloseSocket(listener_);
    thread_.join();
#else
    thread_.join();
    CloseSocket(listener_);
#endif
  }
  std::string Name(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }

 private:
  Socket listener_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void SendAll(Socket fd, const ByteString& bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    const auto n = ::send(fd, reinterpret_cast<const char*>(bytes.data() + sent),
                          static_cast<int>(bytes.size() - sent), kNoSignal);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

// Sends `chunk` over and over until the test ends or the client goes.
auto Flood(ByteString chunk) {
  return [chunk](Socket fd, std::atomic<bool>& stop) {
    while (!stop && ::send(fd, reinterpret_cast<const char*>(chunk.data()),
                           static_cast<int>(chunk.size()), kNoSignal) > 0) {
    }
  };
}

TEST(NetworkLine, HostileServersCannotHangTheOpenOrGrowTheTool) {
  using telnet::IAC;
  ByteString giant{IAC, telnet::SB, telnet::kOptionComPort};
  const struct {
    const char* what;
    std::function<void(Socket, std::atomic<bool>&)> behaviour;
    bool opens;
  } cases[] = {
      {"silent",
       [](Socket, std::atomic<bool>& stop) {
         testsupport::WaitUntil([&] { return stop.load(); }, 10s);
       },
       true},
      {"endless negotiation",
       Flood({IAC, telnet::DO, 24, IAC, telnet::WILL, 31, IAC, telnet::DONT, 24}), true},
      {"giant sub-negotiation",
       [giant](Socket fd, std::atomic<bool>& stop) {
         SendAll(fd, giant);
         Flood(ByteString(4096, 0x41))(fd, stop);
       },
       true},
      {"a flood of data", Flood({0x41, IAC, IAC, 0x00, 0xF0, 0x13}), true},
      {"garbage", Flood({0x00, 0xFF, 0xFA, 0x2C, 0x6B, 0xFF, 0xFF, 0x13, 0xF0, 0xFB}), true},
      {"hang-up at once", [](Socket, std::atomic<bool>&) {}, false},
  };
  for (const auto& c : cases) {
    Server server(c.behaviour);
    TXComm port;
    port.SetDeviceName(server.Name("rfc2217"));
    const auto start = Clock::now();
    EXPECT_EQ(port.OpenDevice(), c.opens) << c.what;
    EXPECT_LT(Clock::now() - start, 3s) << c.what;
    if (!c.opens) {
      EXPECT_EQ(port.OpenFailureReason().reason, OpenFailure::Busy) << c.what;
      continue;
    }
    ByteString data;
    for (int i = 0; i < 20; ++i) port.ReadString(data);  // drains what arrived, never all of it
    EXPECT_LE(port.QueueCount(0), 64u * 1024u) << c.what;
    EXPECT_EQ(port.SettingsReport().outcome, LineSettingsOutcome::ServerOwned) << c.what;
  }
}

// An RFC 2217 server that takes the option, answers each command but DTR and RTS, and keeps and
// echoes the data it receives.
struct ComPortServer {
  std::mutex mutex;
  ByteString received;  // guarded by mutex
  std::atomic<bool> hangUp{false};
  ByteString Received() {
    std::lock_guard lock(mutex);
    return received;
  }
  void operator()(Socket fd, std::atomic<bool>& stop) {
    telnet::TelnetCodec codec({telnet::kOptionComPort, telnet::kOptionBinary},
                              {telnet::kOptionComPort, telnet::kOptionBinary});
    ByteString replies;
    codec.OnSubnegotiation([&](std::uint8_t, const ByteString& body) {
      const bool modemLine = body[0] == rfc2217::kSetControl && body[1] >= 8 && body[1] <= 12;
      if (body[0] > rfc2217::kLastCommand || modemLine) return;
      ByteString answer = body;
      answer[0] = static_cast<std::uint8_t>(answer[0] + rfc2217::kServerOffset);
      const ByteString out = telnet::Subnegotiation(telnet::kOptionComPort, answer);
      replies.insert(replies.end(), out.begin(), out.end());
    });
    MakeNonBlocking(fd);
    std::uint8_t buffer[512];
    while (!stop && !hangUp) {
#ifdef _WIN32
      const int n = ::recv(fd, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
#else
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
#endif
      if (n == 0) return;
      ByteString data;
      if (n > 0) codec.Receive(buffer, static_cast<std::size_t>(n), data, replies);
      telnet::AppendEscaped(data.data(), data.size(), replies);
      {
        std::lock_guard lock(mutex);
        received.insert(received.end(), data.begin(), data.end());
      }
      if (!replies.empty()) SendAll(fd, std::exchange(replies, {}));
      std::this_thread::sleep_for(1ms);
    }
  }
};

TEST(NetworkLine, Rfc2217CarriesEvery0xFFAndTellsWhatWentUnanswered) {
  ComPortServer behaviour;
  Server server(std::ref(behaviour));
  TXComm port;
  port.SetDeviceName(server.Name("rfc2217"));
  const auto start = Clock::now();
  ASSERT_TRUE(port.OpenDevice());
  EXPECT_LT(Clock::now() - start, 1500ms);  // the unanswered modem lines cost one short wait
  EXPECT_EQ(port.SettingsReport(),
            (LineSettingsReport{LineSettingsOutcome::Unconfirmed, kSettingModemLines}));
  const ByteString frame{0x01, 0x03, 0x04, 0x00, 0x3C, 0x00, 0x01, 0xFB, 0xFF};
  ASSERT_TRUE(port.SendString(frame));
  EXPECT_TRUE(testsupport::WaitUntil([&] { return port.QueueCount(0) >= frame.size(); }, 2s));
  EXPECT_EQ(behaviour.Received(), frame);
  ByteString echoed;
  port.ReadString(echoed);
  EXPECT_EQ(echoed, frame);
  // A settings change waits no longer for what the server never answered.
  const auto change = Clock::now();
  port.SetBaudRate(br19200);
  EXPECT_LT(Clock::now() - change, 300ms);
  EXPECT_EQ(port.BaudValue(), 19200u);  // as the server answered
  behaviour.hangUp = true;
  EXPECT_TRUE(testsupport::WaitUntil([&] { return port.DeviceLost(); }, 2s));
}

TEST(NetworkLine, RawLineOwnsNoSettingsAndRefusalIsTold) {
  ComPortServer behaviour;  // raw: everything it receives is data
  Server server(std::ref(behaviour));
  TXComm port;
  port.SetDeviceName(server.Name("tcp"));
  ASSERT_TRUE(port.OpenDevice());
  EXPECT_EQ(port.SettingsReport().outcome, LineSettingsOutcome::ServerOwned);
  port.CloseDevice();
  TXComm refused;
  refused.SetDeviceName("tcp://127.0.0.1:1");
  EXPECT_FALSE(refused.OpenDevice());
  EXPECT_EQ(refused.OpenFailureReason().reason, OpenFailure::ConnectionRefused);
}

}  // namespace
