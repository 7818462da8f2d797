#include "ErrorReport.h"

#include <QFileInfo>
#include <QMessageBox>

namespace {

TErrorReport::Presenter& CurrentPresenter() {
  static TErrorReport::Presenter presenter;
  return presenter;
}

bool boxOpen = false;  // UI thread only

void ShowMessageBox(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

}  // namespace

std::string ErrorBoxText(std::string message) {
  // Compared as unsigned bytes: the last byte of a multi-byte UTF-8 character sorts after '.'
  // like the character itself.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

QString ApplicationTitle() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void TErrorReport::SetPresenter(Presenter presenter) {
  CurrentPresenter() = std::move(presenter);
}

bool TErrorReport::BoxOpen() {
  return boxOpen;
}

void TErrorReport::ShowException(const std::string& message) {
  if (boxOpen) return;
  boxOpen = true;
  struct TReset {
    ~TReset() { boxOpen = false; }
  } reset;
  const QString text = QString::fromStdString(ErrorBoxText(message));
  if (CurrentPresenter())
    CurrentPresenter()(ApplicationTitle(), text);
  else
    ShowMessageBox(ApplicationTitle(), text);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    TErrorReport::ShowException(error.what());
  } catch (...) {
    TErrorReport::ShowException("Unknown error");
  }
  return false;
}
