#pragma once
// Painting the log pane: the rows from the view's top down, the selection, the text an input
// method is composing, and the caret.

#include <QPalette>
#include <QtGlobal>

#include "LogCaret.h"
#include "LogLineStore.h"
#include "LogRows.h"

class QPainter;

struct TLogPaintLook {
  QPalette colors;
  qreal breakWidth = 0;  // a selected line break is drawn as wide as a blank
  qreal bottom = 0;      // rows below it are not painted
  bool showCaret = false;
};

// Paints the rows on screen from `top` (the view's top); answers the last line painted.
qsizetype PaintLogRows(QPainter& painter, TLogRows& rows, TLogRows::TRowPos top,
                       const TLogLineStore& store, const TLogCaret& caret,
                       const TLogPaintLook& look);
