#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <stdexcept>
#include <system_error>

#include "HexText.h"

using namespace modbus;  // the protocol layer

namespace kestrum_sim {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// How long the line thread waits before it looks at a hung-up line again.
constexpr milliseconds kHangupRetry{50};

// Printable text of received bytes: ASCII as it is, the rest escaped.
std::string TextOf(const xcom::ByteString& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (byte == '\r') {
      text += "\\r";
    } else if (byte == '\n') {
      text += "\\n";
    } else if (byte == '\t') {
      text += "\\t";
    } else if (byte == '\\' || byte == '"') {
      text += '\\';
      text += static_cast<char>(byte);
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += static_cast<char>(byte);
    } else {
      text += "\\x" + ByteToHex(byte);
    }
  }
  return text;
}

// Hex text without the trailing blank.
std::string Hex(const xcom::ByteString& bytes) {
  std::string text = BytesToHexText(bytes);
  if (!text.empty()) text.pop_back();
  return text;
}

struct PendingChunk {
  Clock::time_point due;
  xcom::ByteString bytes;
  std::size_t written = 0;
  int part = 1;  // part of parts of one reply
  int parts = 1;
};

}  // namespace

std::string FormatLogEntry(const LogEntry& entry) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(entry.time);
  std::tm local{};
  localtime_r(&seconds, &local);
  std::array<char, 32> clock{};
  std::strftime(clock.data(), clock.size(), "%H:%M:%S", &local);
  const auto millis = duration_cast<milliseconds>(entry.time.time_since_epoch()).count() % 1000;
  std::array<char, 8> fraction{};
  std::snprintf(fraction.data(), fraction.size(), ".%03d", static_cast<int>(millis));
  return std::string(clock.data()) + fraction.data() + " " + entry.text;
}

Simulator::Simulator(const Options& options)
    : silence_(options.silence.value_or(SilenceFor(options.line))),
      module_(options.module),
      faults_(options.faults) {}

Simulator::~Simulator() {
  Stop();
}

void Simulator::Start(int fd) {
  std::lock_guard control(control_);
  if (started_) throw std::logic_error("simulator already started");
  int pipeFds[2] = {-1, -1};
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe2");
  wakeRead_.Reset(pipeFds[0]);
  wakeWrite_.Reset(pipeFds[1]);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
    throw std::system_error(errno, std::generic_category(), "line descriptor");
  started_ = true;
  {
    std::lock_guard lock(mutex_);
    running_ = true;
  }
  thread_ = std::thread([this, fd, wake = wakeRead_.Get()] { Run(fd, wake); });
}

void Simulator::Stop() {
  std::lock_guard control(control_);
  if (thread_.joinable()) {
    const char byte = 'q';
    // The pipe is empty or holds this one byte; a full pipe would mean a wake-up is pending.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_.Get(), &byte, 1);
    thread_.join();
  }
  {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  changed_.notify_all();
}

bool Simulator::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

std::string Simulator::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

void Simulator::SetLogSink(LogSink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

bool Simulator::SetInput(int channel, std::uint16_t value) {
  std::lock_guard lock(mutex_);
  return module_.SetInput(channel, value);
}

void Simulator::SetFaults(const FaultOptions& faults) {
  std::lock_guard lock(mutex_);
  faults_.SetOptions(faults);
}

ModuleState Simulator::State() const {
  std::lock_guard lock(mutex_);
  ModuleState state;
  state.address = module_.Address();
  for (int i = 0; i < kInputCount; ++i) state.inputs[i] = module_.Input(i + 1);
  for (int i = 0; i < kRelayCount; ++i) state.relays[i] = module_.Relay(i + 1);
  state.mode = module_.Mode();
  return state;
}

Counters Simulator::GetCounters() const {
  std::lock_guard lock(mutex_);
  return published_;
}

bool Simulator::WaitFor(const std::function<bool(const Counters&)>& condition,
                        milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return condition(published_); });
}

