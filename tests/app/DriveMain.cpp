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

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "AppTestSupport.h"
#include "LogPane.h"
#include "LossScenario.h"
#include "ModbusCrc.h"
#include "ReplyFraming.h"

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
std::optional<xcom::ByteString> ReceivedBytes(const QString& line) {
  const qsizetype at = line.indexOf(QStringLiteral(" 接收："));
  if (at < 0) return std::nullopt;
  xcom::ByteString bytes;
  for (const QString& hex : line.mid(at + 4).split(QLatin1Char(' '), Qt::SkipEmptyParts))
    bytes.push_back(static_cast<std::uint8_t>(hex.toUInt(nullptr, 16)));
  return bytes;
}

// Starts the simulator program with the soak's options; the device it serves, or nothing when it
// did not start.
QString StartSimulator(QProcess& sim, const QStringList& args) {
  QStringList simArgs = {QStringLiteral("--pty"), QStringLiteral("--di"), QStringLiteral("1,0")};
  if (const qsizetype dashes = args.indexOf(QStringLiteral("--")); dashes >= 0)
    simArgs += args.mid(dashes + 1);
  sim.setStandardErrorFile(QProcess::nullDevice());
  sim.start(Option(args, QStringLiteral("--sim")), simArgs);
  if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
    std::fprintf(stderr, "the simulator did not start: %s\n", qPrintable(sim.errorString()));
    return {};
  }
  return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

// Memory and responsiveness over one auto-read run.
struct AutoReadRun {
  qsizetype firstLine = 0;  // the log's first line of the run
  long rssStart = 0;        // KiB, once the first read-alls have run
  long rssEnd = 0;
  std::size_t logBytesStart = 0;
  std::size_t logBytesEnd = 0;
  qint64 longestStall = 0;  // ms
};

AutoReadRun RunAutoRead(TfrmRTUTest& window, int seconds) {
  AutoReadRun run;
  run.firstLine = window.LogPane().lineCount();
  StallMeter meter;
  window.SetAutoRead(true);
  QElapsedTimer clock;
  clock.start();
  // The memory baseline once the first read-alls have run (buffers, fonts and caches that
  // the first lines bring in are no growth).
  QTest::qWait(4000);
  run.rssStart = ResidentKiB();
  run.logBytesStart = window.LogPane().store().bytesInUse();
  while (clock.elapsed() < seconds * 1000LL) QTest::qWait(200);
  window.SetAutoRead(false);
  QTest::qWait(1500);  // the last read-all and its replies
  run.longestStall = meter.LongestMs();
  run.rssEnd = ResidentKiB();
  run.logBytesEnd = window.LogPane().store().bytesInUse();
  return run;
}

// What the log shows from one line on.
struct LogTally {
  long lines = 0;
  long readAlls = 0;
  long received = 0;
  long crcLines = 0;
  long badBlocks = 0;        // corrupt blocks that reached the decoder's CRC check
  long missing = 0;          // ... without the CRC error line after them
  long functionByteHit = 0;  // corrupt blocks the decoder ignores, as it must
  long decodedValues = 0;
};

// Walks the log: every received block that reached the decoder's CRC check with a bad CRC
// must be followed by the CRC error line.
LogTally TallyLog(const TLogPane& log, qsizetype firstLine) {
  const QString crcLine = QStringLiteral("CRC校验失败！");
  const QString inputRequest = QStringLiteral(" 发送：64 03 00 10 00 02 CC 3B ");
  LogTally tally;
  const qsizetype lines = log.lineCount();
  tally.lines = static_cast<long>(lines - firstLine);
  for (qsizetype i = firstLine; i < lines; ++i) {
    const QString line = log.lineText(i);
    if (line.endsWith(inputRequest)) ++tally.readAlls;
    if (line == crcLine) ++tally.crcLines;
    if (line.startsWith(QStringLiteral("DI")) || line.startsWith(QStringLiteral("DO")))
      ++tally.decodedValues;
    const std::optional<xcom::ByteString> block = ReceivedBytes(line);
    if (!block) continue;
    ++tally.received;
    if (block->size() <= 8) continue;
    if ((*block)[1] != 0x03) {
      ++tally.functionByteHit;
      continue;
    }
    // A block of whole replies (one, or several joined) is decoded and needs no CRC line.
    const std::vector<RtuPiece> pieces = SplitRtuBlock(*block, {});
    if (std::all_of(pieces.begin(), pieces.end(),
                    [](const RtuPiece& piece) { return piece.kind == RtuPiece::Kind::Reply; }))
      continue;
    ++tally.badBlocks;
    if (i + 1 >= lines || log.lineText(i + 1) != crcLine) ++tally.missing;
  }
  return tally;
}

