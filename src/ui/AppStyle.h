#pragma once
// The preferences window's palette, its fonts and the application icon.

#include <QColor>
#include <QFont>
#include <QIcon>

namespace quillmere::AppStyle {

// Opaque colours, each made once on first use and kept for the process.
const QColor& purple();      // 60 5C A8
const QColor& purpleLight(); // 7B 78 B8
const QColor& bgStart();     // F8 F7 FC
const QColor& bgEnd();       // E8 E6 F5
const QColor& textPrimary(); // 33 33 33

// The card shadow: purple's components at alpha 0.15.
QColor cardShadowColor();

// The application's default font family at a size in logical pixels (the
// window's "points") and a weight.
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);

// The hand icon from the application's resources.
QIcon appIcon();
// Its resource path.
inline constexpr const char* appIconPath = ":/quillmere/icons/quillmere.svg";

} // namespace quillmere::AppStyle
