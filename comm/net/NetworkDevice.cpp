#include "NetworkDevice.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "ComPortOption.h"
#include "NetSocket.h"
#include "OpenFailureNote.h"
#include "Synchronizer.h"
#include "TelnetCodec.h"
#include "XComTypes.h"

namespace xcom {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kConnectTimeout{3000};
// How long an open waits for the server to take up the COM-PORT-OPTION, and a settings change
// for the server's answers. A server that answers does so within milliseconds on a LAN.
constexpr milliseconds kNegotiationWait{1000};
constexpr milliseconds kAnswerWait{500};
// Answers are waited for in one piece this long, then on a window's thread in slices.
constexpr milliseconds kQuickAnswer{50};
constexpr int kSliceMs = 20;
constexpr milliseconds kReceiveSlice{250};
// RFC 2217: after this much silence the server is asked for its rate; an answer that does not
// come within kProbeAnswer makes the line lost (on top of TCP's own keepalive).
constexpr milliseconds kIdleBeforeProbe{1000};
constexpr milliseconds kProbeAnswer{3000};
// The most bytes held for the reader; more is dropped and counted as an overrun, as a driver
// whose queue is full does.
constexpr std::size_t kInputLimit = 64 * 1024;
constexpr std::uint32_t kOverrunError = 0x0001;  // CE_RXOVER

constexpr std::uint32_t EventBit(TDeviceEvent event) {
  return 1u << event;
}

// Which report bit each command answers for.
std::uint32_t ReportBitOf(rfc2217::Command command, std::uint8_t value) {
  switch (command) {
    case rfc2217::kSetBaudRate:
      return kSettingRate;
    case rfc2217::kSetDataSize:
      return kSettingDataSize;
    case rfc2217::kSetParity:
      return kSettingParity;
    case rfc2217::kSetStopSize:
      return kSettingStopSize;
    default:
      return value >= rfc2217::kControlDtrOn && value <= rfc2217::kControlRtsOff
                 ? kSettingModemLines
                 : kSettingFlowControl;
  }
}

// One process uses one server port once: a second port of this program opening the same name
// finds it busy, as a local line's lock would. The server decides about other programs.
class OpenAddresses {
 public:
  static bool Claim(const std::string& key) {
    std::lock_guard lock(Mutex());
    return Held().insert(key).second;
  }
  static void Release(const std::string& key) {
    std::lock_guard lock(Mutex());
    Held().erase(key);
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::set<std::string>& Held() {
    static std::set<std::string> held;
    return held;
  }
};

std::string KeyOf(const NetworkAddress& address) {
  std::string key = address.host;
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return key + "|" + address.port;
}

class NetworkDevice final : public CommDevice {
 public:
  NetworkDevice(const NetworkAddress& address, std::unique_ptr<NetSocket> socket,
                std::unique_ptr<Doorbell> doorbell)
      : key_(KeyOf(address)),
        telnet_(address.mode == NetworkMode::Rfc2217),
        socket_(std::move(socket)),
        doorbell_(std::move(doorbell)),
        codec_({telnet::kOptionBinary, telnet::kOptionComPort},
               {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead}) {
    codec_.OnSubnegotiation([this](std::uint8_t option, const ByteString& body) {
      if (option == telnet::kOptionComPort) server_.Take(body);
    });
    report_.outcome = telnet_ ? LineSettingsOutcome::Applied : LineSettingsOutcome::ServerOwned;
    lastHeard_ = Clock::now();
    receiver_ = std::thread([this] { ReceiveLoop(); });
  }

  ~NetworkDevice() override {
    stopping_ = true;
    socket_->ShutDown();
    receiver_.join();
    OpenAddresses::Release(key_);
  }

  NetworkDevice(const NetworkDevice&) = delete;
  NetworkDevice& operator=(const NetworkDevice&) = delete;

  // RFC 2217: takes up the option with the server. False, with the reason noted, when the
  // server hung up meanwhile (it serves another client).
  bool Start();

