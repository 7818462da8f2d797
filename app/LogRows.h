#pragma once
// The log pane's screen rows: the lines laid out (QTextLayout, wrapped at the pane's width),
// only those on screen and at the end kept, and the moves from row to row that scrolling,
// the caret and painting make. The view's top row lives here too: it is a row, and it follows
// the end until the operator scrolls away.

#include <QtGlobal>
#include <compare>
#include <memory>
#include <unordered_map>

#include "LogCaret.h"
#include "LogLineStore.h"

class QAbstractScrollArea;
class QTextLayout;

class TLogRows {
 public:
  // A screen row: row `row` of the wrapped line `line`.
  struct TRowPos {
    qsizetype line = 0;
    int row = 0;
    auto operator<=>(const TRowPos&) const = default;
  };

  static constexpr qreal kMargin = 4;  // around the text, as in a plain text edit

  // Lays out `store`'s lines in `pane`'s font, direction and width, with the composed text of
  // `caret` in its line.
  TLogRows(const TLogLineStore& store, const TLogCaret& caret, const QAbstractScrollArea& pane);
  ~TLogRows();
  TLogRows(const TLogRows&) = delete;
  TLogRows& operator=(const TLogRows&) = delete;

  // The layout cache: kept lines, and those whose text or look changed forgotten.
  QTextLayout* LayoutOf(qsizetype line);
  void ForgetLayouts();
  void ForgetLayout(qsizetype line);
  // Keeps the lines `firstKept`..`lastKept` and those at the end.
  void TrimLayouts(qsizetype firstKept, qsizetype lastKept);
  std::size_t layoutsCached() const { return layouts_.size(); }

  qreal ViewHeight() const;
  qreal RowHeight(TRowPos pos);
  bool NextRow(TRowPos& pos);
  bool PrevRow(TRowPos& pos);
  TRowPos LastRow();
  TRowPos MaxTop();
  TRowPos RowOf(TLogTextPos pos);
  // How many whole rows the view shows from its top (at least one).
  int PageRows();

  // The view: its top row, whether it follows the end, and moving it.
  TRowPos ViewTop();
  bool following() const { return following_; }
  void ScrollRows(int rows);
  // Moves the view just enough for `row` to be on screen; false when it was already.
  bool ScrollToShow(TRowPos row);

 private:
  qreal WrapWidth() const;

  const TLogLineStore& store_;
  const TLogCaret& caret_;
  const QAbstractScrollArea& pane_;
  std::unordered_map<qsizetype, std::unique_ptr<QTextLayout>> layouts_;
  qreal layoutWidth_ = -1;
  TRowPos top_;  // the first row on screen while not following
  bool following_ = true;
  qsizetype bottomFirstLine_ = 0;  // the first line MaxTop() laid out
};
