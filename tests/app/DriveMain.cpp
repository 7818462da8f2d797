// Runs the real window without a person, for the reliability scripts:
//
//   app_drive loss --sim <kestrum-sim> --seed <n>
//       one pulled cable during auto-read (scripts/loss-test.sh runs it a hundred times): the
//       simulator program is killed at a moment the seed picks, the window runs on without
//       it, then a new simulator comes up and the window is reopened on its path. Prints one
//       "loss ..." line with the outcome; exit status 0 when every requirement held, 1 if not.
//
//   app_drive soak --sim <kestrum-sim> --seconds <s> [-- <simulator options>]
//       auto-read for <s> seconds against the simulator program (started with the options
//       given, e.g. --corrupt 0.01 --drop 0.01), then the figures of the run, one
//       "name value" per line (scripts/soak.sh). Exit status 1 when a decoded block with a bad
//       CRC was not reported as "CRC校验失败！" or an error box came up.
//
// Error boxes are recorded and closed after 300 ms, as a person would close them.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "AppTestSupport.h"
#include "LogPane.h"
#include "LossScenario.h"
#include "modbuscrc.h"
#include "replyframing.h"

using namespace modbus;  // the protocol layer

namespace {

using testsupport::ResidentKiB;

QString Option(const QStringList& args, const QString& name, const QString& fallback = {}) {
  const qsizetype at = args.indexOf(name);
  return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

int Loss(const QStringList& args) {
  const QString sim = Option(args, QStringLiteral("--sim"));
  const quint32 seed = Option(args, QStringLiteral("--seed"), QStringLiteral("1")).toUInt();
  QRandomGenerator random(seed);
  LossPlan plan;
  // Anywhere in the read-all (which takes about 900 ms) and the pause after it.
  plan.pullAfterMs = static_cast<int>(random.bounded(1900));
  const bool hardKill = seed % 2 == 1;

  ProcessModule first(sim, {1, 0}, hardKill);
  if (!first.StartError().isEmpty()) {
    std::printf("loss seed=%u outcome=failed reason=\"%s\"\n", seed,
                qPrintable(first.StartError()));
    return 1;
  }
  TfrmRTUTest window;
  window.show();
  const LossReport report = RunLossScenario(
      window, first,
      [&] {
        return std::make_unique<ProcessModule>(sim, std::array<std::uint16_t, 2>{0, 1}, hardKill);
      },
      plan);
  std::printf(
      "loss seed=%u pull_after_ms=%d kill=%s outcome=%s longest_stall_ms=%lld "
      "stall_after_pull_ms=%lld error_boxes=%d boxes_at_once=%d sends_into_lost_line=%d%s%s%s\n",
      seed, plan.pullAfterMs, hardKill ? "SIGKILL" : "SIGTERM",
      report.failure.isEmpty() ? "ok" : "failed", report.longestStallMs,
      report.longestStallAfterLossMs, report.errorBoxes, report.mostBoxesAtOnce,
      report.sendsIntoTheLostLine, report.failure.isEmpty() ? "" : " reason=\"",
      qPrintable(report.failure), report.failure.isEmpty() ? "" : "\"");
  std::fflush(stdout);
  return report.failure.isEmpty() ? 0 : 1;
}

// The bytes of a received log line (" 接收：64 03 ..."), or nothing for any other line.
std::optional<ByteString> ReceivedBytes(const QString& line) {
  const qsizetype at = line.indexOf(QStringLiteral(" 接收："));
  if (at < 0) return std::nullopt;
  ByteString bytes;
  for (const QString& hex : line.mid(at + 4).split(QLatin1Char(' '), Qt::SkipEmptyParts))
    bytes.push_back(static_cast<std::uint8_t>(hex.toUInt(nullptr, 16)));
  return bytes;
}

int Soak(const QStringList& args) {
  const QString simProgram = Option(args, QStringLiteral("--sim"));
  const int seconds = Option(args, QStringLiteral("--seconds"), QStringLiteral("3600")).toInt();
  QStringList simArgs = {QStringLiteral("--pty"), QStringLiteral("--di"), QStringLiteral("1,0")};
  if (const qsizetype dashes = args.indexOf(QStringLiteral("--")); dashes >= 0)
    simArgs += args.mid(dashes + 1);

  QProcess sim;
  sim.setStandardErrorFile(QProcess::nullDevice());
  sim.start(simProgram, simArgs);
  if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
    std::fprintf(stderr, "the simulator did not start: %s\n", qPrintable(sim.errorString()));
    return 2;
  }
  const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();

  int boxes = 0;
  QStringList boxTexts;
  ErrorReport::SetPresenter([&](const QString&, const QString& text) {
    ++boxes;
    boxTexts << text;
    QTest::qWait(300);
  });

  long rssStart = 0;
  std::size_t logBytesStart = 0;
  qint64 longestStall = 0;
  {
    TfrmRTUTest window;
    window.show();
    QTest::qWait(300);
    OpenPort(window, path);
    if (!window.XMODEM1.Opened()) {
      std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
      return 2;
    }
    const qsizetype firstLine = window.Memo1->lineCount();
    StallMeter meter;
    window.CheckBox2->setChecked(true);
    QElapsedTimer clock;
    clock.start();
    // The memory baseline once the first read-alls have run (buffers, fonts and caches that
    // the first lines bring in are no growth).
    QTest::qWait(4000);
    rssStart = ResidentKiB();
    logBytesStart = window.Memo1->store().bytesInUse();
    while (clock.elapsed() < seconds * 1000LL) QTest::qWait(200);
    window.CheckBox2->setChecked(false);
    QTest::qWait(1500);  // the last read-all and its replies
    longestStall = meter.LongestMs();
    const long rssEnd = ResidentKiB();
    const std::size_t logBytesEnd = window.Memo1->store().bytesInUse();

    // Walk the log: every received block that reached the decoder's CRC check with a bad CRC
    // must be followed by the CRC error line.
    const QString crcLine = QStringLiteral("CRC校验失败！");
    const QString inputRequest = QStringLiteral(" 发送：64 03 00 10 00 02 CC 3B ");
    long readAlls = 0, received = 0, crcLines = 0, badBlocks = 0, missing = 0;
    long functionByteHit = 0, decodedValues = 0;
    const qsizetype lines = window.Memo1->lineCount();
    for (qsizetype i = firstLine; i < lines; ++i) {
      const QString line = window.Memo1->lineText(i);
      if (line.endsWith(inputRequest)) ++readAlls;
      if (line == crcLine) ++crcLines;
      if (line.startsWith(QStringLiteral("DI")) || line.startsWith(QStringLiteral("DO")))
        ++decodedValues;
      const std::optional<ByteString> block = ReceivedBytes(line);
      if (!block) continue;
      ++received;
      if (block->size() <= 8) continue;
      if ((*block)[1] != 0x03) {
        ++functionByteHit;  // the decoder ignores it, as it must
        continue;
      }
      // A block of whole replies (one, or several joined) is decoded and needs no CRC line.
      const std::vector<RtuPiece> pieces = SplitRtuBlock(*block, {});
      if (std::all_of(pieces.begin(), pieces.end(),
                      [](const RtuPiece& piece) { return piece.kind == RtuPiece::Kind::Reply; }))
        continue;
      ++badBlocks;
      if (i + 1 >= lines || window.Memo1->lineText(i + 1) != crcLine) ++missing;
    }

    // The module's own count of the faults it injected.
    sim.write("show\n");
    QString counters;
    QElapsedTimer wait;
    wait.start();
    while (!counters.contains(QStringLiteral("hang-ups")) && wait.elapsed() < 5000) {
      sim.waitForReadyRead(100);
      counters += QString::fromLocal8Bit(sim.readAll());
    }
    const auto counter = [&counters](const char* name) {
      const QRegularExpression pattern(QLatin1String(name) + QStringLiteral(" (\\d+)"));
      const QRegularExpressionMatch match = pattern.match(counters);
      return match.hasMatch() ? match.captured(1).toLong() : -1L;
    };

    std::printf("soak_seconds %d\n", seconds);
    std::printf("read_alls %ld\n", readAlls);
    std::printf("replies_sent_by_module %ld\n", counter("replies sent"));
    std::printf("corruptions_injected %ld\n", counter("corrupted"));
    std::printf("replies_dropped %ld\n", counter("dropped"));
    std::printf("received_blocks %ld\n", received);
    std::printf("decoded_values %ld\n", decodedValues);
    std::printf("crc_error_lines %ld\n", crcLines);
    std::printf("corrupt_blocks_decoded %ld\n", badBlocks);
    std::printf("corrupt_blocks_without_crc_line %ld\n", missing);
    std::printf("corrupt_function_byte_ignored %ld\n", functionByteHit);
    std::printf("error_boxes %d\n", boxes);
    std::printf("longest_ui_stall %lld ms\n", longestStall);
    std::printf("log_lines %lld\n", static_cast<long long>(lines - firstLine));
    std::printf("rss_start %.1f MiB (after the first read-alls)\n", rssStart / 1024.0);
    std::printf("rss_end %.1f MiB\n", rssEnd / 1024.0);
    std::printf("rss_growth %.1f KiB\n", static_cast<double>(rssEnd - rssStart));
    std::printf("log_lines_held %.1f KiB\n", (logBytesEnd - logBytesStart) / 1024.0);
    for (const QString& text : boxTexts) std::printf("error_box \"%s\"\n", qPrintable(text));
    std::fflush(stdout);
    ErrorReport::SetPresenter({});
    sim.write("quit\n");
    sim.waitForFinished(5000);
    return missing == 0 && boxes == 0 ? 0 : 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication application(argc, argv);
  const QStringList args = QCoreApplication::arguments().mid(1);
  const QString mode = args.value(0);
  if (mode == QLatin1String("loss") && args.contains(QStringLiteral("--sim"))) return Loss(args);
  if (mode == QLatin1String("soak") && args.contains(QStringLiteral("--sim"))) return Soak(args);
  std::fprintf(
      stderr,
      "usage: app_drive loss --sim <kestrum-sim> --seed <n>\n"
      "       app_drive soak --sim <kestrum-sim> --seconds <s> [-- <simulator options>]\n");
  return 2;
}
