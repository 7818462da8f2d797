#pragma once
// The program's default error report: an error that escapes a click or timer handler is shown
// in a modal critical message box titled with the program's file name without its extension,
// and the program goes on. Qt lets no exception cross its event loop, so every handler runs
// inside Guarded() and TApplication::notify() catches whatever is left.
//
// At most one error box is open at a time: an error raised while one is on screen (a receive
// poll failing every 100 ms after the device went away, say) is not stacked as another modal
// box; the open box already tells the operator.

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>
#include <string>

// The box text: the message, with a full stop appended when its last character sorts after
// '.' (an empty message stays empty).
std::string ErrorBoxText(std::string message);

// The application's title: the program's file name without its extension.
QString ApplicationTitle();

class TErrorReport {
 public:
  // Shows one box and returns when it has been closed. The default opens a modal QMessageBox
  // with an error icon and an OK button; tests put an observer in its place.
  using Presenter = std::function<void(const QString& title, const QString& text)>;
  static void SetPresenter(Presenter presenter);  // empty: back to the message box

  // Reports `message` (UTF-8) unless a box is open already.
  static void ShowException(const std::string& message);
  static bool BoxOpen();
};

// Runs `handler`; an error it raises goes to the error report instead of the event loop.
template <class Handler>
void Guarded(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    TErrorReport::ShowException(error.what());
  } catch (...) {
    TErrorReport::ShowException("Unknown error");
  }
}

// The application object: the last guard around every event delivery.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
