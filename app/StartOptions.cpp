#include "StartOptions.h"

#include <QTimer>

#include "rtutest.h"

namespace {

QString FromArgument(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void ApplyStartOptions(TfrmRTUTest& window, const TProgramOptions& options) {
  TPortTexts texts = window.PortTexts();
  if (options.port) texts.port = FromArgument(*options.port);
  if (options.baud) texts.baud = FromArgument(*options.baud);
  if (options.format) texts.format = FromArgument(*options.format);
  window.ApplyPortTexts(texts);
  if (options.logFile) window.KeepLogFile(FromArgument(*options.logFile));
  if (options.address) window.ApplySlaveAddress(FromArgument(*options.address));
}

void ScheduleStartActions(TfrmRTUTest& window, const TProgramOptions& options) {
  if (options.open) QTimer::singleShot(0, &window, [&window] { window.OpenPort(); });
}