  bool SetCommState(const DCB& dcb) override;
  bool GetCommState(DCB& dcb) override;
  bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override {
    std::lock_guard lock(mutex_);
    inQueue_ = inQueue;
    outQueue_ = outQueue;
    return true;
  }
  bool PurgeComm(std::uint32_t flags) override;
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return true;
  }
  bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override {
    std::lock_guard lock(mutex_);
    timeouts = timeouts_;
    return true;
  }
  bool GetCommProperties(COMMPROP& properties) override {
    std::memset(&properties, 0, sizeof properties);
    std::lock_guard lock(mutex_);
    properties.wPacketLength = sizeof(COMMPROP);
    properties.dwCurrentRxQueue = inQueue_;
    properties.dwCurrentTxQueue = outQueue_;
    return true;
  }
  bool ClearCommError(std::uint32_t& errors, COMSTAT& status) override {
    status = COMSTAT{};
    status.cbOutQue = socket_->Unacknowledged();
    std::lock_guard lock(mutex_);
    errors = std::exchange(errors_, 0);
    status.cbInQue = static_cast<std::uint32_t>(input_.size());
    return true;
  }
  bool SetCommMask(std::uint32_t mask) override {
    {
      std::lock_guard lock(mutex_);
      mask_ = mask;
      pending_ &= mask;
    }
    doorbell_->Ring();
    return true;
  }
  std::uint32_t WriteOverlapped(const std::uint8_t* buffer, std::uint32_t count) override;
  std::uint32_t ReadOverlapped(std::uint8_t* buffer, std::uint32_t count) override;
  WaitOutcome WaitCommEvent(StopSignal& stop, std::uint32_t& eventMask) override;
  void WaitForInput(std::uint32_t ms) override {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, milliseconds(ms), [this] { return !input_.empty() || lost_; });
  }
  void WaitForOutputRoom(std::uint32_t ms) override {
    // The socket takes what the server has room for; a full one is waited for by the write.
    std::this_thread::sleep_for(milliseconds(std::min<std::uint32_t>(ms, 10)));
  }
  bool DeviceLost() const override { return lost_; }
  LineSettingsReport SettingsReport() const override {
    std::lock_guard lock(mutex_);
    return report_;
  }

 private:
  void ReceiveLoop();
  void TakeReceived(const std::uint8_t* bytes, std::size_t count, ByteString& replies);
  bool Probe(ByteString& replies);
  bool SendBytes(const ByteString& bytes);
  void MarkLost();
  void Notify(std::uint32_t events);
  // Waits, at most until `deadline`, until `done()` holds or the line is lost. A server answers
  // within milliseconds; one that does not is waited for, on a window's thread, in slices of
  // its own wait, so that the window keeps answering meanwhile.
  template <typename Done>
  bool WaitFor(Clock::time_point deadline, Done done) {
    std::unique_lock lock(mutex_);
    const auto settled = [&] { return done() || lost_; };
    const auto quickly = std::min(deadline, Clock::now() + kQuickAnswer);
    if (!changed_.wait_until(lock, quickly, settled) &&
        Synchronizer::Instance().HasMainThreadWait()) {
      while (!settled() && Clock::now() < deadline) {
        lock.unlock();
        Synchronizer::Instance().MainThreadWait(kSliceMs);
        lock.lock();
      }
    } else {
      changed_.wait_until(lock, deadline, settled);
    }
    return done() && !lost_;
  }

  const std::string key_;
  const bool telnet_;
  const std::unique_ptr<NetSocket> socket_;
  const std::unique_ptr<Doorbell> doorbell_;
  std::atomic<bool> lost_{false};
  std::atomic<bool> stopping_{false};
  std::mutex sendMutex_;  // one sender at a time: a command never splits escaped data

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  telnet::TelnetCodec codec_;
  rfc2217::ServerState server_;
  ByteString input_;
  std::uint32_t pending_ = 0;  // events not yet reported by a wait
  std::uint32_t mask_ = 0;
  std::uint32_t errors_ = 0;
  std::uint32_t inQueue_ = 0, outQueue_ = 0;
  COMMTIMEOUTS timeouts_{};
  DCB dcb_{};
  LineSettingsReport report_;
  std::uint32_t neverAnswered_ = 0;  // report bits not waited for again
  Clock::time_point lastHeard_;
  bool probing_ = false;
  Clock::time_point probeSent_;

  std::thread receiver_;  // last: started when everything it uses exists
};

void NetworkDevice::ReceiveLoop() {
  std::uint8_t buffer[4096];
  while (!stopping_) {
    const long n = socket_->Receive(buffer, sizeof buffer, kReceiveSlice);
    if (n < 0) {
      if (!stopping_) MarkLost();
      return;
    }
    ByteString replies;
    if (n > 0) {
      TakeReceived(buffer, static_cast<std::size_t>(n), replies);
    } else if (telnet_ && !Probe(replies)) {
      MarkLost();
      return;
    }
    if (!replies.empty() && !SendBytes(replies)) {
      MarkLost();
      return;
    }
  }
}

