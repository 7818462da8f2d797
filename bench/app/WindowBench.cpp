// Figures of the window, one measurement per run (scripts/bench.sh runs them):
//
//   bench_window launch <start-ns>   ms from <start-ns> (CLOCK_REALTIME, taken by the caller
//                                    just before starting this program) to the window's first
//                                    paint
//   bench_window idle [seconds]      resident memory after the window has been shown and idle
//   bench_window cpu <port> <s>      CPU used over <s> seconds with the port open and nothing
//                                    happening, then over <s> seconds with auto-read on (the
//                                    simulated module runs as its own process)
//   bench_window log <lines>         the log pane after <lines> appended lines: memory per line,
//                                    and the cost of the last 10,000 appends against the first
//
// Each prints "name value unit" lines. Nothing here fails on a slow machine: it only measures.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "BenchWindow.h"
#include "ErrorReport.h"
#include "LogPane.h"
#include "LogTimeStamp.h"
#include "TestSupport.h"
#include "rtutest.h"

namespace {

using testsupport::ResidentKiB;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Notes the window's first paint.
class FirstPaint : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !painted) {
      painted = true;
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return false;
  }
};

int Launch(long long startNs) {
  TfrmRTUTest window;
  FirstPaint watcher;
  window.installEventFilter(&watcher);
  window.show();
  QCoreApplication::exec();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const long long nowNs = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  std::printf("launch_to_shown %.1f ms\n", (nowNs - startNs) / 1e6);
  return watcher.painted ? 0 : 1;
}

int Idle(int seconds) {
  TfrmRTUTest window;
  window.show();
  RunLoop(seconds * 1000);
  std::printf("idle_rss %.1f MiB\n", ResidentKiB() / 1024.0);
  return 0;
}

long WakeUps() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw;
}

struct TCpuShare {
  double percent;           // of one core
  double wakeUpsPerSecond;  // the process's threads going to sleep and waking again
};

// The process's CPU time (all its threads) over `seconds` of the event loop. On a busy machine
// each wake-up costs more (cold caches, a contended core): the wake-ups are the steadier figure.
TCpuShare CpuShare(int seconds) {
  const double cpuBefore = CpuSeconds();
  const long wakeUpsBefore = WakeUps();
  QElapsedTimer wall;
  wall.start();
  RunLoop(seconds * 1000);
  const double elapsed = wall.elapsed() / 1000.0;
  return {100.0 * (CpuSeconds() - cpuBefore) / elapsed, (WakeUps() - wakeUpsBefore) / elapsed};
}

// First the port open with nothing happening (the receive poll and the line watch tick on and
// find nothing), then with auto-read on.
int Cpu(const QString& port, int seconds) {
  TfrmRTUTest window;
  window.show();
  Pump(200);
  if (!OpenQuietly(window, port)) return 1;
  const TCpuShare quiet = CpuShare(seconds);
  std::printf("open_quiet_cpu %.3f %% of one core\n", quiet.percent);
  std::printf("open_quiet_wakeups %.1f per second\n", quiet.wakeUpsPerSecond);
  StartAutoRead(window);
  const qsizetype linesBefore = window.LogPane().lineCount();
  QElapsedTimer wall;
  wall.start();
  const TCpuShare autoRead = CpuShare(seconds);
  const double elapsed = wall.elapsed() / 1000.0;
  const qsizetype lines = window.LogPane().lineCount() - linesBefore;
  std::printf("autoread_cpu %.3f %% of one core\n", autoRead.percent);
  std::printf("autoread_wakeups %.1f per second\n", autoRead.wakeUpsPerSecond);
  std::printf("autoread_reads %.1f per minute\n", lines / 8.0 * 60.0 / elapsed);
  std::printf("autoread_rss %.1f MiB\n", ResidentKiB() / 1024.0);
  return 0;
}

int Log(int lines) {
  TfrmRTUTest window;
  window.show();
  Pump(300);
  const long rssBefore = ResidentKiB();
  const int window10k = 10000;
  double firstMs = 0;
  double lastMs = 0;
  QElapsedTimer clock;
  // About a day of auto-read: the eight lines of one read-all, over and over.
  QString oneRead[8];
  const std::vector<std::string> sample =
      testsupport::ReadAllLogLines(LogTimeStamp().toStdString());
  for (int i = 0; i < 8; ++i) oneRead[i] = QString::fromStdString(sample[i]);
  for (int i = 0; i < lines; ++i) {
    if (i == 0 || i == lines - window10k) clock.start();
    window.AppendLogLine(oneRead[i % 8]);
    if (i == window10k - 1) firstMs = clock.nsecsElapsed() / 1e6;
    if (i == lines - 1) lastMs = clock.nsecsElapsed() / 1e6;
    // The window repaints between read-alls as it would in use.
    if (i % 1000 == 999) QCoreApplication::processEvents();
  }
  Pump(300);
  const long rssAfter = ResidentKiB();
  std::printf("log_lines %d lines\n", lines);
  std::printf("log_rss_growth %.1f MiB\n", (rssAfter - rssBefore) / 1024.0);
  std::printf("log_bytes_per_line %.0f bytes\n", (rssAfter - rssBefore) * 1024.0 / lines);
  // The pane's own count of what it holds (text and index), and the lines it keeps laid out.
  std::printf("log_store_bytes_per_line %.0f bytes\n",
              static_cast<double>(window.LogPane().store().bytesInUse()) / lines);
  std::printf("log_layouts_cached %zu lines\n", window.LogPane().layoutsCached());
  std::printf("log_first_10k_appends %.1f ms\n", firstMs);
  std::printf("log_last_10k_appends %.1f ms\n", lastMs);
  std::printf("log_last_vs_first %.2f x\n", firstMs > 0 ? lastMs / firstMs : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s launch <start-ns> | idle [s] | cpu <port> <s> | log <n>\n",
                 argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  TApplication application(argc, argv);
  if (mode == "launch" && argc == 3) return Launch(std::atoll(argv[2]));
  if (mode == "idle") return Idle(argc >= 3 ? std::atoi(argv[2]) : 3);
  if (mode == "cpu" && argc == 4) return Cpu(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
  if (mode == "log" && argc == 3) return Log(std::atoi(argv[2]));
  std::fprintf(stderr, "unknown arguments\n");
  return 2;
}
