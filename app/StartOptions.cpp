#include "StartOptions.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "rtutest.h"

namespace {

QString FromArgument(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void ApplyStartOptions(TfrmRTUTest& window, const TProgramOptions& options) {
  if (options.port) window.Edit1->setText(FromArgument(*options.port));
  if (options.baud) window.ComboBox1->setEditText(FromArgument(*options.baud));
  if (options.format) window.ComboBox6->setEditText(FromArgument(*options.format));
  if (options.logFile) window.KeepLogFile(FromArgument(*options.logFile));
  if (options.address) {
    window.edmodaddr->setText(FromArgument(*options.address));
    window.Button2->click();
  }
}

void ScheduleStartActions(TfrmRTUTest& window, const TProgramOptions& options) {
  if (options.open) QTimer::singleShot(0, window.Button1, &QPushButton::click);
}