// The module's own counters (its "show" text), with the faults it injected.
QString ModuleCounters(QProcess& sim) {
  sim.write("show\n");
  QString counters;
  QElapsedTimer wait;
  wait.start();
  while (!counters.contains(QStringLiteral("hang-ups")) && wait.elapsed() < 5000) {
    sim.waitForReadyRead(100);
    counters += QString::fromLocal8Bit(sim.readAll());
  }
  return counters;
}

// The number after `name` in the module's counters, -1 when it is not there.
long Counter(const QString& counters, const char* name) {
  const QRegularExpression pattern(QLatin1String(name) + QStringLiteral(" (\\d+)"));
  const QRegularExpressionMatch match = pattern.match(counters);
  return match.hasMatch() ? match.captured(1).toLong() : -1L;
}

void PrintSoakFigures(int seconds, const AutoReadRun& run, const LogTally& log,
                      const QString& counters, const QStringList& boxTexts) {
  std::printf("soak_seconds %d\n", seconds);
  std::printf("read_alls %ld\n", log.readAlls);
  std::printf("replies_sent_by_module %ld\n", Counter(counters, "replies sent"));
  std::printf("corruptions_injected %ld\n", Counter(counters, "corrupted"));
  std::printf("replies_dropped %ld\n", Counter(counters, "dropped"));
  std::printf("received_blocks %ld\n", log.received);
  std::printf("decoded_values %ld\n", log.decodedValues);
  std::printf("crc_error_lines %ld\n", log.crcLines);
  std::printf("corrupt_blocks_decoded %ld\n", log.badBlocks);
  std::printf("corrupt_blocks_without_crc_line %ld\n", log.missing);
  std::printf("corrupt_function_byte_ignored %ld\n", log.functionByteHit);
  std::printf("error_boxes %d\n", static_cast<int>(boxTexts.size()));
  std::printf("longest_ui_stall %lld ms\n", run.longestStall);
  std::printf("log_lines %ld\n", log.lines);
  std::printf("rss_start %.1f MiB (after the first read-alls)\n", run.rssStart / 1024.0);
  std::printf("rss_end %.1f MiB\n", run.rssEnd / 1024.0);
  std::printf("rss_growth %.1f KiB\n", static_cast<double>(run.rssEnd - run.rssStart));
  std::printf("log_lines_held %.1f KiB\n", (run.logBytesEnd - run.logBytesStart) / 1024.0);
  for (const QString& text : boxTexts) std::printf("error_box \"%s\"\n", qPrintable(text));
  std::fflush(stdout);
}

int Soak(const QStringList& args) {
  const int seconds = Option(args, QStringLiteral("--seconds"), QStringLiteral("3600")).toInt();
  QProcess sim;
  const QString path = StartSimulator(sim, args);
  if (path.isEmpty()) return 2;

  QStringList boxTexts;
  TErrorReport::SetPresenter([&](const QString&, const QString& text) {
    boxTexts << text;
    QTest::qWait(300);
  });
  TfrmRTUTest window;
  window.show();
  QTest::qWait(300);
  OpenPort(window, path);
  if (!window.Port().Opened()) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
    return 2;
  }
  const AutoReadRun run = RunAutoRead(window, seconds);
  const LogTally log = TallyLog(window.LogPane(), run.firstLine);
  PrintSoakFigures(seconds, run, log, ModuleCounters(sim), boxTexts);
  TErrorReport::SetPresenter({});
  sim.write("quit\n");
  sim.waitForFinished(5000);
  return log.missing == 0 && boxTexts.isEmpty() ? 0 : 1;
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
