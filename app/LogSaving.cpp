#include "LogSaving.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QShortcut>
#include <cstdio>
#include <memory>

#include "LineWatch.h"
#include "LogFile.h"
#include "LogPane.h"
#include "rtutest.h"

namespace {

void AskAndSave(TfrmRTUTest& window) {
  const QString path =
      QFileDialog::getSaveFileName(&window, QStringLiteral("保存日志"), DefaultSavedLogPath(),
                                   QStringLiteral("日志 (*.log);;文本 (*.txt);;所有文件 (*)"));
  if (!path.isEmpty()) SaveLogPane(window, path);
}

}  // namespace

void InstallLogSaving(TfrmRTUTest& window) {
  QObject::connect(window.Memo1, &TLogPane::saveRequested, &window,
                   [&window] { AskAndSave(window); });
  auto* shortcut = new QShortcut(QKeySequence::Save, &window);
  shortcut->setContext(Qt::WindowShortcut);
  QObject::connect(shortcut, &QShortcut::activated, &window, [&window] { AskAndSave(window); });
}

bool SaveLogPane(TfrmRTUTest& window, const QString& path) {
  QStringList lines;
  for (qsizetype i = 0; i < window.Memo1->lineCount(); ++i) lines << window.Memo1->lineText(i);
  QString error;
  if (SaveLogLines(path, lines, error)) return true;
  QMessageBox::warning(&window, QStringLiteral("保存日志"),
                       QStringLiteral("无法保存日志到 “%1”：%2").arg(path, error));
  return false;
}

void KeepLogFile(TfrmRTUTest& window, const QString& path) {
  const auto report = [&window](const QString& sentence) {
    std::fprintf(stderr, "rtutest: %s\n", sentence.toLocal8Bit().constData());
    window.lineWatch->AddStandingNote(sentence);
  };
  if (const QString refusal = LogFileRefusal(path); !refusal.isEmpty()) {
    report(refusal);
    return;
  }
  auto file = std::make_shared<TLogFile>(path, report);
  window.onLogLine = [file](const QString& line) { file->Append(line); };
}
