// An auto-reset event, watched by Qt's event loop through QWinEventNotifier.
#include "WakeSignal.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <QObject>
#include <QWinEventNotifier>
#include <stdexcept>

struct TWakeSignal::Native {
  HANDLE event = nullptr;
  std::unique_ptr<QWinEventNotifier> notifier;
};

TWakeSignal::TWakeSignal(std::function<void()> onWake) : native_(std::make_unique<Native>()) {
  native_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (native_->event == nullptr) throw std::runtime_error("Unable to create the UI wake-up event.");
  native_->notifier = std::make_unique<QWinEventNotifier>(native_->event);
  QObject::connect(native_->notifier.get(), &QWinEventNotifier::activated,
                   [onWake = std::move(onWake)] { onWake(); });
}

TWakeSignal::~TWakeSignal() {
  native_->notifier.reset();
  CloseHandle(native_->event);
}

void TWakeSignal::Wake() {
  SetEvent(native_->event);
}
