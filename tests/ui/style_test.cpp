// The window's icon, gradient background and cards, checked on rendered
// pixels.

#include "ui/AppStyle.h"
#include "ui/CardView.h"
#include "ui/GradientView.h"

#include <QGraphicsEffect>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillmere {
namespace {

bool near(QColor a, QColor b, int tolerance = 2) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QImage render(QWidget& widget, const QRegion& region = {},
              QWidget::RenderFlags flags = QWidget::DrawWindowBackground | QWidget::DrawChildren) {
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), region, flags);
    return image;
}

TEST(AppStyle, IconLoadsFromTheResources) {
    for (int size : {16, 22, 256}) {
        const QImage image = AppStyle::appIcon().pixmap(size, size).toImage();
        EXPECT_EQ(image.width(), size);
        // Not blank: the hand is drawn on an opaque rounded square.
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }
}

// The end colours sit in the corners and lines of equal colour run at 45
// degrees whatever the aspect ratio; every pixel is opaque, and a partial
// repaint matches the full picture.
TEST(GradientView, CornersHoldTheEndColoursAndLinesRunAtFortyFiveDegrees) {
    GradientView view;
    view.resize(416, 520);
    const QImage image = render(view);
    EXPECT_TRUE(near(image.pixelColor(0, 0), AppStyle::bgStart()));
    EXPECT_TRUE(near(image.pixelColor(415, 519), AppStyle::bgEnd()));
    EXPECT_TRUE(near(image.pixelColor(300, 0), image.pixelColor(0, 300), 1));
    EXPECT_FALSE(near(image.pixelColor(0, 0), image.pixelColor(200, 200), 3));
    EXPECT_EQ(qAlpha(image.pixel(415, 0)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 519)), 255);
    const QImage part = render(view, QRegion(200, 60, 20, 20)); // lands on the image's corner
    for (QPoint p : {QPoint(200, 60), QPoint(219, 79), QPoint(210, 70)})
        EXPECT_EQ(part.pixel(p - QPoint(200, 60)), image.pixel(p));
}

TEST(CardView, IsWhiteWithRoundedCornersAtEverySize) {
    for (QSize size : {QSize(368, 40), QSize(120, 300), QSize(30, 30)}) {
        CardView card;
        card.resize(size);
        card.graphicsEffect()->setEnabled(false); // the card alone, without its shadow
        const QImage image = render(card, {}, QWidget::DrawChildren);
        const int w = size.width(), h = size.height();
        for (QPoint inside : {QPoint(w / 2, h / 2), QPoint(w / 2, 0), QPoint(0, h / 2)})
            EXPECT_EQ(image.pixel(inside), qRgba(255, 255, 255, 255)) << w;
        for (QPoint corner :
             {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
            EXPECT_LT(qAlpha(image.pixel(corner)), 40) << w; // outside the arc
    }
}

} // namespace
} // namespace quillmere
