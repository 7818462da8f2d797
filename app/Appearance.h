#pragma once
// Fonts and pictures of the window.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QStringList>

// A font of `pixelSize` pixels in the first installed family of `families`. When none of them
// is installed, or the family found lacks Chinese glyphs, a font that has them stands behind
// it, so no caption shows empty boxes.
QFont ResolveFont(const QStringList& families, int pixelSize);

// The family used for Chinese text when a named font is missing (empty when none is found).
QString ChineseFallbackFamily();

// The window's own font: "微软雅黑", 13 pixels.
QFont WindowFont();
// "串口设置" and its children: Arial, 14 pixels.
QFont SerialSettingsFont();
// The "打开串口" button: "宋体", 14 pixels.
QFont OpenButtonFont();

// The 16 x 16 glyph of the "读取" button: a small table (window frame, blue title bar, grid of
// white cells) on an olive ground; `transparent` clears the olive ground.
QImage TableGlyphImage(bool transparent = true);
// The glyph with its greyed image for the disabled state.
QIcon TableGlyph();

// Colours of the design.
inline const QColor kSerialSettingsColor(172, 196, 213);
inline const QColor kSkyBlue(166, 202, 240);
// The gradient end of an inactive caption in the standard desktop scheme.
inline const QColor kGradientInactiveCaption(215, 228, 242);
inline const QColor kHeaderRowColor(250, 150, 150);
