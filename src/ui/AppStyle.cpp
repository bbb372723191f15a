#include "AppStyle.h"

#include <QApplication>

// The resources live in a static library: their initialiser must be pulled in
// by name, and Q_INIT_RESOURCE may only be used outside any namespace.
static void initUiResources() {
    Q_INIT_RESOURCE(resources);
}

namespace quillmere::AppStyle {

namespace {
QColor fromBytes(int red, int green, int blue) {
    return QColor::fromRgbF(static_cast<float>(red / 255.0), static_cast<float>(green / 255.0),
                            static_cast<float>(blue / 255.0), 1.0f);
}
} // namespace

const QColor& purple() {
    static const QColor colour = fromBytes(96, 92, 168);
    return colour;
}

const QColor& purpleLight() {
    static const QColor colour = fromBytes(123, 120, 184);
    return colour;
}

const QColor& bgStart() {
    static const QColor colour = fromBytes(248, 247, 252);
    return colour;
}

const QColor& bgEnd() {
    static const QColor colour = fromBytes(232, 230, 245);
    return colour;
}

const QColor& textPrimary() {
    static const QColor colour = fromBytes(51, 51, 51);
    return colour;
}

QColor cardShadowColor() {
    QColor colour = purple();
    colour.setAlphaF(0.15f);
    return colour;
}

QFont systemFont(int pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QIcon appIcon() {
    static const bool initialised = (initUiResources(), true);
    (void)initialised;
    return QIcon(QString::fromLatin1(appIconPath));
}

} // namespace quillmere::AppStyle
