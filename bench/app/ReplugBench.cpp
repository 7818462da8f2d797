// How soon a re-plugged module is in use again: the simulated module (the kestrum-sim program)
// serves a pseudo-terminal behind a fixed link and the window reads it with auto-read on; the
// module is killed and, once the window has noticed, a new one starts on the same link. From
// the module's return the benchmark times the window reopening the line by itself and the
// first reply decoded from the new module (it answers with the other input values). The kills
// land at different moments of the read-all cycle.
//
//   bench_replug <kestrum-sim program> <runs>      (no display needed)
//
// Prints each run, then the median and worst of both times. It only measures.
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "AppTestSupport.h"
#include "LossScenario.h"

namespace {

// The read-all cycle with auto-read on lasts about 1.9 s; kills are spread over it.
constexpr int kCycleMs = 1900;
constexpr int kPullStepMs = 370;

void PrintFigure(const char* name, std::vector<qint64> ms) {
  if (ms.empty()) {
    std::printf("%s none measured\n", name);
    return;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%s median %lld ms, worst %lld ms, best %lld ms (%zu runs)\n", name,
              ms[ms.size() / 2], ms.back(), ms.front(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <kestrum-sim program> <runs>\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication application(argc, argv);
  const QString program = QString::fromLocal8Bit(argv[1]);
  const int runs = std::atoi(argv[2]);
  QTemporaryDir folder;
  const QString link = folder.filePath(QStringLiteral("module"));

  TfrmRTUTest window;
  auto module =
      std::make_unique<ProcessModule>(program, std::array<std::uint16_t, 2>{1, 0}, true, link);
  if (!module->StartError().isEmpty()) {
    std::fprintf(stderr, "bench_replug: %s\n", qPrintable(module->StartError()));
    return 1;
  }
  OpenPort(window, link);
  window.SetAutoRead(true);
  if (!WaitUntil([&] { return Cell(window, 1) == QStringLiteral("01 "); }, 5000)) {
    std::fprintf(stderr, "bench_replug: no read-all was decoded\n");
    return 1;
  }

  std::vector<qint64> reopened;
  std::vector<qint64> decoded;
  for (int run = 0; run < runs; ++run) {
    QTest::qWait((run * kPullStepMs) % kCycleMs);
    const std::array<std::uint16_t, 2> back =
        run % 2 == 0 ? std::array<std::uint16_t, 2>{0, 1} : std::array<std::uint16_t, 2>{1, 0};
    const ReplugTimes times = RunReplug(window, module, program, link, back);
    std::printf("run %d: reopened %lld ms, first decoded reply %lld ms after the return%s%s\n",
                run + 1, times.reopenedMs, times.firstDecodedMs,
                times.failure.isEmpty() ? "" : ": ", qPrintable(times.failure));
    if (times.reopenedMs >= 0) reopened.push_back(times.reopenedMs);
    if (times.firstDecodedMs >= 0) decoded.push_back(times.firstDecodedMs);
  }
  PrintFigure("replug_reopened", reopened);
  PrintFigure("replug_first_decoded_reply", decoded);
  return 0;
}
