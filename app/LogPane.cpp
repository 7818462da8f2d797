#include "LogPane.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>

#include "LogPanePainting.h"

namespace {

constexpr qreal kMargin = TLogRows::kMargin;

bool IsTypedText(const QKeyEvent* e) {
  const QString text = e->text();
  if (text.isEmpty()) return false;
  const QChar first = text.front();
  if (first.category() == QChar::Other_Format) return true;  // joiners and marks
  const Qt::KeyboardModifiers mods = e->modifiers();
  if (mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier))
    return false;
  if (first.isHighSurrogate()) return text.size() > 1 && text[1].isLowSurrogate();
  return first.isPrint() || first.category() == QChar::Other_PrivateUse;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The pane

TLogPane::TLogPane(QWidget* parent) : QAbstractScrollArea(parent), rows_(store_, cursor_, *this) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled);
  viewport()->setCursor(Qt::IBeamCursor);
}

TLogPane::~TLogPane() = default;

void TLogPane::AppendLine(const QString& line) {
  const TTextPos end = EndPos();
  // As with a text cursor: a caret at the end moves on with the new text, and so does the
  // anchor of a selection made backwards from the end.
  const bool anchorAtEnd = cursor_.anchor == end;
  const bool caretAtEnd = anchorAtEnd && cursor_.caret == end;
  const qsizetype before = store_.count();
  const bool wasEmpty = store_.isEmpty();
  if (std::none_of(line.cbegin(), line.cend(), IsLineBreak)) {
    store_.append(line);
  } else {
    QStringList lines = SplitAtLineBreaks(line);
    store_.append(lines.takeFirst());
    store_.insert(store_.count(), lines);
  }
  if (wasEmpty) rows_.ForgetLayout(0);
  if (caretAtEnd && !cursor_.preedit.isEmpty()) rows_.ForgetLayout(cursor_.caret.line);
  const TTextPos newEnd = EndPos();
  if (anchorAtEnd) cursor_.anchor = newEnd;
  if (caretAtEnd) cursor_.caret = newEnd;
  NotifyLineCount(before);
  if (textInserted_) textInserted_(this, end, wasEmpty ? line : QLatin1Char('\n') + line);
  // While the view follows the end, or the old last line is on screen, the new line shows.
  if (rows_.following() || before - 1 <= lastPaintedLine_) viewport()->update();
}

QString TLogPane::toPlainText() const {
  QStringList lines;
  lines.reserve(store_.count());
  for (qsizetype i = 0; i < store_.count(); ++i) lines.append(store_.text(i));
  return lines.join(QLatin1Char('\n'));
}

void TLogPane::setCaretPosition(TTextPos pos, bool keepAnchor) {
  cursor_.caret = Clamped(pos);
  if (!keepAnchor) cursor_.anchor = cursor_.caret;
  desiredX_ = -1;
  viewport()->update();
}

QString TLogPane::selectedText() const {
  if (!hasSelection()) return QString();
  const TTextPos from = std::min(cursor_.caret, cursor_.anchor);
  const TTextPos to = std::max(cursor_.caret, cursor_.anchor);
  if (from.line == to.line) return store_.text(from.line).mid(from.column, to.column - from.column);
  QStringList lines;
  lines.append(store_.text(from.line).mid(from.column));
  for (qsizetype line = from.line + 1; line < to.line; ++line) lines.append(store_.text(line));
  lines.append(store_.text(to.line).left(to.column));
  return lines.join(QLatin1Char('\n'));
}

qsizetype TLogPane::firstVisibleLine() {
  return rows_.ViewTop().line;
}

int TLogPane::visualRowCount(qsizetype line) {
  return rows_.LayoutOf(line)->lineCount();
}

QRect TLogPane::caretRect() {
  return positionRect(cursor_.caret);
}

QRect TLogPane::positionRect(TTextPos pos) {
  pos = Clamped(pos);
  const TRowPos top = rows_.ViewTop();
  const TRowPos posRow = rows_.RowOf(pos);
  const QTextLine row = rows_.LayoutOf(pos.line)->lineAt(posRow.row);
  qreal y = kMargin;
  if (posRow < top) {
    y -= row.height();  // above the view
  } else {
    for (TRowPos at = top; at < posRow && y <= viewport()->height();) {
      y += rows_.RowHeight(at);
      if (!rows_.NextRow(at)) break;
    }
  }
  const qreal x = kMargin + row.cursorToX(cursor_.LayoutColumn(pos));
  return QRectF(x, y, 1, row.height()).toAlignedRect();
}

