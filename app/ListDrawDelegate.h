#pragma once
// The status list's custom draw, as the design's list offers it: every cell the list paints is
// handed to a handler first (before and after the default painting), which may change the
// row's font, its colour and its background, or paint it itself.

#include <QColor>
#include <QFont>
#include <QStyledItemDelegate>
#include <functional>

class QTableWidget;

// What the custom draw may change for a row: the drawing font (with its colour) and the
// background.
struct TListCanvas {
  QFont font;
  QColor fontColor;
  QColor brushColor;
};
enum class TCustomDrawStage { cdPrePaint, cdPostPaint };

// (list, row, selected, stage, default draw, canvas)
using TCustomDrawHandler =
    std::function<void(QTableWidget*, int, bool, TCustomDrawStage, bool&, TListCanvas&)>;

class TListDrawDelegate : public QStyledItemDelegate {
 public:
  TListDrawDelegate(QTableWidget* list, TCustomDrawHandler handler);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  QTableWidget* list_;
  TCustomDrawHandler handler_;
};
