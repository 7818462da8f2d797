#include "PortCompletion.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QStandardItemModel>
#include <algorithm>

#include "PortMatching.h"

namespace {

class TPortCompleter : public QCompleter {
 public:
  TPortCompleter(QLineEdit* edit, TPortLister listPorts)
      : QCompleter(edit), edit_(edit), listPorts_(std::move(listPorts)) {
    setModel(&model_);
    setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    // Not the line edit's own completer: that one reopens the popup after every key, at the
    // box's width and even once a whole name is there. This one opens only where Show says.
    setWidget(edit);
    connect(this, qOverload<const QString&>(&QCompleter::activated), edit, &QLineEdit::setText);
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
      if (!text.isEmpty()) Show(text);
    });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == edit_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down && !popup()->isVisible()) {
      Show(QString());
      return true;
    }
    return QCompleter::eventFilter(watched, event);
  }

 private:
  void Show(const QString& typed) {
    QStringList entries;
    model_.clear();
    for (const xcom::SerialPortInfo& port : listPorts_()) {
      if (!PortMatches(port.name, typed.toStdString())) continue;
      entries << QString::fromStdString(port.name);
      auto* item = new QStandardItem(entries.back());
      item->setToolTip(QString::fromStdString(port.description));
      model_.appendRow(item);
    }
    // A whole name typed or pasted needs no list: left open, it would take the click on
    // "打开串口" that was meant to open the port.
    if (entries.isEmpty() || IsWholeName(typed, entries)) {
      popup()->hide();
      return;
    }
    complete(QRect(0, 0, PopupWidth(entries), edit_->height()));
  }

  static bool IsWholeName(const QString& typed, const QStringList& entries) {
    return std::any_of(entries.begin(), entries.end(), [&typed](const QString& entry) {
      return entry == typed || entry.endsWith(QLatin1Char('/') + typed);
    });
  }

  // Wide enough for whole paths, whatever the box's own width, but no wider than the room
  // between the box's left edge and the screen's right edge, so that it stays under the box.
  int PopupWidth(const QStringList& entries) const {
    int widest = 0;
    for (const QString& entry : entries)
      widest = std::max(widest, popup()->fontMetrics().horizontalAdvance(entry));
    const QRect screen = edit_->screen()->availableGeometry();
    const int room = screen.right() + 1 - edit_->mapToGlobal(QPoint(0, 0)).x();
    return std::max(edit_->width(), std::min(widest + 40, room));
  }

  QLineEdit* edit_;
  TPortLister listPorts_;
  QStandardItemModel model_;
};

}  // namespace

void InstallPortCompletion(QLineEdit* edit, TPortLister listPorts) {
  new TPortCompleter(edit, std::move(listPorts));
}
