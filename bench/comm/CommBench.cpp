// Measures the serial port component on pseudo-terminal pairs and prints the figures:
//   1. throughput both ways with SendData / ReadData, against QSerialPort (blocking
//      waitForBytesWritten / waitForReadyRead) in the same run: MB/s, CPU seconds per MiB, ratios;
//   2. the monitor thread: CPU time and wakeups over a stretch of time (a) with one byte arriving
//      every 10 ms and (b) with bytes left unread in the queue;
//   3. the open + close cycle.
// It measures; it passes no judgement beyond printing each goal next to its figure.
//
// Usage: bench_comm [--mib N] [--seconds S] [--cycles C] [--runs R] [--chunk BYTES]
//                   [--only throughput|monitor|open]

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PtyPair.h"
#include "XComDrv.h"

#ifdef RTUTEST_HAVE_QSERIALPORT
#include <QCoreApplication>
#include <QSerialPort>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using ptytest::Bytes;
using ptytest::PtyPair;

constexpr std::size_t kMiB = 1024 * 1024;
std::size_t kChunk = 64 * 1024;  // what the benchmark hands each call at a time (--chunk)
constexpr int kStallMs = 5000;   // a transfer that moves nothing this long failed

struct Options {
  std::size_t mib = 16;
  int seconds = 10;
  int cycles = 200;
  int runs = 5;
  std::string only;  // one section by name; empty: all
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// CPU seconds (user + system) of the whole process / of the calling thread.
double ProcessCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
double ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Where the threads run: the pty peer on one core, the port under test (its caller and the
// threads it starts, which inherit the caller's core) on another. Left to the scheduler, the two
// sides land on one core in some runs and apart in others, and the CPU of a run swings by half.
constexpr int kPeerCpu = 0;
constexpr int kPortCpu = 1;
void PinToCpu(int cpu) {
  if (std::thread::hardware_concurrency() < 2) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

Bytes Pattern(std::size_t size) {
  Bytes data(size);
  std::uint32_t x = 0x12345678;
  for (auto& b : data) {  // xorshift: every byte value, zeros and flow-control bytes included
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return data;
}

// ---------------------------------------------------------------------------------------------
// The ports under test, with one blocking interface.

class PortUnderTest {
 public:
  virtual ~PortUnderTest() = default;
  virtual const char* Name() const = 0;
  virtual bool Open(const std::string& path) = 0;
  virtual void Close() = 0;
  // Moves every byte, or fails when nothing moved for kStallMs.
  virtual bool SendAll(const std::uint8_t* data, std::size_t size) = 0;
  virtual bool ReceiveAll(std::uint8_t* data, std::size_t size) = 0;
};

class ComponentPort final : public PortUnderTest {
 public:
  ComponentPort() {
    // The largest queues the component takes; events delivered on the monitor thread (there
    // is no window event loop here to serve synchronised calls).
    port_.Buffers().SetInputSize(8192);
    port_.Buffers().SetOutputSize(8192);
    port_.SetSynchronize(false);
  }
  const char* Name() const override { return "TXComm"; }
  bool Open(const std::string& path) override {
    port_.SetDeviceName(path);
    return port_.OpenDevice();
  }
  void Close() override {
    if (port_.Opened()) port_.CloseDevice();
  }
  bool SendAll(const std::uint8_t* data, std::size_t size) override {
    for (std::size_t done = 0; done < size;) {
      const auto n = std::uint32_t(std::min(kChunk, size - done));
      const std::uint32_t sent = port_.SendData(data + done, n, kStallMs);
      if (sent == 0) return false;
      done += sent;
    }
    return true;
  }
  bool ReceiveAll(std::uint8_t* data, std::size_t size) override {
    for (std::size_t done = 0; done < size;) {
      const auto n = std::uint32_t(std::min(kChunk, size - done));
      const std::uint32_t got = port_.ReadData(data + done, n, kStallMs);
      if (got == 0) return false;
      done += got;
    }
    return true;
  }
  xcom::TXComm& Port() { return port_; }

 private:
  xcom::TXComm port_;
};

#ifdef RTUTEST_HAVE_QSERIALPORT
class QtPort final : public PortUnderTest {
 public:
  const char* Name() const override { return "QSerialPort"; }
  bool Open(const std::string& path) override {
    port_.setPortName(QString::fromStdString(path));
    return port_.open(QIODevice::ReadWrite);
  }
  void Close() override { port_.close(); }
  bool SendAll(const std::uint8_t* data, std::size_t size) override {
    for (std::size_t done = 0; done < size;) {
      const auto n = qint64(std::min(kChunk, size - done));
      if (port_.write(reinterpret_cast<const char*>(data + done), n) != n) return false;
      done += std::size_t(n);
      while (port_.bytesToWrite() > 0)
        if (!port_.waitForBytesWritten(kStallMs)) return false;
    }
    return true;
  }
  bool ReceiveAll(std::uint8_t* data, std::size_t size) override {
    for (std::size_t done = 0; done < size;) {
      if (port_.bytesAvailable() == 0 && !port_.waitForReadyRead(kStallMs)) return false;
      // As many bytes per call as the component is asked for: the same work for both.
      const auto n = qint64(std::min(kChunk, size - done));
      const qint64 got = port_.read(reinterpret_cast<char*>(data + done), n);
      if (got < 0) return false;
      done += std::size_t(got);
    }
    return true;
  }

 private:
  QSerialPort port_;
};
#endif

// ---------------------------------------------------------------------------------------------
// 1. Throughput

enum class Direction { PortToPeer, PeerToPort };

struct TransferResult {
  bool ok = false;
  double seconds = 0;
  double portCpu = 0;  // CPU of everything but the peer thread: the port's caller and its threads
};

TransferResult Transfer(PortUnderTest& port, Direction direction, const Bytes& data) {
  TransferResult result;
  PtyPair pty;
  if (!port.Open(pty.SlavePath())) {
    std::fprintf(stderr, "%s: cannot open %s\n", port.Name(), pty.SlavePath().c_str());
    return result;
  }
  Bytes received(data.size());
  std::atomic<double> peerCpu{0};
  std::atomic<bool> peerOk{false};
  const double cpuStart = ProcessCpu();
  const auto start = Clock::now();
  std::thread peer([&] {
    PinToCpu(kPeerCpu);
    const double cpu0 = ThreadCpu();
    if (direction == Direction::PortToPeer) {
      std::size_t done = 0;
      while (done < data.size()) {
        const Bytes part = PtyPair::ReadUpTo(pty.MasterFd(), data.size() - done, kStallMs, true);
        if (part.empty()) break;
        std::memcpy(received.data() + done, part.data(), part.size());
        done += part.size();
      }
      peerOk = done == data.size();
    } else {
      bool ok = true;
      for (std::size_t done = 0; ok && done < data.size(); done += kChunk)
        ok = PtyPair::WriteAll(pty.MasterFd(), data.data() + done,
                               std::min(kChunk, data.size() - done), kStallMs);
      peerOk = ok;
    }
    peerCpu = ThreadCpu() - cpu0;
  });
  const bool portOk = direction == Direction::PortToPeer
                          ? port.SendAll(data.data(), data.size())
                          : port.ReceiveAll(received.data(), received.size());
  peer.join();
  result.seconds = Seconds(Clock::now() - start);
  result.portCpu = ProcessCpu() - cpuStart - peerCpu;
  port.Close();
  result.ok = portOk && peerOk && received == data;
  if (!result.ok) std::fprintf(stderr, "%s: transfer failed or corrupted\n", port.Name());
  return result;
}

// The medians (of the time and, apart, of the CPU) of `runs` transfers per port, each on a fresh
// pty pair and port. The ports take turns, so that a busy moment of the machine falls on both
// alike.
std::vector<TransferResult> MedianTransfers(
    const std::vector<std::function<std::unique_ptr<PortUnderTest>()>>& makers, Direction direction,
    const Bytes& data, int runs) {
  std::vector<std::vector<TransferResult>> all(makers.size());
  // One transfer each before the measured ones: the first in a process pays for what is made
  // once (lazily bound symbols, a thread's first stack pages, the allocator's first large
  // blocks), and it would always fall on the port that goes first.
  for (const auto& make : makers) {
    auto port = make();
    Transfer(*port, direction, data);
  }
  for (int run = 0; run < runs; ++run)
    for (std::size_t i = 0; i < makers.size(); ++i) {
      const std::size_t which = (i + std::size_t(run)) % makers.size();
      auto port = makers[which]();
      all[which].push_back(Transfer(*port, direction, data));
    }
  std::vector<TransferResult> medians;
  for (auto& results : all) {
    const bool ok =
        std::all_of(results.begin(), results.end(), [](const TransferResult& r) { return r.ok; });
    std::vector<double> seconds, cpu;
    for (const TransferResult& r : results) {
      seconds.push_back(r.seconds);
      cpu.push_back(r.portCpu);
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(cpu.begin(), cpu.end());
    medians.push_back({ok, seconds[seconds.size() / 2], cpu[cpu.size() / 2]});
  }
  return medians;
}

void PrintTransfer(const char* name, const TransferResult& r, std::size_t bytes) {
  if (!r.ok) {
    std::printf("    %-12s FAILED\n", name);
    return;
  }
  const double mib = double(bytes) / double(kMiB);
  std::printf("    %-12s %9.1f MB/s   %8.4f CPU s/MiB   (%.3f s, %.3f CPU s)\n", name,
              double(bytes) / r.seconds / 1e6, r.portCpu / mib, r.seconds, r.portCpu);
}

void BenchThroughput(const Options& o) {
  const Bytes data = Pattern(o.mib * kMiB);
  std::printf(
      "\n[1] Throughput: %zu MiB through a pty pair, median of %d runs each, taking turns\n", o.mib,
      o.runs);
  std::printf(
      "    (TXComm: SendData/ReadData in %zu KiB calls, queues 8192/8192, events on the\n"
      "     monitor thread; QSerialPort: write + waitForBytesWritten, waitForReadyRead +\n"
      "     read; CPU = the whole process minus the pty peer thread; the peer on core %d,\n"
      "     the port on core %d)\n",
      kChunk / 1024, kPeerCpu, kPortCpu);
  std::vector<std::function<std::unique_ptr<PortUnderTest>()>> makers{
      [] { return std::make_unique<ComponentPort>(); }};
#ifdef RTUTEST_HAVE_QSERIALPORT
  makers.push_back([] { return std::make_unique<QtPort>(); });
#endif
  for (Direction d : {Direction::PortToPeer, Direction::PeerToPort}) {
    std::printf("  %s\n",
                d == Direction::PortToPeer ? "port -> peer (sending)" : "peer -> port (reading)");
    const auto results = MedianTransfers(makers, d, data, o.runs);
    PrintTransfer("TXComm", results[0], data.size());
    if (results.size() < 2) {
      std::printf("    QSerialPort: not built (qt6-serialport-dev missing)\n");
      continue;
    }
    PrintTransfer("QSerialPort", results[1], data.size());
    if (results[0].ok && results[1].ok)
      std::printf(
          "    ratio TXComm/QSerialPort: speed %.2f (goal >= 1.0), CPU %.2f (goal <= 1.0)\n",
          results[1].seconds / results[0].seconds, results[0].portCpu / results[1].portCpu);
  }
}

// ---------------------------------------------------------------------------------------------
// 2. The monitor thread

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ids.insert(entry->d_name);
    closedir(dir);
  }
  return ids;
}

struct ThreadSample {
  double cpuSeconds = 0;
  long wakeups = 0;  // voluntary context switches: each sleep that ended
};

ThreadSample SampleThread(const std::string& tid) {
  ThreadSample s;
  std::ifstream sched("/proc/self/task/" + tid + "/schedstat");
  long long ns = 0;
  if (sched >> ns) s.cpuSeconds = double(ns) / 1e9;
  std::ifstream status("/proc/self/task/" + tid + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) s.wakeups = std::atol(line.c_str() + 24);
  return s;
}

void BenchMonitor(const Options& o) {
  std::printf("\n[2] Monitor thread over %d s (events delivered on the monitor thread)\n",
              o.seconds);
  for (const bool trickle : {true, false}) {
    PtyPair pty;
    ComponentPort c;
    std::atomic<long> deliveries{0};
    c.Port().SetOnData([&](xcom::TCustomComm*, std::uint32_t) { ++deliveries; });
    const auto before = ThreadIds();
    if (!c.Open(pty.SlavePath())) {
      std::printf("    cannot open the pty\n");
      return;
    }
    std::string monitor;
    for (const auto& id : ThreadIds())
      if (!before.count(id)) monitor = id;
    if (monitor.empty()) {
      std::printf("    monitor thread not found\n");
      return;
    }
    const auto window = std::chrono::seconds(o.seconds);
    long bytes = 0;
    ThreadSample start, end;
    long deliveriesInWindow = 0;
    if (trickle) {
      start = SampleThread(monitor);
      const long d0 = deliveries;
      auto next = Clock::now();
      const auto stop = next + window;
      while (next < stop) {
        pty.WriteMaster(Bytes{0x55});
        ++bytes;
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      end = SampleThread(monitor);
      deliveriesInWindow = deliveries - d0;
    } else {
      pty.WriteMaster(Bytes(100, 0xAA));
      bytes = 100;
      while (deliveries == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      start = SampleThread(monitor);
      const long d0 = deliveries;
      std::this_thread::sleep_for(window);
      end = SampleThread(monitor);
      deliveriesInWindow = deliveries - d0;
    }
    const double cpu = end.cpuSeconds - start.cpuSeconds;
    if (trickle)
      std::printf(
          "  (a) 1 byte every 10 ms (%ld bytes): %ld wakeups, %ld OnData, CPU %.4f s = "
          "%.3f %% of a core (goal < 1 %%)\n",
          bytes, end.wakeups - start.wakeups, deliveriesInWindow, cpu,
          100.0 * cpu / double(o.seconds));
    else
      std::printf(
          "  (b) %ld bytes left unread, after the first delivery: %ld wakeups (goal 0), "
          "%ld OnData, CPU %.4f s\n",
          bytes, end.wakeups - start.wakeups, deliveriesInWindow, cpu);
    c.Close();
  }
}

// ---------------------------------------------------------------------------------------------
// 3. Open + close

template <typename MakePort>
void OpenCloseCycles(const char* name, MakePort make, int cycles) {
  PtyPair pty;
  auto port = make();
  std::vector<double> ms;
  for (int i = 0; i < cycles; ++i) {
    const auto start = Clock::now();
    if (!port->Open(pty.SlavePath())) {
      std::printf("    %-12s open failed at cycle %d\n", name, i);
      return;
    }
    port->Close();
    ms.push_back(Seconds(Clock::now() - start) * 1e3);
  }
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double m : ms) sum += m;
  std::printf("    %-12s mean %.3f ms, median %.3f ms, max %.3f ms\n", name, sum / double(cycles),
              ms[ms.size() / 2], ms.back());
}

void BenchOpenClose(const Options& o) {
  std::printf("\n[3] Open + close cycle on a pty, %d cycles\n", o.cycles);
  OpenCloseCycles(
      "TXComm", [] { return std::make_unique<ComponentPort>(); }, o.cycles);
#ifdef RTUTEST_HAVE_QSERIALPORT
  OpenCloseCycles(
      "QSerialPort", [] { return std::make_unique<QtPort>(); }, o.cycles);
#endif
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--only") o.only = argv[i + 1];
    const int value = std::max(1, std::atoi(argv[i + 1]));
    if (key == "--mib") o.mib = std::size_t(value);
    if (key == "--seconds") o.seconds = value;
    if (key == "--cycles") o.cycles = value;
    if (key == "--runs") o.runs = value;
    if (key == "--chunk") kChunk = std::size_t(value);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef RTUTEST_HAVE_QSERIALPORT
  QCoreApplication app(argc, argv);  // QSerialPort's notifiers want an application object
#endif
  const Options options = ParseOptions(argc, argv);
  PinToCpu(kPortCpu);
  std::printf("Serial port component benchmark (pseudo-terminals, %u cores)\n",
              std::thread::hardware_concurrency());
  const auto wanted = [&](const char* name) {
    return options.only.empty() || options.only == name;
  };
  if (wanted("throughput")) BenchThroughput(options);
  if (wanted("monitor")) BenchMonitor(options);
  if (wanted("open")) BenchOpenClose(options);
  return 0;
}