TLogPane::TTextPos TLogPane::positionAt(QPoint viewportPoint) {
  return PosAt(viewportPoint);
}

void TLogPane::copy() {
  if (hasSelection()) QGuiApplication::clipboard()->setText(selectedText());
}

void TLogPane::cut() {
  copy();
  if (RemoveSelection()) AfterEdit();
}

void TLogPane::paste() {
  const QString text = QGuiApplication::clipboard()->text();
  if (text.isEmpty()) return;
  InsertText(text);
  AfterEdit();
}

void TLogPane::selectAll() {
  cursor_.anchor = TTextPos{};
  cursor_.caret = EndPos();
  desiredX_ = -1;
  viewport()->update();
}

// ---------------------------------------------------------------------------------------------
// The view and places on screen

void TLogPane::ScrollRows(int rows) {
  rows_.ScrollRows(rows);
  viewport()->update();
}

void TLogPane::EnsureCaretVisible() {
  if (rows_.ScrollToShow(rows_.RowOf(cursor_.caret))) viewport()->update();
}

TLogPane::TTextPos TLogPane::PosAt(QPoint point) {
  const qreal y = std::clamp<qreal>(point.y(), 0, std::max(0, viewport()->height() - 1));
  TRowPos pos = rows_.ViewTop();
  qreal rowTop = kMargin;
  for (;;) {
    const qreal height = rows_.RowHeight(pos);
    if (y < rowTop + height) break;
    TRowPos next = pos;
    if (!rows_.NextRow(next)) break;
    rowTop += height;
    pos = next;
  }
  const QTextLine row = rows_.LayoutOf(pos.line)->lineAt(pos.row);
  const qsizetype column = row.xToCursor(point.x() - kMargin);
  return Clamped(TTextPos{pos.line, column});
}

// ---------------------------------------------------------------------------------------------
// Caret movement

TLogPane::TTextPos TLogPane::EndPos() const {
  const qsizetype last = store_.count() - 1;
  return TTextPos{last, store_.length(last)};
}

TLogPane::TTextPos TLogPane::Clamped(TTextPos pos) const {
  pos.line = std::clamp<qsizetype>(pos.line, 0, store_.count() - 1);
  pos.column = std::clamp<qsizetype>(pos.column, 0, store_.length(pos.line));
  return pos;
}

TLogPane::TTextPos TLogPane::PrevCharPos(TTextPos pos, bool word) {
  if (pos.column > 0) {
    const auto mode = word ? QTextLayout::SkipWords : QTextLayout::SkipCharacters;
    pos.column =
        rows_.LayoutOf(pos.line)->previousCursorPosition(static_cast<int>(pos.column), mode);
    return pos;
  }
  if (pos.line == 0) return pos;
  return TTextPos{pos.line - 1, store_.length(pos.line - 1)};
}

TLogPane::TTextPos TLogPane::NextCharPos(TTextPos pos, bool word) {
  if (pos.column < store_.length(pos.line)) {
    const auto mode = word ? QTextLayout::SkipWords : QTextLayout::SkipCharacters;
    pos.column = rows_.LayoutOf(pos.line)->nextCursorPosition(static_cast<int>(pos.column), mode);
    return pos;
  }
  if (pos.line + 1 >= store_.count()) return pos;
  return TTextPos{pos.line + 1, 0};
}

TLogPane::TTextPos TLogPane::VerticalMove(TTextPos pos, int rows) {
  TRowPos row = rows_.RowOf(pos);
  if (desiredX_ < 0)
    desiredX_ = rows_.LayoutOf(pos.line)->lineAt(row.row).cursorToX(cursor_.LayoutColumn(pos));
  for (int i = 0; i < rows && rows_.NextRow(row); ++i) {
  }
  for (int i = 0; i > rows && rows_.PrevRow(row); --i) {
  }
  const QTextLine target = rows_.LayoutOf(row.line)->lineAt(row.row);
  return Clamped(TTextPos{row.line, target.xToCursor(desiredX_)});
}

TLogPane::TTextPos TLogPane::RowStart(TTextPos pos) {
  const TRowPos row = rows_.RowOf(pos);
  return TTextPos{pos.line, rows_.LayoutOf(pos.line)->lineAt(row.row).textStart()};
}