void NetworkDevice::TakeReceived(const std::uint8_t* bytes, std::size_t count,
                                 ByteString& replies) {
  std::uint32_t events = 0;
  {
    std::lock_guard lock(mutex_);
    lastHeard_ = Clock::now();
    probing_ = false;
    ByteString data;
    if (telnet_)
      codec_.Receive(bytes, count, data, replies);
    else
      data.assign(bytes, bytes + count);
    const std::size_t room = kInputLimit - std::min(kInputLimit, input_.size());
    if (data.size() > room) errors_ |= kOverrunError;
    input_.insert(input_.end(), data.begin(), data.begin() + std::min(room, data.size()));
    if (!data.empty()) events |= EventBit(deChar);
    events |= server_.TakeEvents();
    errors_ |= server_.TakeErrors();
  }
  Notify(events);
}

// A server that has said nothing for a while is asked for its rate: one that answers nothing
// more has gone (frozen, or its network lost), even while TCP still holds the connection.
// False once it has not answered in time.
bool NetworkDevice::Probe(ByteString& replies) {
  std::lock_guard lock(mutex_);
  if (codec_.Local(telnet::kOptionComPort) != telnet::OptionState::Yes) return true;
  const Clock::time_point now = Clock::now();
  if (probing_) return now - probeSent_ <= kProbeAnswer;
  if (now - lastHeard_ < kIdleBeforeProbe) return true;
  probing_ = true;
  probeSent_ = now;
  const ByteString ask = rfc2217::CommandBytes(rfc2217::kSetBaudRate, {0, 0, 0, 0});
  replies.insert(replies.end(), ask.begin(), ask.end());
  return true;
}

bool NetworkDevice::SendBytes(const ByteString& bytes) {
  std::lock_guard lock(sendMutex_);
  return socket_->Send(bytes.data(), bytes.size(), milliseconds(1000)) ==
         static_cast<long>(bytes.size());
}

void NetworkDevice::MarkLost() {
  {
    std::lock_guard lock(mutex_);
    lost_ = true;
  }
  changed_.notify_all();
  doorbell_->Ring();
}

void NetworkDevice::Notify(std::uint32_t events) {
  {
    std::lock_guard lock(mutex_);
    pending_ |= events;
  }
  changed_.notify_all();
  if (events != 0) doorbell_->Ring();
}

bool NetworkDevice::Start() {
  // Raw TCP has nothing to negotiate: a server that hangs up at once (it serves another
  // client) is found lost by the first transfer.
  if (!telnet_) return true;
  ByteString requests;
  {
    std::lock_guard lock(mutex_);
    codec_.RequestLocal(telnet::kOptionComPort, requests);
    codec_.RequestLocal(telnet::kOptionBinary, requests);
    codec_.RequestRemote(telnet::kOptionBinary, requests);
    codec_.RequestRemote(telnet::kOptionSuppressGoAhead, requests);
  }
  if (!SendBytes(requests)) {
    NoteOpenFailure(OpenFailure::ConnectionRefused);
    return false;
  }
  const bool answered = WaitFor(Clock::now() + kNegotiationWait, [this] {
    return codec_.Local(telnet::kOptionComPort) != telnet::OptionState::WantYes;
  });
  if (lost_) {
    NoteOpenFailure(OpenFailure::Busy);  // it hung up at once: it serves another client
    return false;
  }
  std::lock_guard lock(mutex_);
  if (!answered || codec_.Local(telnet::kOptionComPort) != telnet::OptionState::Yes)
    report_.outcome = LineSettingsOutcome::ServerOwned;  // a Telnet server without the option
  return true;
}

