#include "Appearance.h"

#include <QFontDatabase>
#include <QPainter>

namespace {

bool Installed(const QString& family) {
  return QFontDatabase::families().contains(family);
}

bool HasChinese(const QString& family) {
  return QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
}

}  // namespace

QString ChineseFallbackFamily() {
  static const QString family = [] {
    for (const QString& preferred :
         {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("Source Han Sans SC"), QStringLiteral("AR PL UMing CN")})
      if (Installed(preferred)) return preferred;
    for (const QString& candidate : QFontDatabase::families(QFontDatabase::SimplifiedChinese))
      if (!QFontDatabase::isPrivateFamily(candidate)) return candidate;
    return QString();
  }();
  return family;
}

QFont ResolveFont(const QStringList& families, int pixelSize) {
  QStringList chain;
  for (const QString& family : families)
    if (Installed(family)) {
      chain << family;
      break;
    }
  if (chain.isEmpty() && !families.isEmpty()) chain << families.first();  // the system's alias
  const QString fallback = ChineseFallbackFamily();
  if (!fallback.isEmpty() && (!Installed(chain.first()) || !HasChinese(chain.first())))
    chain << fallback;
  QFont font;
  font.setFamilies(chain);
  font.setPixelSize(pixelSize);
  return font;
}

QFont WindowFont() {
  return ResolveFont({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei")}, 13);
}

QFont SerialSettingsFont() {
  return ResolveFont({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")}, 14);
}

QFont OpenButtonFont() {
  return ResolveFont({QStringLiteral("宋体"), QStringLiteral("SimSun")}, 14);
}

QImage TableGlyphImage(bool transparent) {
  const QColor olive(128, 128, 0);
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(olive);
  QPainter painter(&image);
  // Window frame.
  painter.setPen(QColor(64, 64, 64));
  painter.drawRect(0, 1, 15, 13);
  // Blue title bar.
  painter.fillRect(1, 2, 14, 3, QColor(0, 0, 160));
  // Grid of white cells: three columns, three rows, grey lines between them.
  painter.fillRect(1, 5, 14, 9, QColor(128, 128, 128));
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column)
      painter.fillRect(1 + column * 5, 5 + row * 3, 4, 2, Qt::white);
  painter.end();
  // The bottom-left pixel's colour is the transparent one.
  if (transparent) {
    const QRgb key = image.pixel(0, 15);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        if (image.pixel(x, y) == key) image.setPixel(x, y, qRgba(0, 0, 0, 0));
  }
  return image;
}

QIcon TableGlyph() {
  const QImage normal = TableGlyphImage();
  QImage disabled = normal;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const QRgb pixel = disabled.pixel(x, y);
      if (qAlpha(pixel) == 0) continue;
      const int grey = 128 + qGray(pixel) / 2;  // lighter and colourless
      disabled.setPixel(x, y, qRgba(grey, grey, grey, 255));
    }
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(normal), QIcon::Normal);
  icon.addPixmap(QPixmap::fromImage(disabled), QIcon::Disabled);
  return icon;
}