TLogPane::TTextPos TLogPane::RowEnd(TTextPos pos) {
  const TRowPos row = rows_.RowOf(pos);
  QTextLayout* layout = rows_.LayoutOf(pos.line);
  const QTextLine line = layout->lineAt(row.row);
  qsizetype end = line.textStart() + line.textLength();
  // A wrapped row ends before the blank it broke at, not at the start of the next row.
  if (row.row + 1 < layout->lineCount() && end > line.textStart()) --end;
  return Clamped(TTextPos{pos.line, end});
}

// ---------------------------------------------------------------------------------------------
// Editing

void TLogPane::InsertText(const QString& text) {
  const qsizetype before = store_.count();
  RemoveSelection();
  const QStringList parts = SplitAtLineBreaks(text);
  const qsizetype line = cursor_.caret.line;
  const QString current = store_.text(line);
  const QString head = current.left(cursor_.caret.column);
  const QString tail = current.mid(cursor_.caret.column);
  if (parts.size() == 1) {
    store_.setText(line, head + parts.front() + tail);
    rows_.ForgetLayout(line);
    // Read back: the stored text is what columns count in.
    cursor_.caret.column = store_.length(line) - tail.size();
  } else {
    store_.setText(line, head + parts.front());
    QStringList rest = parts.mid(1);
    rest.back() += tail;
    store_.insert(line + 1, rest);
    rows_.ForgetLayouts();
    cursor_.caret.line = line + rest.size();
    cursor_.caret.column = store_.length(cursor_.caret.line) - tail.size();
  }
  cursor_.caret = Clamped(cursor_.caret);
  cursor_.anchor = cursor_.caret;
  NotifyLineCount(before);
}

void TLogPane::RemoveRange(TTextPos from, TTextPos to) {
  if (to < from) std::swap(from, to);
  const qsizetype before = store_.count();
  if (from != to) {
    const QString head = store_.text(from.line).left(from.column);
    const QString tail = store_.text(to.line).mid(to.column);
    store_.setText(from.line, head + tail);
    if (to.line > from.line) {
      store_.remove(from.line + 1, to.line - from.line);
      rows_.ForgetLayouts();
    } else {
      rows_.ForgetLayout(from.line);
    }
  }
  cursor_.caret = cursor_.anchor = from;
  NotifyLineCount(before);
}

bool TLogPane::RemoveSelection() {
  if (!hasSelection()) return false;
  RemoveRange(cursor_.caret, cursor_.anchor);
  return true;
}

void TLogPane::NotifyLineCount(qsizetype before) {
  if (store_.count() != before) emit lineCountChanged(store_.count());
}

void TLogPane::AfterEdit() {
  desiredX_ = -1;
  RestartCaretBlink();
  EnsureCaretVisible();
  viewport()->update();
}

// ---------------------------------------------------------------------------------------------
// Keyboard and input methods

