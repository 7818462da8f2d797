#include "LogRows.h"

#include <QAbstractScrollArea>
#include <QTextLayout>
#include <algorithm>

TLogRows::TLogRows(const TLogLineStore& store, const TLogCaret& caret,
                   const QAbstractScrollArea& pane)
    : store_(store), caret_(caret), pane_(pane) {}

TLogRows::~TLogRows() = default;

// ---------------------------------------------------------------------------------------------
// Layout of the lines on screen

QTextLayout* TLogRows::LayoutOf(qsizetype line) {
  const qreal width = WrapWidth();
  if (width != layoutWidth_) {
    layouts_.clear();
    layoutWidth_ = width;
  }
  auto found = layouts_.find(line);
  if (found != layouts_.end()) return found->second.get();

  auto layout = std::make_unique<QTextLayout>(store_.text(line), pane_.font(), pane_.viewport());
  QTextOption option(Qt::AlignLeft);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  option.setTextDirection(pane_.layoutDirection());
  layout->setTextOption(option);
  layout->setCacheEnabled(true);
  if (line == caret_.caret.line && !caret_.preedit.isEmpty())
    layout->setPreeditArea(static_cast<int>(caret_.caret.column), caret_.preedit);
  layout->beginLayout();
  qreal y = 0;
  for (QTextLine row = layout->createLine(); row.isValid(); row = layout->createLine()) {
    row.setLineWidth(width);
    row.setPosition(QPointF(0, y));
    y += row.height();
  }
  layout->endLayout();
  return layouts_.emplace(line, std::move(layout)).first->second.get();
}

void TLogRows::ForgetLayouts() {
  layouts_.clear();
}

void TLogRows::ForgetLayout(qsizetype line) {
  layouts_.erase(line);
}

void TLogRows::TrimLayouts(qsizetype firstKept, qsizetype lastKept) {
  for (auto it = layouts_.begin(); it != layouts_.end();) {
    const qsizetype line = it->first;
    const bool kept = (line >= firstKept && line <= lastKept) || line >= bottomFirstLine_;
    it = kept ? std::next(it) : layouts_.erase(it);
  }
}

qreal TLogRows::WrapWidth() const {
  return std::max<qreal>(1, pane_.viewport()->width() - 2 * kMargin);
}

qreal TLogRows::ViewHeight() const {
  return pane_.viewport()->height() - 2 * kMargin;
}

// ---------------------------------------------------------------------------------------------
// Row moves

qreal TLogRows::RowHeight(TRowPos pos) {
  return LayoutOf(pos.line)->lineAt(pos.row).height();
}

bool TLogRows::NextRow(TRowPos& pos) {
  if (pos.row + 1 < LayoutOf(pos.line)->lineCount()) {
    ++pos.row;
    return true;
  }
  if (pos.line + 1 >= store_.count()) return false;
  pos = TRowPos{pos.line + 1, 0};
  return true;
}

bool TLogRows::PrevRow(TRowPos& pos) {
  if (pos.row > 0) {
    --pos.row;
    return true;
  }
  if (pos.line == 0) return false;
  pos = TRowPos{pos.line - 1, LayoutOf(pos.line - 1)->lineCount() - 1};
  return true;
}

TLogRows::TRowPos TLogRows::LastRow() {
  const qsizetype line = store_.count() - 1;
  return TRowPos{line, LayoutOf(line)->lineCount() - 1};
}

// The view scrolled as far down as it goes: the top row from which every row to the end fits
// (the last row alone when not even that fits).
TLogRows::TRowPos TLogRows::MaxTop() {
  TRowPos top = LastRow();
  qreal used = RowHeight(top);
  for (TRowPos above = top; PrevRow(above);) {
    const qreal height = RowHeight(above);
    if (used + height > ViewHeight()) break;
    used += height;
    top = above;
  }
  bottomFirstLine_ = top.line;
  return top;
}

TLogRows::TRowPos TLogRows::RowOf(TLogTextPos pos) {
  QTextLayout* layout = LayoutOf(pos.line);
  const QTextLine row = layout->lineForTextPosition(caret_.LayoutColumn(pos));
  return TRowPos{pos.line, row.isValid() ? row.lineNumber() : layout->lineCount() - 1};
}

int TLogRows::PageRows() {
  int rows = 0;
  qreal used = 0;
  TRowPos pos = ViewTop();
  do {
    used += RowHeight(pos);
    if (used > ViewHeight()) break;
    ++rows;
  } while (NextRow(pos));
  return std::max(1, rows);
}

// ---------------------------------------------------------------------------------------------
// The view

TLogRows::TRowPos TLogRows::ViewTop() {
  const TRowPos max = MaxTop();
  if (following_) return max;
  TRowPos top = top_;
  if (top.line >= store_.count()) top = TRowPos{store_.count() - 1, 0};
  top.row = std::clamp(top.row, 0, LayoutOf(top.line)->lineCount() - 1);
  if (top >= max) {  // the end is in view again (the pane grew, lines went away)
    following_ = true;
    return max;
  }
  return top;
}

void TLogRows::ScrollRows(int rows) {
  const TRowPos max = MaxTop();
  TRowPos top = ViewTop();
  for (int i = 0; i < rows && top < max; ++i) NextRow(top);
  for (int i = 0; i > rows && PrevRow(top); --i) {
  }
  following_ = top >= max;
  top_ = following_ ? max : top;
}

bool TLogRows::ScrollToShow(TRowPos row) {
  const TRowPos top = ViewTop();
  if (row < top) {
    top_ = row;
    following_ = top_ >= MaxTop();
    return true;
  }
  qreal used = 0;
  for (TRowPos pos = top; pos < row && used <= ViewHeight();) {
    used += RowHeight(pos);
    if (!NextRow(pos)) break;
  }
  if (used + RowHeight(row) <= ViewHeight()) return false;  // on screen already
  // Scroll down just enough for the row to be the last one on screen.
  TRowPos newTop = row;
  used = RowHeight(row);
  for (TRowPos above = row; PrevRow(above);) {
    const qreal height = RowHeight(above);
    if (used + height > ViewHeight()) break;
    used += height;
    newTop = above;
  }
  top_ = newTop;
  following_ = top_ >= MaxTop();
  return true;
}