void Simulator::Publish(std::vector<LogEntry>& entries) {
  // The log lines first, then the counters: whoever sees a counter move (WaitFor) finds the
  // lines of that event already delivered.
  LogSink sink;
  if (!entries.empty()) {
    std::lock_guard lock(mutex_);
    sink = sink_;
  }
  if (sink)
    for (const LogEntry& entry : entries) sink(entry);
  entries.clear();
  {
    std::lock_guard lock(mutex_);
    if (published_ == counters_) return;
    published_ = counters_;
  }
  changed_.notify_all();
}

void Simulator::Fail(const std::string& message, std::vector<LogEntry>& entries) {
  {
    std::lock_guard lock(mutex_);
    lastError_ = message;
    running_ = false;
  }
  Publish(entries);
  changed_.notify_all();
}

// The line thread's state while it serves one descriptor: the framer, the replies waiting to
// be written and whether the other end has gone away. Its steps run on the line thread only.
class Simulator::Line {
 public:
  Line(Simulator& sim, int fd) : sim_(sim), fd_(fd), framer_(sim.silence_) {}

  std::vector<LogEntry> log;  // lines for the sink, handed over at the end of every pass

  enum class Wait { Ready, Stop, Failed };
  // Waits for the line, the stop signal or the next deadline; `revents` are the line's events.
  Wait WaitForLine(int wakeFd, short& revents);
  // Reads everything the line has and hands it to the framer; false when the thread must end.
  bool ReadAvailable(short revents, Clock::time_point now);
  // The framer's silence deadline passed: frames it completed.
  void PollFramer(Clock::time_point now) { Handle(framer_.Poll(now), now); }
  // Writes whatever is due, in order, as far as the line takes it; false when it must end.
  bool WriteDue(Clock::time_point now);
  // After a hang-up, looks at the line again once the retry time has come.
  void RetryIfDue(Clock::time_point now) {
    if (hungUp_ && now >= retryAt_) hungUp_ = false;
  }

 private:
  void Note(LogEntry::Level level, std::string text) {
    log.push_back({std::chrono::system_clock::now(), level, std::move(text)});
  }
  bool Failed(const char* call);
  void Handle(std::vector<FramerEvent> events, Clock::time_point now);
  void HandleRequest(const xcom::ByteString& bytes, Clock::time_point now);
  void HandleModeFrame(const xcom::ByteString& bytes, Clock::time_point now);
  void HandleDiscarded(const xcom::ByteString& bytes);
  void Schedule(const xcom::ByteString& reply, Clock::time_point now);
  void FreeText(const xcom::ByteString& bytes);
  void HangUp(Clock::time_point now);
  std::optional<Clock::time_point> NextDeadline();

  Simulator& sim_;
  const int fd_;
  RequestFramer framer_;
  std::deque<PendingChunk> output_;
  Clock::time_point lastDue_{};
  bool wantPollout_ = false;  // a write found the line full
  bool hungUp_ = false;       // the other end is gone; look again at retryAt_
  bool hangupReported_ = false;
  Clock::time_point retryAt_{};
  std::array<std::uint8_t, 512> buffer_{};
};

void Simulator::Run(int fd, int wakeFd) {
  Line line(*this, fd);
  for (;; Publish(line.log)) {
    short revents = 0;
    const Line::Wait wait = line.WaitForLine(wakeFd, revents);
    if (wait == Line::Wait::Stop) {
      Publish(line.log);
      return;
    }
    if (wait == Line::Wait::Failed) return;
    Clock::time_point now = Clock::now();
    line.RetryIfDue(now);
    if (!line.ReadAvailable(revents, now)) return;
    now = Clock::now();
    line.PollFramer(now);
    if (!line.WriteDue(now)) return;
  }
}

bool Simulator::Line::Failed(const char* call) {
  const std::string reason = std::string(call) + ": " + std::strerror(errno);
  Note(LogEntry::Level::Event, "line thread stopped: " + reason);
  sim_.Fail(reason, log);
  return false;
}