bool TLogPane::event(QEvent* e) {
  if (e->type() == QEvent::ShortcutOverride) {
    // Keys the pane handles itself are not taken as shortcuts of the window.
    auto* key = static_cast<QKeyEvent*>(e);
    const bool plain = (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) == 0;
    const bool own = key == QKeySequence::Copy || key == QKeySequence::Cut ||
                     key == QKeySequence::Paste || key == QKeySequence::SelectAll ||
                     key == QKeySequence::Delete || (plain && IsTypedText(key)) ||
                     (plain && key->key() >= Qt::Key_Backspace && key->key() <= Qt::Key_PageDown);
    if (own) {
      e->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(e);
}

enum class TLogPane::TCaretMove : int {
  Left,
  Right,
  WordLeft,
  WordRight,
  Up,
  Down,
  PageUp,
  PageDown,
  RowStart,
  RowEnd,
  LineStart,
  LineEnd,
  Start,
  End,
};

namespace {

struct TMoveBinding {
  QKeySequence::StandardKey move;
  QKeySequence::StandardKey select;
  TLogPane::TCaretMove what;
};

// The platform's keys for each caret move, without and with the selection.
const TMoveBinding* MoveBindingOf(const QKeyEvent* e) {
  using Move = TLogPane::TCaretMove;
  static const TMoveBinding kBindings[] = {
      {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Move::Left},
      {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Move::Right},
      {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Move::WordLeft},
      {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Move::WordRight},
      {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Move::Up},
      {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Move::Down},
      {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Move::PageUp},
      {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Move::PageDown},
      {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Move::RowStart},
      {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Move::RowEnd},
      {QKeySequence::MoveToStartOfBlock, QKeySequence::SelectStartOfBlock, Move::LineStart},
      {QKeySequence::MoveToEndOfBlock, QKeySequence::SelectEndOfBlock, Move::LineEnd},
      {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Move::Start},
      {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Move::End},
  };
  for (const TMoveBinding& candidate : kBindings)
    if (e->matches(candidate.move) || e->matches(candidate.select)) return &candidate;
  return nullptr;
}

}  // namespace

bool TLogPane::HandleMoveKey(QKeyEvent* e) {
  const TMoveBinding* binding = MoveBindingOf(e);
  if (binding == nullptr) return false;
  const bool select = e->matches(binding->select);
  const TCaretMove what = binding->what;
  const bool vertical = what == TCaretMove::Up || what == TCaretMove::Down ||
                        what == TCaretMove::PageUp || what == TCaretMove::PageDown;
  if (!vertical) desiredX_ = -1;
  const TTextPos to = MoveTarget(what, select);
  const qreal keptX = desiredX_;
  setCaretPosition(to, select);
  if (vertical) desiredX_ = keptX;
  return true;
}

TLogPane::TTextPos TLogPane::MoveTarget(TCaretMove what, bool select) {
  switch (what) {
    case TCaretMove::Left:
      // Without Shift, a selection collapses to the side the arrow points at.
      return hasSelection() && !select ? std::min(cursor_.caret, cursor_.anchor)
                                       : PrevCharPos(cursor_.caret, false);
    case TCaretMove::Right:
      return hasSelection() && !select ? std::max(cursor_.caret, cursor_.anchor)
                                       : NextCharPos(cursor_.caret, false);
    case TCaretMove::WordLeft:
      return PrevCharPos(cursor_.caret, true);
    case TCaretMove::WordRight:
      return NextCharPos(cursor_.caret, true);
    case TCaretMove::Up:
      return VerticalMove(cursor_.caret, -1);
    case TCaretMove::Down:
      return VerticalMove(cursor_.caret, 1);
    case TCaretMove::PageUp:
    case TCaretMove::PageDown: {
      const int rows = rows_.PageRows() * (what == TCaretMove::PageUp ? -1 : 1);
      const TTextPos to = VerticalMove(cursor_.caret, rows);
      ScrollRows(rows);
      return to;
    }
    case TCaretMove::RowStart:
      return RowStart(cursor_.caret);
    case TCaretMove::RowEnd:
      return RowEnd(cursor_.caret);
    case TCaretMove::LineStart:
      return TTextPos{cursor_.caret.line, 0};
    case TCaretMove::LineEnd:
      return TTextPos{cursor_.caret.line, store_.length(cursor_.caret.line)};
    case TCaretMove::Start:
      return TTextPos{};
    case TCaretMove::End:
      return EndPos();
  }
  return cursor_.caret;
}

void TLogPane::keyPressEvent(QKeyEvent* e) {
  bool edited = true;
  if (e == QKeySequence::SelectAll) {
    selectAll();
    edited = false;
  } else if (e == QKeySequence::Copy) {
    copy();  // the caret stays, and so does the view
    e->accept();
    return;
  } else if (e == QKeySequence::Cut) {
    cut();
  } else if (e == QKeySequence::Paste) {
    paste();
  } else if (HandleMoveKey(e)) {
    edited = false;
  } else if (e == QKeySequence::Delete) {
    if (!RemoveSelection()) RemoveRange(cursor_.caret, NextCharPos(cursor_.caret, false));
  } else if (e == QKeySequence::DeleteEndOfWord) {
    if (!RemoveSelection()) RemoveRange(cursor_.caret, NextCharPos(cursor_.caret, true));
  } else if (e == QKeySequence::DeleteStartOfWord) {
    if (!RemoveSelection()) RemoveRange(PrevCharPos(cursor_.caret, true), cursor_.caret);
  } else if (e->key() == Qt::Key_Backspace && !(e->modifiers() & ~Qt::ShiftModifier)) {
    if (!RemoveSelection()) RemoveRange(PrevCharPos(cursor_.caret, false), cursor_.caret);
  } else if (e == QKeySequence::InsertParagraphSeparator ||
             e == QKeySequence::InsertLineSeparator) {
    InsertText(QStringLiteral("\n"));
  } else if (IsTypedText(e)) {
    InsertText(e->text());
  } else {
    e->ignore();
    return;
  }
  e->accept();
  if (edited) desiredX_ = -1;
  if (!cursor_.preedit.isEmpty()) rows_.ForgetLayouts();
  RestartCaretBlink();
  EnsureCaretVisible();
  viewport()->update();
}

void TLogPane::inputMethodEvent(QInputMethodEvent* e) {
  if (e->replacementLength() > 0 || !e->commitString().isEmpty() ||
      (!e->preeditString().isEmpty() && hasSelection())) {
    if (!RemoveSelection() && e->replacementLength() > 0) {
      // Text around the caret the input method takes back (it counts from the caret).
      const qsizetype length = store_.length(cursor_.caret.line);
      const qsizetype from =
          std::clamp<qsizetype>(cursor_.caret.column + e->replacementStart(), 0, length);
      const qsizetype to = std::clamp<qsizetype>(from + e->replacementLength(), from, length);
      RemoveRange(TTextPos{cursor_.caret.line, from}, TTextPos{cursor_.caret.line, to});
    }
    if (!e->commitString().isEmpty()) InsertText(e->commitString());
  }
  cursor_.preedit = e->preeditString();
  cursor_.preeditCursor = static_cast<int>(cursor_.preedit.size());
  for (const QInputMethodEvent::Attribute& attribute : e->attributes())
    if (attribute.type == QInputMethodEvent::Cursor) cursor_.preeditCursor = attribute.start;
  rows_.ForgetLayout(cursor_.caret.line);
  e->accept();
  AfterEdit();
}

QVariant TLogPane::inputMethodQuery(Qt::InputMethodQuery query) const {
  // Answering lays out the caret's line; the layouts are a cache, not part of the state.
  auto* self = const_cast<TLogPane*>(this);
  switch (query) {
    case Qt::ImEnabled:
      return true;
    case Qt::ImHints:
      return static_cast<int>(Qt::ImhMultiLine);
    case Qt::ImCursorRectangle:
      return self->caretRect().translated(viewport()->pos());
    case Qt::ImFont:
      return font();
    case Qt::ImCursorPosition:
      return static_cast<int>(cursor_.caret.column);
    case Qt::ImAnchorPosition:
      return static_cast<int>(cursor_.anchor.line == cursor_.caret.line ? cursor_.anchor.column
                                                                        : cursor_.caret.column);
    case Qt::ImSurroundingText:
      return store_.text(cursor_.caret.line);
    case Qt::ImCurrentSelection:
      return selectedText();
    default:
      return QAbstractScrollArea::inputMethodQuery(query);
  }
}

// ---------------------------------------------------------------------------------------------
// Mouse

void TLogPane::mousePressEvent(QMouseEvent* e) {
  e->accept();
  if (!cursor_.preedit.isEmpty()) QGuiApplication::inputMethod()->commit();
  if (e->button() == Qt::MiddleButton) {
    // On X11 the middle button pastes the text selected last, where it is clicked.
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString text =
        clipboard->supportsSelection() ? clipboard->text(QClipboard::Selection) : QString();
    if (text.isEmpty()) return;
    setCaretPosition(PosAt(e->position().toPoint()));
    InsertText(text);
    AfterEdit();
    return;
  }
  if (e->button() != Qt::LeftButton) return;  // the right button opens the menu, nothing else
  setCaretPosition(PosAt(e->position().toPoint()), e->modifiers() & Qt::ShiftModifier);
  dragging_ = true;
  dragPoint_ = e->position().toPoint();
  RestartCaretBlink();
  EnsureCaretVisible();
}

void TLogPane::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging_ || !(e->buttons() & Qt::LeftButton)) return;
  dragPoint_ = e->position().toPoint();
  setCaretPosition(PosAt(dragPoint_), true);
  // Dragging past the top or the bottom scrolls the view while the button is held.
  const bool outside = dragPoint_.y() < 0 || dragPoint_.y() >= viewport()->height();
  if (outside && !dragScroll_.isActive())
    dragScroll_.start(50, this);
  else if (!outside)
    dragScroll_.stop();
}

