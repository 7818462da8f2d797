#include "LogPanePainting.h"

#include <QList>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>

namespace {

constexpr qreal kMargin = TLogRows::kMargin;

// The selected part of `line` (laid out as `layout`), and its line break when that is selected.
void AddSelection(QPainter& painter, const QTextLayout& layout, qsizetype line, qreal origin,
                  const TLogCaret& caret, const TLogPaintLook& look,
                  QList<QTextLayout::FormatRange>& formats) {
  const TLogTextPos selFrom = std::min(caret.caret, caret.anchor);
  const TLogTextPos selTo = std::max(caret.caret, caret.anchor);
  if (!caret.hasSelection() || line < selFrom.line || selTo.line < line) return;
  const int start = line == selFrom.line ? caret.LayoutColumn(selFrom) : 0;
  const int end =
      line == selTo.line ? caret.LayoutColumn(selTo) : static_cast<int>(layout.text().size());
  if (end > start) {
    QTextLayout::FormatRange range;
    range.start = start;
    range.length = end - start;
    range.format.setBackground(look.colors.brush(QPalette::Highlight));
    range.format.setForeground(look.colors.brush(QPalette::HighlightedText));
    formats.append(range);
  }
  if (line < selTo.line) {  // the line break is selected too
    const QTextLine lastRow = layout.lineAt(layout.lineCount() - 1);
    painter.fillRect(QRectF(kMargin + lastRow.naturalTextWidth(), origin + lastRow.y(),
                            look.breakWidth, lastRow.height()),
                     look.colors.brush(QPalette::Highlight));
  }
}

}  // namespace

qsizetype PaintLogRows(QPainter& painter, TLogRows& rows, TLogRows::TRowPos top,
                       const TLogLineStore& store, const TLogCaret& caret,
                       const TLogPaintLook& look) {
  painter.setPen(look.colors.color(QPalette::Text));
  qreal y = kMargin;
  qsizetype line = top.line;
  for (; line < store.count() && y < look.bottom; ++line) {
    QTextLayout* layout = rows.LayoutOf(line);
    const int firstRow = line == top.line ? top.row : 0;
    const qreal origin = y - layout->lineAt(firstRow).y();
    const QTextLine lastRow = layout->lineAt(layout->lineCount() - 1);
    QList<QTextLayout::FormatRange> formats;
    AddSelection(painter, *layout, line, origin, caret, look, formats);
    if (line == caret.caret.line && !caret.preedit.isEmpty()) {
      QTextLayout::FormatRange range;
      range.start = static_cast<int>(caret.caret.column);
      range.length = static_cast<int>(caret.preedit.size());
      range.format.setFontUnderline(true);
      formats.append(range);
    }
    layout->draw(&painter, QPointF(kMargin, origin), formats);
    if (line == caret.caret.line && look.showCaret)
      layout->drawCursor(&painter, QPointF(kMargin, origin), caret.LayoutColumn(caret.caret), 1);
    y = origin + lastRow.y() + lastRow.height();
  }
  return line - 1;
}
