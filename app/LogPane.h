#pragma once
// The log pane: a multi-line text that grows by whole lines appended at its end for the life of
// the window, wraps long lines at its width, shows no scroll bars, and stays editable: the
// operator may type into it, select and copy.
//
// A day of auto-read is some 400,000 lines, so the text is not kept in a QTextDocument (about
// 600 bytes a line). TLogLineStore keeps each line as UTF-8 in large chunks with a 12-byte
// index entry; TLogRows (LogRows.h) lays out only the lines on screen and moves between
// rows, and PaintLogRows (LogPanePainting.h) paints them. The pane itself keeps the caret and
// the selection and takes the operator's input.
//
// The view follows the end the way a plain text edit does: while the last line is on screen,
// a new line scrolls into view at the bottom; once the operator has moved the view up (wheel,
// keys, a caret moved above the view), it stays where it is. A caret standing at the end of the
// text moves on with the appended lines; anywhere else it stays.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QString>
#include <QStringList>
#include <QStringView>

#include "LogCaret.h"
#include "LogLineStore.h"
#include "LogRows.h"

class TLogPane : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // The caret moves the keyboard offers (LogPane.cpp binds them to the platform's keys).
  enum class TCaretMove : int;

  // A place in the text: a line and a column in UTF-16 code units of that line's text.
  using TTextPos = TLogTextPos;

  explicit TLogPane(QWidget* parent = nullptr);
  ~TLogPane() override;

  // Told of every text appended, for assistive technology (InstallLogPaneAccessibility sets
  // it, once per process); the pane itself knows nothing of who listens.
  using TTextInserted = void (*)(TLogPane* pane, TTextPos from, const QString& text);
  static void setTextInsertedHook(TTextInserted hook) { textInserted_ = hook; }

  // Appends one line (text with line breaks in it becomes several lines).
  void AppendLine(const QString& line);

  // The text, lines joined with '\n'.
  QString toPlainText() const;
  qsizetype lineCount() const { return store_.count(); }
  QString lineText(qsizetype line) const { return store_.text(line); }
  const TLogLineStore& store() const { return store_; }

  TTextPos caretPosition() const { return cursor_.caret; }
  TTextPos anchorPosition() const { return cursor_.anchor; }
  void setCaretPosition(TTextPos pos, bool keepAnchor = false);
  bool hasSelection() const { return cursor_.hasSelection(); }
  QString selectedText() const;

  // The view: its first line on screen, and whether new lines will scroll into view.
  qsizetype firstVisibleLine();
  bool followsEnd() const { return rows_.following(); }
  // The screen rows `line` takes at the current width (its wrapped lines).
  int visualRowCount(qsizetype line);
  // The caret's rectangle in viewport coordinates, and that of any place in the text.
  QRect caretRect();
  QRect positionRect(TTextPos pos);
  // The place in the text shown at a point of the viewport (the nearest line on screen).
  TTextPos positionAt(QPoint viewportPoint);
  // How many lines are laid out at the moment (only those on screen and at the end are).
  std::size_t layoutsCached() const { return rows_.layoutsCached(); }

 public:
  void copy();
  void cut();
  void paste();
  void selectAll();

  // What an input method asks about the caret and its line.
  QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

 signals:
  // The operator chose "保存日志…" in the context menu.
  void saveRequested();
  // The number of lines changed (an append to an empty pane does not change it).
  void lineCountChanged(qsizetype count);

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void timerEvent(QTimerEvent* e) override;

 private:
  using TRowPos = TLogRows::TRowPos;

  void ScrollRows(int rows);
  void EnsureCaretVisible();
  TTextPos PosAt(QPoint viewportPoint);

  TTextPos EndPos() const;
  TTextPos Clamped(TTextPos pos) const;
  TTextPos PrevCharPos(TTextPos pos, bool word);
  TTextPos NextCharPos(TTextPos pos, bool word);
  TTextPos VerticalMove(TTextPos pos, int rows);
  TTextPos RowStart(TTextPos pos);
  TTextPos RowEnd(TTextPos pos);

  void InsertText(const QString& text);
  void RemoveRange(TTextPos from, TTextPos to);
  bool RemoveSelection();
  void NotifyLineCount(qsizetype before);
  void AfterEdit();
  bool HandleMoveKey(QKeyEvent* e);
  TTextPos MoveTarget(TCaretMove what, bool select);
  void RestartCaretBlink();
  void CopyToSelectionClipboard();

  TLogLineStore store_;
  static inline TTextInserted textInserted_ = nullptr;
  TLogCaret cursor_;
  qreal desiredX_ = -1;  // kept over consecutive up/down moves
  TLogRows rows_;
  bool caretShown_ = true;
  QBasicTimer caretBlink_;
  QBasicTimer dragScroll_;
  bool dragging_ = false;
  QPoint dragPoint_;
  int wheelRemainder_ = 0;
  qsizetype lastPaintedLine_ = -1;
};
