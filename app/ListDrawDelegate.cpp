#include "ListDrawDelegate.h"

#include <QPainter>
#include <QTableWidget>
#include <utility>

TListDrawDelegate::TListDrawDelegate(QTableWidget* list, TCustomDrawHandler handler)
    : QStyledItemDelegate(list), list_(list), handler_(std::move(handler)) {}

void TListDrawDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  QStyleOptionViewItem styled(option);
  TListCanvas canvas{styled.font, styled.palette.color(QPalette::Text), QColor(Qt::white)};
  const bool selected = option.state.testFlag(QStyle::State_Selected);
  bool defaultDraw = true;
  handler_(list_, index.row(), selected, TCustomDrawStage::cdPrePaint, defaultDraw, canvas);
  if (defaultDraw) {
    styled.font = canvas.font;
    styled.palette.setColor(QPalette::Text, canvas.fontColor);
    painter->fillRect(styled.rect, canvas.brushColor);
    QStyledItemDelegate::paint(painter, styled, index);
  }
  bool afterDraw = true;
  handler_(list_, index.row(), selected, TCustomDrawStage::cdPostPaint, afterDraw, canvas);
}
