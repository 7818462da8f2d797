#include "LogPaneAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <algorithm>
#include <climits>

qsizetype LogTextOffset(const TLogLineStore& store, TLogPane::TTextPos pos) {
  qsizetype offset = 0;
  const qsizetype lastLine = std::clamp<qsizetype>(pos.line, 0, store.count() - 1);
  for (qsizetype line = 0; line < lastLine; ++line) offset += store.length(line) + 1;
  return offset + std::clamp<qsizetype>(pos.column, 0, store.length(lastLine));
}

TLogPane::TTextPos LogTextPosAt(const TLogLineStore& store, qsizetype offset) {
  offset = std::max<qsizetype>(offset, 0);
  qsizetype line = 0;
  for (; line + 1 < store.count(); ++line) {
    const qsizetype length = store.length(line);
    if (offset <= length) break;
    offset -= length + 1;
  }
  return TLogPane::TTextPos{line, std::min(offset, store.length(line))};
}

namespace {

int ToInt(qsizetype n) {
  return static_cast<int>(std::min<qsizetype>(n, INT_MAX));
}

class TLogPaneAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit TLogPaneAccessible(TLogPane* pane)
      : QAccessibleWidget(pane, QAccessible::EditableText) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  // The selection: the pane has at most one.
  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || !Pane()->hasSelection()) return;
    const qsizetype caret = Offset(Pane()->caretPosition());
    const qsizetype anchor = Offset(Pane()->anchorPosition());
    *start = ToInt(std::min(caret, anchor));
    *end = ToInt(std::max(caret, anchor));
  }
  int selectionCount() const override { return Pane()->hasSelection() ? 1 : 0; }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int index) override {
    if (index == 0) Pane()->setCaretPosition(Pane()->caretPosition());
  }
  void setSelection(int index, int start, int end) override {
    if (index != 0) return;
    Pane()->setCaretPosition(PosAt(start));
    Pane()->setCaretPosition(PosAt(end), /*keepAnchor=*/true);
  }

  int cursorPosition() const override { return ToInt(Offset(Pane()->caretPosition())); }
  void setCursorPosition(int position) override { Pane()->setCaretPosition(PosAt(position)); }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return Pane()->toPlainText();
    return QAccessibleWidget::text(t);
  }
  QString text(int start, int end) const override {
    const QString all = Pane()->toPlainText();
    if (start < 0 || end <= start) return QString();
    return all.mid(start, end - start);
  }
  int characterCount() const override {
    return ToInt(
        Offset(TLogPane::TTextPos{Store().count() - 1, Store().length(Store().count() - 1)}));
  }

  // Lines are answered from the store (the default would build the whole text each time).
  QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                       int* end) const override {
    if (boundary != QAccessible::LineBoundary)
      return QAccessibleTextInterface::textAtOffset(offset, boundary, start, end);
    return LineAt(PosAt(offset).line, start, end);
  }
  QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                           int* end) const override {
    if (boundary != QAccessible::LineBoundary)
      return QAccessibleTextInterface::textBeforeOffset(offset, boundary, start, end);
    const qsizetype line = PosAt(offset).line;
    if (line == 0) return NoText(start, end);
    return LineAt(line - 1, start, end);
  }
  QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                          int* end) const override {
    if (boundary != QAccessible::LineBoundary)
      return QAccessibleTextInterface::textAfterOffset(offset, boundary, start, end);
    const qsizetype line = PosAt(offset).line;
    if (line + 1 >= Store().count()) return NoText(start, end);
    return LineAt(line + 1, start, end);
  }

  QRect characterRect(int offset) const override {
    const QRect inViewport = Pane()->positionRect(PosAt(offset));
    return QRect(Pane()->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    const QPoint inViewport = Pane()->viewport()->mapFromGlobal(point);
    if (!Pane()->viewport()->rect().contains(inViewport)) return -1;
    return ToInt(Offset(Pane()->positionAt(inViewport)));
  }
  // The pane scrolls only with the operator's caret; a reader's request to show a part of
  // the text moves nothing.
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* start, int* end) const override {
    *start = *end = offset;
    return QString();
  }

 private:
  TLogPane* Pane() const { return static_cast<TLogPane*>(object()); }
  const TLogLineStore& Store() const { return Pane()->store(); }
  qsizetype Offset(TLogPane::TTextPos pos) const { return LogTextOffset(Store(), pos); }
  TLogPane::TTextPos PosAt(int offset) const { return LogTextPosAt(Store(), offset); }

  QString LineAt(qsizetype line, int* start, int* end) const {
    *start = ToInt(Offset(TLogPane::TTextPos{line, 0}));
    *end = ToInt(*start + Store().length(line));
    return Store().text(line);
  }
  static QString NoText(int* start, int* end) {
    *start = *end = -1;
    return QString();
  }
};

QAccessibleInterface* LogPaneAccessibleFactory(const QString& key, QObject* object) {
  // Qt's accessibility cache takes ownership of the interface it is handed.
  if (key == QLatin1String("TLogPane") && object != nullptr)
    if (auto* pane = qobject_cast<TLogPane*>(object)) return new TLogPaneAccessible(pane);
  return nullptr;
}

}  // namespace

void InstallLogPaneAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(&LogPaneAccessibleFactory);
    TLogPane::setTextInsertedHook(&NotifyLogTextInserted);
    return true;
  }();
  (void)installed;
}

void NotifyLogTextInserted(TLogPane* pane, TLogPane::TTextPos from, const QString& text) {
  if (!QAccessible::isActive()) return;
  QAccessibleTextInsertEvent event(pane, static_cast<int>(LogTextOffset(pane->store(), from)),
                                   text);
  QAccessible::updateAccessibility(&event);
}