bool NetworkDevice::SetCommState(const DCB& dcb) {
  std::vector<rfc2217::Setting> settings;
  {
    std::lock_guard lock(mutex_);
    dcb_ = dcb;
    if (report_.outcome == LineSettingsOutcome::ServerOwned) return true;
    settings = rfc2217::SettingsOf(dcb);
    for (const rfc2217::Setting& s : settings) server_.Forget(s.command);
  }
  ByteString bytes;
  for (const rfc2217::Setting& s : settings) {
    const ByteString one = rfc2217::CommandBytes(s.command, s.value);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  // Line errors and modem lines as the server sees them.
  for (const ByteString& mask : {rfc2217::CommandBytes(rfc2217::kSetLineStateMask, {0x1E}),
                                 rfc2217::CommandBytes(rfc2217::kSetModemStateMask, {0xFF})})
    bytes.insert(bytes.end(), mask.begin(), mask.end());
  if (!SendBytes(bytes)) return false;
  const auto unanswered = [&] {
    std::uint32_t bits = 0;
    for (const rfc2217::Setting& s : settings) {
      const bool answered = s.command == rfc2217::kSetControl ? server_.ControlAnswered(s.value[0])
                                                              : server_.Answered(s.command);
      if (!answered) bits |= ReportBitOf(s.command, s.value[0]);
    }
    return bits;
  };
  // DTR and RTS are sent but not waited for: they belong to the modem lines, which many
  // servers do not drive (ser2net on a pseudo-terminal leaves them unanswered).
  WaitFor(Clock::now() + kAnswerWait,
          [&] { return (unanswered() & ~(neverAnswered_ | kSettingModemLines)) == 0; });
  std::lock_guard lock(mutex_);
  const std::uint32_t missing = unanswered();
  neverAnswered_ |= missing;
  report_.unconfirmed = missing;
  report_.outcome = missing != 0 ? LineSettingsOutcome::Unconfirmed : LineSettingsOutcome::Applied;
  return true;
}

bool NetworkDevice::GetCommState(DCB& dcb) {
  std::lock_guard lock(mutex_);
  dcb = dcb_;
  // The rate the server answered with is the one the line runs at.
  const ByteString& rate = server_.Answer(rfc2217::kSetBaudRate);
  if (report_.outcome != LineSettingsOutcome::ServerOwned && rate.size() == 4) {
    const std::uint32_t value = (std::uint32_t{rate[0]} << 24) | (std::uint32_t{rate[1]} << 16) |
                                (std::uint32_t{rate[2]} << 8) | rate[3];
    if (value != 0) dcb.BaudRate = value;
  }
  return true;
}

bool NetworkDevice::PurgeComm(std::uint32_t flags) {
  bool onServer = false;
  {
    std::lock_guard lock(mutex_);
    if ((flags & (PURGE_RXCLEAR | PURGE_RXABORT)) != 0) input_.clear();
    onServer = telnet_ && report_.outcome != LineSettingsOutcome::ServerOwned;
  }
  const std::uint8_t value = rfc2217::PurgeValueOf(flags);
  if (onServer && value != 0) SendBytes(rfc2217::CommandBytes(rfc2217::kPurgeData, {value}));
  return true;
}

std::uint32_t NetworkDevice::WriteOverlapped(const std::uint8_t* buffer, std::uint32_t count) {
  if (lost_) return 0;
  long sent = 0;
  if (!telnet_) {
    std::lock_guard lock(sendMutex_);
    sent = socket_->Send(buffer, count, milliseconds(1000));
  } else {
    ByteString escaped;
    telnet::AppendEscaped(buffer, count, escaped);
    std::lock_guard lock(sendMutex_);
    const long out = socket_->Send(escaped.data(), escaped.size(), milliseconds(1000));
    // Count the data bytes whose every escaped byte left.
    for (long at = 0; out > 0 && at < out; ++sent) at += buffer[sent] == telnet::IAC ? 2 : 1;
    if (out < 0) sent = -1;
  }
  if (sent < 0) {
    MarkLost();
    return 0;
  }
  return static_cast<std::uint32_t>(sent);
}

std::uint32_t NetworkDevice::ReadOverlapped(std::uint8_t* buffer, std::uint32_t count) {
  std::lock_guard lock(mutex_);
  const std::size_t n = std::min<std::size_t>(count, input_.size());
  std::copy_n(input_.begin(), n, buffer);
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<std::uint32_t>(n);
}

WaitOutcome NetworkDevice::WaitCommEvent(StopSignal& stop, std::uint32_t& eventMask) {
  for (;;) {
    if (stop.IsSet()) return WaitOutcome::Stopped;
    {
      std::lock_guard lock(mutex_);
      if (const std::uint32_t events = pending_ & mask_; events != 0) {
        pending_ &= ~events;
        eventMask = events;
        return WaitOutcome::Events;
      }
      if (lost_) return WaitOutcome::Failed;
    }
    if (!doorbell_->Wait(stop)) return WaitOutcome::Stopped;
  }
}

}  // namespace

std::unique_ptr<CommDevice> OpenNetworkDevice(const NetworkAddress& address) {
  if (!OpenAddresses::Claim(KeyOf(address))) {
    NoteOpenFailure(OpenFailure::Busy);
    return nullptr;
  }
  ConnectOutcome connected = ConnectTcp(address.host, address.port, kConnectTimeout);
  std::unique_ptr<Doorbell> doorbell = connected.socket ? MakeDoorbell() : nullptr;
  if (!doorbell) {
    OpenAddresses::Release(KeyOf(address));
    if (connected.socket) connected = ConnectOutcome{nullptr, OpenFailure::Other, errno};
    NoteOpenFailure(connected.reason, connected.systemError);
    return nullptr;
  }
  // From here the device holds the claim and gives it back when destroyed.
  auto device =
      std::make_unique<NetworkDevice>(address, std::move(connected.socket), std::move(doorbell));
  if (!device->Start()) return nullptr;
  NoteOpenFailure(OpenFailure::None);
  return device;
}

}  // namespace xcom
