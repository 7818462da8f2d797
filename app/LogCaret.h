#pragma once
// Where the log pane's caret stands: a place in the text, the selection's other end, and the
// text an input method is composing at the caret (shown, not yet part of the text).

#include <QString>
#include <QtGlobal>
#include <compare>

// A place in the text: a line and a column in UTF-16 code units of that line's text.
struct TLogTextPos {
  qsizetype line = 0;
  qsizetype column = 0;
  auto operator<=>(const TLogTextPos&) const = default;
};

struct TLogCaret {
  TLogTextPos caret;
  TLogTextPos anchor;
  QString preedit;
  int preeditCursor = 0;

  bool hasSelection() const { return caret != anchor; }
  // The column of `pos` in its line's layout, which shows the composed text at the caret.
  int LayoutColumn(TLogTextPos pos) const {
    int column = static_cast<int>(pos.column);
    if (!preedit.isEmpty() && pos.line == caret.line && pos.column >= caret.column)
      column += pos == caret ? preeditCursor : static_cast<int>(preedit.size());
    return column;
  }
};
