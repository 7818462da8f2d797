#include "PortCompletion.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStringListModel>

namespace {

class TPortCompleter : public QCompleter {
 public:
  TPortCompleter(QLineEdit* edit, TPortFolders folders)
      : QCompleter(edit), edit_(edit), folders_(std::move(folders)) {
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
    for (const std::string& port : MatchingPorts(ScanPorts(folders_), typed.toStdString()))
      entries << QString::fromStdString(port);
    model_.setStringList(entries);
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
  TPortFolders folders_;
  QStringListModel model_;
};

}  // namespace

void InstallPortCompletion(QLineEdit* edit, const TPortFolders& folders) {
  new TPortCompleter(edit, folders);
}