void TLogPane::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  dragging_ = false;
  dragScroll_.stop();
  CopyToSelectionClipboard();
}

void TLogPane::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const TTextPos at = PosAt(e->position().toPoint());
  const QString text = store_.text(at.line);
  QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
  words.setPosition(at.column);
  qsizetype end = words.toNextBoundary();
  if (end < 0) end = text.size();
  words.setPosition(end);
  qsizetype start = words.toPreviousBoundary();
  if (start < 0) start = 0;
  cursor_.anchor = TTextPos{at.line, start};
  cursor_.caret = TTextPos{at.line, end};
  desiredX_ = -1;
  dragging_ = false;
  viewport()->update();
  CopyToSelectionClipboard();
}

void TLogPane::wheelEvent(QWheelEvent* e) {
  wheelRemainder_ += e->angleDelta().y();
  const int steps = wheelRemainder_ / QWheelEvent::DefaultDeltasPerStep;
  wheelRemainder_ -= steps * QWheelEvent::DefaultDeltasPerStep;
  if (steps != 0) ScrollRows(-steps * QApplication::wheelScrollLines());
  e->accept();
}

void TLogPane::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  // The texts and shortcuts of the standard menu of Qt's text edits, translated with them.
  const auto add = [&](const char* text, QKeySequence::StandardKey key, bool enabled, auto action) {
    QString caption = QCoreApplication::translate("QWidgetTextControl", text);
    const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
    if (!shortcut.isEmpty()) caption += QLatin1Char('\t') + shortcut;
    QAction* item = menu.addAction(caption);
    item->setEnabled(enabled);
    connect(item, &QAction::triggered, this, action);
  };
  const bool pasteable = !QGuiApplication::clipboard()->text().isEmpty();
  add("Cu&t", QKeySequence::Cut, hasSelection(), [this] { cut(); });
  add("&Copy", QKeySequence::Copy, hasSelection(), [this] { copy(); });
  add("&Paste", QKeySequence::Paste, pasteable, [this] { paste(); });
  add("Delete", QKeySequence::Delete, hasSelection(), [this] {
    if (RemoveSelection()) AfterEdit();
  });
  menu.addSeparator();
  add("Select All", QKeySequence::SelectAll, !store_.isEmpty(), [this] { selectAll(); });
  menu.addSeparator();
  QAction* save =
      menu.addAction(QStringLiteral("保存日志…\t") +
                     QKeySequence(QKeySequence::Save).toString(QKeySequence::NativeText));
  connect(save, &QAction::triggered, this, &TLogPane::saveRequested);
  menu.exec(e->globalPos());
}

