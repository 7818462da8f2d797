#include "LogSaving.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QShortcut>
#include <QWidget>
#include <cstdio>
#include <memory>

#include "LogFile.h"
#include "LogPane.h"

namespace {

QStringList LinesOf(const TLogPane& pane) {
  QStringList lines;
  for (qsizetype i = 0; i < pane.lineCount(); ++i) lines << pane.lineText(i);
  return lines;
}

void AskAndSave(QWidget& window, const TLogPane& pane) {
  const QString path =
      QFileDialog::getSaveFileName(&window, QStringLiteral("保存日志"), DefaultSavedLogPath(),
                                   QStringLiteral("日志 (*.log);;文本 (*.txt);;所有文件 (*)"));
  if (!path.isEmpty()) SaveLogText(window, LinesOf(pane), path);
}

}  // namespace

void InstallLogSaving(QWidget& window, const TLogPane& pane) {
  QObject::connect(&pane, &TLogPane::saveRequested, &window,
                   [&window, &pane] { AskAndSave(window, pane); });
  auto* shortcut = new QShortcut(QKeySequence::Save, &window);
  shortcut->setContext(Qt::WindowShortcut);
  QObject::connect(shortcut, &QShortcut::activated, &window,
                   [&window, &pane] { AskAndSave(window, pane); });
}

bool SaveLogText(QWidget& parent, const QStringList& lines, const QString& path) {
  QString error;
  if (SaveLogLines(path, lines, error)) return true;
  QMessageBox::warning(
      &parent, QStringLiteral("保存日志"),
      QStringLiteral("无法保存日志到 “%1”：%2").arg(QDir::toNativeSeparators(path), error));
  return false;
}

std::function<void(const QString&)> LogFileAppender(
    const QString& path, const std::function<void(const QString&)>& addNote) {
  const auto report = [addNote](const QString& sentence) {
    std::fprintf(stderr, "rtutest: %s\n", sentence.toLocal8Bit().constData());
    addNote(sentence);
  };
  auto file = std::make_shared<TLogFile>(path, report);
  if (file->Failed()) return {};
  return [file](const QString& line) { file->Append(line); };
}