std::optional<Clock::time_point> Simulator::Line::NextDeadline() {
  std::optional<Clock::time_point> wake = framer_.Deadline();
  const auto earliest = [&wake](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
  if (!output_.empty() && !wantPollout_) earliest(output_.front().due);
  if (hungUp_) earliest(retryAt_);
  return wake;
}

Simulator::Line::Wait Simulator::Line::WaitForLine(int wakeFd, short& revents) {
  for (;;) {
    const std::optional<Clock::time_point> wake = NextDeadline();
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (wake) {
      const auto left = std::max(
          microseconds(0), duration_cast<microseconds>(*wake - Clock::now()) + microseconds(1));
      timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000);
      timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000) * 1000;
      timeoutPointer = &timeout;
    }
    pollfd fds[2] = {
        {wakeFd, POLLIN, 0},
        {hungUp_ ? -1 : fd_, static_cast<short>(POLLIN | (wantPollout_ ? POLLOUT : 0)), 0}};
    if (::ppoll(fds, 2, timeoutPointer, nullptr) < 0) {
      if (errno == EINTR) continue;
      Failed("poll");
      return Wait::Failed;
    }
    if (fds[0].revents != 0) return Wait::Stop;  // Stop()
    revents = fds[1].revents;
    return Wait::Ready;
  }
}

bool Simulator::Line::ReadAvailable(short revents, Clock::time_point now) {
  if (hungUp_ || (revents & (POLLIN | POLLHUP | POLLERR)) == 0) return true;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
    if (got > 0) {
      hangupReported_ = false;
      {
        std::lock_guard lock(sim_.mutex_);
        sim_.counters_.bytesReceived += static_cast<std::uint64_t>(got);
      }
      Handle(framer_.Feed(buffer_.data(), static_cast<std::size_t>(got), Clock::now()), now);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // POLLHUP with nothing to read: the other end is gone without telling read().
      if ((revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLIN) == 0) HangUp(now);
      return true;
    }
    // On a terminal in non-canonical mode with VMIN 0, read() answers 0 for "nothing
    // there"; only together with POLLHUP does it mean that the other end is gone.
    if (got == 0) {
      if ((revents & (POLLHUP | POLLERR)) != 0) HangUp(now);
      return true;
    }
    if (errno == EIO) {
      HangUp(now);
      return true;
    }
    return Failed("read");
  }
}

bool Simulator::Line::WriteDue(Clock::time_point now) {
  wantPollout_ = false;
  while (!hungUp_ && !output_.empty() && output_.front().due <= now) {
    PendingChunk& chunk = output_.front();
    const ssize_t put =
        ::write(fd_, chunk.bytes.data() + chunk.written, chunk.bytes.size() - chunk.written);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        wantPollout_ = true;
        break;
      }
      if (errno == EIO) {
        HangUp(now);
        break;
      }
      return Failed("write");
    }
    chunk.written += static_cast<std::size_t>(put);
    if (chunk.written < chunk.bytes.size()) continue;
    std::string text = "TX " + Hex(chunk.bytes);
    if (chunk.parts > 1)
      text += "  (part " + std::to_string(chunk.part) + " of " + std::to_string(chunk.parts) + ")";
    Note(LogEntry::Level::Traffic, std::move(text));
    if (chunk.part == chunk.parts) {
      std::lock_guard lock(sim_.mutex_);
      ++sim_.counters_.repliesSent;
    }
    output_.pop_front();
  }
  return true;
}

void Simulator::Line::Handle(std::vector<FramerEvent> events, Clock::time_point now) {
  if (events.empty()) return;
  std::lock_guard lock(sim_.mutex_);
  for (FramerEvent& event : events) {
    switch (event.kind) {
      case FramerEvent::Kind::Request:
        HandleRequest(event.bytes, now);
        break;
      case FramerEvent::Kind::ModeFrame:
        HandleModeFrame(event.bytes, now);
        break;
      case FramerEvent::Kind::Discarded:
        HandleDiscarded(event.bytes);
        break;
    }
  }
}

