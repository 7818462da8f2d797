// How quickly the window answers the window system while auto-read runs against the simulated
// module (its own process, on a pseudo-terminal). A window manager pings a window
// (_NET_WM_PING) to tell a live window from a hung one; an answer that takes long means the
// window neither repaints nor takes a drag meanwhile.
//
//   bench_ping <port> <seconds>     one probe every 50 ms for <seconds>; needs an X display
//   bench_ping --connect <port>     the same while "打开串口" connects to a serial device server
//                                   that never answers (the open's time-out and a second more)
//
// Prints the worst, 99th-percentile and median answer time, the probes left unanswered and
// the read-alls that ran meanwhile. It only measures.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BenchWindow.h"
#include "ErrorReport.h"
#include "LogPane.h"
#include "WmPingProbe.h"
#include "rtutest.h"

namespace {

constexpr int kProbeEveryMs = 50;
constexpr int kLateAnswerMs = 1000;  // how long after the last probe an answer still counts

double Percentile(const std::vector<double>& sorted, double share) {
  const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void Report(WmPingProbe::Results results, double readAlls) {
  std::vector<double>& answers = results.answerMs;
  std::sort(answers.begin(), answers.end());
  const auto slow =
      std::count_if(answers.begin(), answers.end(), [](double ms) { return ms > 100; });
  std::printf("ping_probes %d sent, one every %d ms\n", results.sent, kProbeEveryMs);
  std::printf("ping_unanswered %d probes\n", results.sent - static_cast<int>(answers.size()));
  if (!answers.empty()) {
    std::printf("ping_worst %.1f ms (goal: at most 100)\n", answers.back());
    std::printf("ping_p99 %.1f ms\n", Percentile(answers, 0.99));
    std::printf("ping_median %.1f ms\n", Percentile(answers, 0.5));
    std::printf("ping_over_100ms %lld probes\n", static_cast<long long>(slow));
  }
  std::printf("ping_read_alls %.0f during the probes\n", readAlls);
}

}  // namespace

// The probes run from before the click to after the open gave up; the open runs on the UI
// thread, as the operator's click does.
int ConnectBench(TfrmRTUTest& window, WmPingProbe& probe, const QString& port) {
  TPortTexts texts = window.PortTexts();
  texts.port = port;
  window.ApplyPortTexts(texts);
  constexpr int kProbeMs = 5000;
  probe.Start(kProbeEveryMs, kProbeMs, kLateAnswerMs);
  QElapsedTimer openTook;
  QTimer::singleShot(300, &window, [&] {
    openTook.start();
    window.OpenPort();
    std::printf("connect_open %s after %lld ms: %s\n", window.Port().Opened() ? "opened" : "failed",
                openTook.elapsed(), qPrintable(window.StatusText(1)));
  });
  RunLoop(kProbeMs + kLateAnswerMs + 200);
  Report(probe.Collect(), 0);
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <port> <seconds>\n", argv[0]);
    return 2;
  }
  TApplication application(argc, argv);
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
    std::fprintf(stderr, "bench_ping: needs an X display (QT_QPA_PLATFORM=xcb)\n");
    return 2;
  }
  const bool connect = std::strcmp(argv[1], "--connect") == 0;
  const int seconds = connect ? 0 : std::atoi(argv[2]);
  TfrmRTUTest window;
  window.show();
  Pump(300);
  if (!connect && !OpenWithAutoRead(window, QString::fromLocal8Bit(argv[1]))) return 1;

  WmPingProbe probe(static_cast<xcb_window_t>(window.winId()));
  if (!probe.Error().empty()) {
    std::fprintf(stderr, "bench_ping: %s\n", probe.Error().c_str());
    return 1;
  }
  if (connect) return ConnectBench(window, probe, QString::fromLocal8Bit(argv[2]));
  const qsizetype linesBefore = window.LogPane().lineCount();
  probe.Start(kProbeEveryMs, seconds * 1000, kLateAnswerMs);
  RunLoop(seconds * 1000 + kLateAnswerMs + 200);
  // A read-all logs eight lines: two requests, two replies and four values.
  Report(probe.Collect(), static_cast<double>(window.LogPane().lineCount() - linesBefore) / 8.0);
  return 0;
}
