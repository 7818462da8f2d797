#include "AlignLayout.h"

#include <QWidget>

TAlignLayout::TAlignLayout(QWidget* parent) : QLayout(parent) {
  setContentsMargins(0, 0, 0, 0);
  setSpacing(0);
  // The window may be made as small as the operator likes; children are clipped.
  setSizeConstraint(QLayout::SetNoConstraint);
}

TAlignLayout::~TAlignLayout() {
  for (TEntry& entry : entries_) delete entry.item;
}

void TAlignLayout::addAligned(QWidget* widget, TAlign align, int extent) {
  addChildWidget(widget);
  entries_.push_back({new QWidgetItem(widget), align, extent});
  invalidate();
}

void TAlignLayout::addItem(QLayoutItem* item) {
  entries_.push_back({item, TAlign::alClient, 0});
}

QLayoutItem* TAlignLayout::itemAt(int index) const {
  return index >= 0 && index < count() ? entries_[static_cast<std::size_t>(index)].item : nullptr;
}

QLayoutItem* TAlignLayout::takeAt(int index) {
  if (index < 0 || index >= count()) return nullptr;
  QLayoutItem* item = entries_[static_cast<std::size_t>(index)].item;
  entries_.erase(entries_.begin() + index);
  return item;
}

int TAlignLayout::count() const {
  return static_cast<int>(entries_.size());
}

void TAlignLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  QRect free = contentsRect();
  for (const TAlign pass :
       {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient}) {
    for (const TEntry& entry : entries_) {
      if (entry.align != pass || entry.item->isEmpty()) continue;
      QRect place;
      switch (pass) {
        case TAlign::alTop:
          place = QRect(free.left(), free.top(), free.width(), entry.extent);
          free.setTop(free.top() + entry.extent);
          break;
        case TAlign::alBottom:
          place = QRect(free.left(), free.bottom() + 1 - entry.extent, free.width(), entry.extent);
          free.setBottom(free.bottom() - entry.extent);
          break;
        case TAlign::alLeft:
          place = QRect(free.left(), free.top(), entry.extent, free.height());
          free.setLeft(free.left() + entry.extent);
          break;
        case TAlign::alRight:
          place = QRect(free.right() + 1 - entry.extent, free.top(), entry.extent, free.height());
          free.setRight(free.right() - entry.extent);
          break;
        case TAlign::alClient:
          place = free;
          break;
      }
      // A window made very small leaves no room: the child shrinks to nothing.
      place.setSize(place.size().expandedTo(QSize(0, 0)));
      if (QWidget* widget = entry.item->widget()) {
        widget->setGeometry(place);
        // Lay the child's own children out at once, also while the window is still hidden
        // (Qt would otherwise wait for the child's first resize event).
        if (QLayout* inner = widget->layout()) inner->setGeometry(widget->contentsRect());
      } else
        entry.item->setGeometry(place);
    }
  }
}

QSize TAlignLayout::sizeHint() const {
  int width = 0;
  int height = 0;
  for (const TEntry& entry : entries_) {
    if (entry.item->isEmpty()) continue;
    if (entry.align == TAlign::alTop || entry.align == TAlign::alBottom) height += entry.extent;
    if (entry.align == TAlign::alLeft || entry.align == TAlign::alRight) width += entry.extent;
  }
  const QMargins m = contentsMargins();
  return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

QSize TAlignLayout::minimumSize() const {
  return QSize(0, 0);
}
