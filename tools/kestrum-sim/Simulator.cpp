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

#include "hextext.h"

namespace kestrum_sim {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// How long the line thread waits before it looks at a hung-up line again.
constexpr milliseconds kHangupRetry{50};

// Printable text of received bytes: ASCII as it is, the rest escaped.
std::string TextOf(const ByteString& bytes) {
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
std::string Hex(const ByteString& bytes) {
  std::string text = BytesToHexText(bytes);
  if (!text.empty()) text.pop_back();
  return text;
}

struct PendingChunk {
  Clock::time_point due;
  ByteString bytes;
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
  int pipe_fds[2] = {-1, -1};
  if (::pipe2(pipe_fds, O_NONBLOCK | O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe2");
  wake_read_.Reset(pipe_fds[0]);
  wake_write_.Reset(pipe_fds[1]);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
    throw std::system_error(errno, std::generic_category(), "line descriptor");
  started_ = true;
  {
    std::lock_guard lock(mutex_);
    running_ = true;
  }
  thread_ = std::thread([this, fd, wake = wake_read_.Get()] { Run(fd, wake); });
}

void Simulator::Stop() {
  std::lock_guard control(control_);
  if (thread_.joinable()) {
    const char byte = 'q';
    // The pipe is empty or holds this one byte; a full pipe would mean a wake-up is pending.
    [[maybe_unused]] const ssize_t ignored = ::write(wake_write_.Get(), &byte, 1);
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
  return last_error_;
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
    last_error_ = message;
    running_ = false;
  }
  Publish(entries);
  changed_.notify_all();
}

void Simulator::Run(int fd, int wake_fd) {
  RequestFramer framer(silence_);
  std::deque<PendingChunk> output;
  Clock::time_point last_due{};
  bool want_pollout = false;  // a write found the line full
  bool hung_up = false;       // the other end is gone; look again at retry_at
  bool hangup_reported = false;
  Clock::time_point retry_at{};
  std::vector<LogEntry> log;

  const auto note = [&log](LogEntry::Level level, std::string text) {
    log.push_back({std::chrono::system_clock::now(), level, std::move(text)});
  };

  // Queues one reply through the fault injector. Called with mutex_ held.
  const auto schedule = [&](const ByteString& reply, Clock::time_point now) {
    const FaultPlan plan = faults_.Plan(reply);
    if (plan.dropped) {
      ++counters_.replies_dropped;
      note(LogEntry::Level::kTraffic, "fault: reply " + Hex(reply) + " dropped");
      return;
    }
    if (plan.delayed) ++counters_.replies_delayed;
    if (plan.split) ++counters_.replies_split;
    if (plan.corrupted) {
      ++counters_.replies_corrupted;
      note(LogEntry::Level::kTraffic, "fault: one bit of the reply flipped");
    }
    if (plan.junk_bytes > 0) {
      ++counters_.junk_bursts;
      note(LogEntry::Level::kTraffic,
           "fault: " + std::to_string(plan.junk_bytes) + " stray bytes before the reply");
    }
    const int parts = static_cast<int>(plan.chunks.size());
    int part = 0;
    for (const TimedChunk& chunk : plan.chunks) {
      // Replies leave in the order they were made, whatever the delay did meanwhile.
      last_due = std::max(now + chunk.after, last_due);
      output.push_back({last_due, chunk.bytes, 0, ++part, parts});
    }
  };

  // Bytes received in data-centre mode that are no request the module answers. Called with
  // mutex_ held.
  const auto free_text = [&](const ByteString& bytes) {
    ++counters_.free_text_blocks;
    note(LogEntry::Level::kEvent, "free text (" + std::to_string(bytes.size()) +
                                      " bytes): " + Hex(bytes) + "  \"" + TextOf(bytes) + "\"");
  };

  const auto handle = [&](std::vector<FramerEvent> events, Clock::time_point now) {
    if (events.empty()) return;
    {
      std::lock_guard lock(mutex_);
      for (FramerEvent& event : events) {
        switch (event.kind) {
          case FramerEvent::Kind::kRequest: {
            ++counters_.requests;
            const Handled handled = module_.HandleRequest(event.bytes);
            note(LogEntry::Level::kTraffic, "RX " + Hex(event.bytes) + "  " + handled.note);
            switch (handled.outcome) {
              case Outcome::kOtherAddress:
                ++counters_.other_address;
                break;
              case Outcome::kBroadcast:
                ++counters_.broadcasts;
                break;
              case Outcome::kIgnoredDataCentre:
                free_text(event.bytes);
                break;
              case Outcome::kException:
                ++counters_.exceptions_sent;
                break;
              default:
                break;
            }
            if (!handled.reply.empty()) schedule(handled.reply, now);
            break;
          }
          case FramerEvent::Kind::kModeFrame: {
            const Handled handled = module_.HandleModeFrame(event.bytes);
            if (handled.outcome == Outcome::kModeSwitched)
              ++counters_.mode_frames;
            else
              ++counters_.bad_mode_frames;
            note(LogEntry::Level::kEvent, "RX " + Hex(event.bytes) + "  " + handled.note);
            if (!handled.reply.empty()) schedule(handled.reply, now);
            break;
          }
          case FramerEvent::Kind::kDiscarded:
            if (module_.Mode() == DeviceMode::kDataCentre) {
              free_text(event.bytes);
            } else {
              ++counters_.discarded_blocks;
              counters_.discarded_bytes += event.bytes.size();
              note(LogEntry::Level::kTraffic,
                   "RX " + Hex(event.bytes) + "  discarded " + std::to_string(event.bytes.size()) +
                       " bytes: no valid frame (noise, bad CRC or a partial frame)");
            }
            break;
        }
      }
    }
  };

  const auto hang_up = [&](Clock::time_point now) {
    hung_up = true;
    retry_at = now + kHangupRetry;
    if (!output.empty()) {
      note(LogEntry::Level::kEvent,
           std::to_string(output.size()) + " pending reply parts dropped: the line hung up");
      output.clear();
      want_pollout = false;
    }
    if (hangup_reported) return;
    hangup_reported = true;
    {
      std::lock_guard lock(mutex_);
      ++counters_.hangups;
    }
    note(LogEntry::Level::kEvent, "the other end closed the line; waiting for it to come back");
  };

  std::array<std::uint8_t, 512> buffer{};
  for (;; Publish(log)) {
    Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> wake = framer.Deadline();
    const auto earliest = [&wake](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
    if (!output.empty() && !want_pollout) earliest(output.front().due);
    if (hung_up) earliest(retry_at);
    timespec timeout{};
    timespec* timeout_pointer = nullptr;
    if (wake) {
      const auto left =
          std::max(microseconds(0), duration_cast<microseconds>(*wake - now) + microseconds(1));
      timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000);
      timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000) * 1000;
      timeout_pointer = &timeout;
    }
    pollfd fds[2] = {
        {wake_fd, POLLIN, 0},
        {hung_up ? -1 : fd, static_cast<short>(POLLIN | (want_pollout ? POLLOUT : 0)), 0}};
    if (::ppoll(fds, 2, timeout_pointer, nullptr) < 0) {
      if (errno == EINTR) continue;
      note(LogEntry::Level::kEvent,
           std::string("line thread stopped: poll: ") + std::strerror(errno));
      Fail(std::string("poll: ") + std::strerror(errno), log);
      return;
    }
    if (fds[0].revents != 0) {  // Stop()
      Publish(log);
      return;
    }
    now = Clock::now();
    if (hung_up && now >= retry_at) hung_up = false;

    if (!hung_up && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got > 0) {
          hangup_reported = false;
          {
            std::lock_guard lock(mutex_);
            counters_.bytes_received += static_cast<std::uint64_t>(got);
          }
          handle(framer.Feed(buffer.data(), static_cast<std::size_t>(got), Clock::now()), now);
          continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          // POLLHUP with nothing to read: the other end is gone without telling read().
          if ((fds[1].revents & (POLLHUP | POLLERR)) != 0 && (fds[1].revents & POLLIN) == 0)
            hang_up(now);
          break;
        }
        // On a terminal in non-canonical mode with VMIN 0, read() answers 0 for "nothing
        // there"; only together with POLLHUP does it mean that the other end is gone.
        if (got == 0) {
          if ((fds[1].revents & (POLLHUP | POLLERR)) != 0) hang_up(now);
          break;
        }
        if (errno == EIO) {
          hang_up(now);
          break;
        }
        note(LogEntry::Level::kEvent,
             std::string("line thread stopped: read: ") + std::strerror(errno));
        Fail(std::string("read: ") + std::strerror(errno), log);
        return;
      }
    }

    now = Clock::now();
    handle(framer.Poll(now), now);

    // Write whatever is due, in order, as far as the line takes it.
    want_pollout = false;
    while (!hung_up && !output.empty() && output.front().due <= now) {
      PendingChunk& chunk = output.front();
      const ssize_t put =
          ::write(fd, chunk.bytes.data() + chunk.written, chunk.bytes.size() - chunk.written);
      if (put < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          want_pollout = true;
          break;
        }
        if (errno == EIO) {
          hang_up(now);
          break;
        }
        note(LogEntry::Level::kEvent,
             std::string("line thread stopped: write: ") + std::strerror(errno));
        Fail(std::string("write: ") + std::strerror(errno), log);
        return;
      }
      chunk.written += static_cast<std::size_t>(put);
      if (chunk.written < chunk.bytes.size()) continue;
      std::string text = "TX " + Hex(chunk.bytes);
      if (chunk.parts > 1)
        text +=
            "  (part " + std::to_string(chunk.part) + " of " + std::to_string(chunk.parts) + ")";
      note(LogEntry::Level::kTraffic, std::move(text));
      if (chunk.part == chunk.parts) {
        std::lock_guard lock(mutex_);
        ++counters_.replies_sent;
      }
      output.pop_front();
    }
  }
}

}  // namespace kestrum_sim
