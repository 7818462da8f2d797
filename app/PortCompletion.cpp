#include "PortCompletion.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStandardItemModel>

#include "PortMatching.h"

namespace {

class TPortCompleter : public QCompleter {
 public:
  TPortCompleter(QLineEdit* edit, TPortLister listPorts)
      : QCompleter(edit), edit_(edit), listPorts_(std::move(listPorts)) {
    setModel(&model_);
    setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    edit->setCompleter(this);
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
    if (entries.isEmpty()) {
      popup()->hide();
      return;
    }
    // Wide enough for whole paths, whatever the box's own width.
    int widest = 0;
    for (const QString& entry : entries)
      widest = std::max(widest, popup()->fontMetrics().horizontalAdvance(entry));
    const int width = widest + 40;
    complete(QRect(0, 0, std::max(width, edit_->width()), edit_->height()));
  }

  QLineEdit* edit_;
  TPortLister listPorts_;
  QStandardItemModel model_;
};

}  // namespace

void InstallPortCompletion(QLineEdit* edit, TPortLister listPorts) {
  new TPortCompleter(edit, std::move(listPorts));
}