void TLogPane::CopyToSelectionClipboard() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (hasSelection() && clipboard->supportsSelection())
    clipboard->setText(selectedText(), QClipboard::Selection);
}

// ---------------------------------------------------------------------------------------------
// Focus, caret blink, painting

void TLogPane::focusInEvent(QFocusEvent* e) {
  RestartCaretBlink();
  viewport()->update();
  QAbstractScrollArea::focusInEvent(e);
}

void TLogPane::focusOutEvent(QFocusEvent* e) {
  caretBlink_.stop();
  dragScroll_.stop();
  dragging_ = false;
  viewport()->update();
  QAbstractScrollArea::focusOutEvent(e);
}

void TLogPane::RestartCaretBlink() {
  caretShown_ = true;
  const int flash = QApplication::cursorFlashTime();
  if (hasFocus() && flash >= 2)
    caretBlink_.start(flash / 2, this);
  else
    caretBlink_.stop();
}

void TLogPane::timerEvent(QTimerEvent* e) {
  if (e->timerId() == caretBlink_.timerId()) {
    caretShown_ = !caretShown_;
    viewport()->update();
  } else if (e->timerId() == dragScroll_.timerId()) {
    ScrollRows(dragPoint_.y() < 0 ? -1 : 1);
    setCaretPosition(PosAt(dragPoint_), true);
  } else {
    QAbstractScrollArea::timerEvent(e);
  }
}

void TLogPane::changeEvent(QEvent* e) {
  if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange ||
      e->type() == QEvent::LayoutDirectionChange) {
    rows_.ForgetLayouts();
    viewport()->update();
  }
  QAbstractScrollArea::changeEvent(e);
}

void TLogPane::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const TRowPos top = rows_.ViewTop();
  const TLogPaintLook look{palette(),
                           static_cast<qreal>(fontMetrics().horizontalAdvance(QLatin1Char(' '))),
                           static_cast<qreal>(viewport()->height()), hasFocus() && caretShown_};
  lastPaintedLine_ = PaintLogRows(painter, rows_, top, store_, cursor_, look);
  rows_.TrimLayouts(top.line, lastPaintedLine_);
}