// The steps below run with sim_.mutex_ held (from Handle).
void Simulator::Line::HandleRequest(const xcom::ByteString& bytes, Clock::time_point now) {
  Counters& counters = sim_.counters_;
  ++counters.requests;
  const Handled handled = sim_.module_.HandleRequest(bytes);
  Note(LogEntry::Level::Traffic, "RX " + Hex(bytes) + "  " + handled.note);
  switch (handled.outcome) {
    case Outcome::OtherAddress:
      ++counters.otherAddress;
      break;
    case Outcome::Broadcast:
      ++counters.broadcasts;
      break;
    case Outcome::IgnoredDataCentre:
      FreeText(bytes);
      break;
    case Outcome::Exception:
      ++counters.exceptionsSent;
      break;
    default:
      break;
  }
  if (!handled.reply.empty()) Schedule(handled.reply, now);
}

void Simulator::Line::HandleModeFrame(const xcom::ByteString& bytes, Clock::time_point now) {
  const Handled handled = sim_.module_.HandleModeFrame(bytes);
  if (handled.outcome == Outcome::ModeSwitched)
    ++sim_.counters_.modeFrames;
  else
    ++sim_.counters_.badModeFrames;
  Note(LogEntry::Level::Event, "RX " + Hex(bytes) + "  " + handled.note);
  if (!handled.reply.empty()) Schedule(handled.reply, now);
}

void Simulator::Line::HandleDiscarded(const xcom::ByteString& bytes) {
  if (sim_.module_.Mode() == DeviceMode::DataCentre) {
    FreeText(bytes);
    return;
  }
  ++sim_.counters_.discardedBlocks;
  sim_.counters_.discardedBytes += bytes.size();
  Note(LogEntry::Level::Traffic, "RX " + Hex(bytes) + "  discarded " +
                                     std::to_string(bytes.size()) +
                                     " bytes: no valid frame (noise, bad CRC or a partial frame)");
}

// Queues one reply through the fault injector.
void Simulator::Line::Schedule(const xcom::ByteString& reply, Clock::time_point now) {
  Counters& counters = sim_.counters_;
  const FaultPlan plan = sim_.faults_.Plan(reply);
  if (plan.dropped) {
    ++counters.repliesDropped;
    Note(LogEntry::Level::Traffic, "fault: reply " + Hex(reply) + " dropped");
    return;
  }
  if (plan.delayed) ++counters.repliesDelayed;
  if (plan.split) ++counters.repliesSplit;
  if (plan.corrupted) {
    ++counters.repliesCorrupted;
    Note(LogEntry::Level::Traffic, "fault: one bit of the reply flipped");
  }
  if (plan.junkBytes > 0) {
    ++counters.junkBursts;
    Note(LogEntry::Level::Traffic,
         "fault: " + std::to_string(plan.junkBytes) + " stray bytes before the reply");
  }
  const int parts = static_cast<int>(plan.chunks.size());
  int part = 0;
  for (const TimedChunk& chunk : plan.chunks) {
    // Replies leave in the order they were made, whatever the delay did meanwhile.
    lastDue_ = std::max(now + chunk.after, lastDue_);
    output_.push_back({lastDue_, chunk.bytes, 0, ++part, parts});
  }
}

// Bytes received in data-centre mode that are no request the module answers.
void Simulator::Line::FreeText(const xcom::ByteString& bytes) {
  ++sim_.counters_.freeTextBlocks;
  Note(LogEntry::Level::Event, "free text (" + std::to_string(bytes.size()) +
                                   " bytes): " + Hex(bytes) + "  \"" + TextOf(bytes) + "\"");
}

// Not under sim_.mutex_: takes it for the counter.
void Simulator::Line::HangUp(Clock::time_point now) {
  hungUp_ = true;
  retryAt_ = now + kHangupRetry;
  if (!output_.empty()) {
    Note(LogEntry::Level::Event,
         std::to_string(output_.size()) + " pending reply parts dropped: the line hung up");
    output_.clear();
    wantPollout_ = false;
  }
  if (hangupReported_) return;
  hangupReported_ = true;
  {
    std::lock_guard lock(sim_.mutex_);
    ++sim_.counters_.hangups;
  }
  Note(LogEntry::Level::Event, "the other end closed the line; waiting for it to come back");
}

}  // namespace kestrum_sim
