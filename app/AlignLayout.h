#pragma once
// Lays out a container's children by alignment, the way the window is designed: top and
// bottom children take the full width at a fixed height, left and right children the full
// height at a fixed width, and the one client child fills what remains. Tops are placed first,
// then bottoms, lefts, rights and the client, each kind in the order the children were added.
// Hidden children take no room. Children added without alignment keep their own fixed place.

#include <QLayout>
#include <vector>

enum class TAlign { alTop, alBottom, alLeft, alRight, alClient };

class TAlignLayout : public QLayout {
 public:
  explicit TAlignLayout(QWidget* parent);
  ~TAlignLayout() override;

  // `extent` is the fixed height (top, bottom) or width (left, right); unused for the client.
  void addAligned(QWidget* widget, TAlign align, int extent = 0);

  void addItem(QLayoutItem* item) override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  int count() const override;
  void setGeometry(const QRect& rect) override;
  QSize sizeHint() const override;
  QSize minimumSize() const override;

 private:
  struct TEntry {
    QLayoutItem* item;
    TAlign align;
    int extent;
  };
  std::vector<TEntry> entries_;
};
