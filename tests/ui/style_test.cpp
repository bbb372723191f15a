// The window's palette, gradient background and cards, checked on rendered
// pixels.

#include "ui/AppStyle.h"
#include "ui/CardView.h"
#include "ui/GradientView.h"

#include <QGraphicsDropShadowEffect>
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

QImage render(QWidget& widget, const QRegion& region = {}) {
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), region);
    return image;
}

TEST(AppStyle, PaletteHoldsTheExactComponents) {
    EXPECT_EQ(AppStyle::purple().rgba(), qRgba(96, 92, 168, 255));
    EXPECT_EQ(AppStyle::purpleLight().rgba(), qRgba(123, 120, 184, 255));
    EXPECT_EQ(AppStyle::bgStart().rgba(), qRgba(248, 247, 252, 255));
    EXPECT_EQ(AppStyle::bgEnd().rgba(), qRgba(232, 230, 245, 255));
    EXPECT_EQ(AppStyle::textPrimary().rgba(), qRgba(51, 51, 51, 255));
    // The shadow is purple at 15 %, never the opaque colour.
    const QColor shadow = AppStyle::cardShadowColor();
    EXPECT_EQ(shadow.rgb(), AppStyle::purple().rgb());
    EXPECT_NEAR(shadow.alphaF(), 0.15, 0.005);
    // The same object every time.
    EXPECT_EQ(&AppStyle::purple(), &AppStyle::purple());
}

TEST(AppStyle, IconLoadsFromTheResources) {
    const QIcon icon = AppStyle::appIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {16, 22, 256}) {
        const QImage image = icon.pixmap(size, size).toImage();
        EXPECT_EQ(image.width(), size);
        // Not blank: the hand is drawn on an opaque rounded square.
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }
}

TEST(GradientView, CornersHoldTheEndColoursAndLinesRunAtFortyFiveDegrees) {
    GradientView view;
    view.resize(416, 520);
    const QImage image = render(view);
    EXPECT_TRUE(near(image.pixelColor(0, 0), AppStyle::bgStart()));
    EXPECT_TRUE(near(image.pixelColor(415, 519), AppStyle::bgEnd()));
    // Equal steps right and down change the colour equally, whatever the
    // aspect ratio.
    EXPECT_TRUE(near(image.pixelColor(300, 0), image.pixelColor(0, 300), 1));
    EXPECT_FALSE(near(image.pixelColor(0, 0), image.pixelColor(200, 200), 3));
    // Every pixel is painted opaque.
    EXPECT_EQ(qAlpha(image.pixel(415, 0)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 519)), 255);
}

TEST(GradientView, PartialRepaintMatchesTheFullPicture) {
    GradientView view;
    view.resize(300, 120);
    const QImage full = render(view);
    // The region's top-left corner lands on the image's.
    const QImage part = render(view, QRegion(200, 60, 20, 20));
    for (QPoint p : {QPoint(200, 60), QPoint(219, 79), QPoint(210, 70)})
        EXPECT_EQ(part.pixel(p - QPoint(200, 60)), full.pixel(p));
}

TEST(CardView, IsWhiteWithRoundedCornersAtEverySize) {
    for (QSize size : {QSize(368, 40), QSize(120, 300), QSize(30, 30)}) {
        SCOPED_TRACE(size.width());
        CardView card;
        card.resize(size);
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        {
            // Painted directly: the drop shadow is the effect's business.
            QPainter painter(&image);
            card.graphicsEffect()->setEnabled(false);
            card.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
        }
        const int w = size.width(), h = size.height();
        EXPECT_EQ(image.pixel(w / 2, h / 2), qRgba(255, 255, 255, 255));
        EXPECT_EQ(image.pixel(w / 2, 0), qRgba(255, 255, 255, 255));
        EXPECT_EQ(image.pixel(0, h / 2), qRgba(255, 255, 255, 255));
        // Outside the 12-pixel arc the corners stay clear.
        for (QPoint corner :
             {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
            EXPECT_LT(qAlpha(image.pixel(corner)), 40);
    }
}

TEST(CardView, CastsASoftPurpleShadowBelow) {
    QWidget parent;
    parent.resize(240, 140);
    parent.setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    parent.setPalette(palette);
    CardView card(&parent);
    card.setGeometry(20, 20, 200, 80);
    const auto* shadow = qobject_cast<QGraphicsDropShadowEffect*>(card.graphicsEffect());
    ASSERT_NE(shadow, nullptr);
    EXPECT_EQ(shadow->offset(), QPointF(0, 2));
    EXPECT_EQ(shadow->blurRadius(), 10.0);

    QImage image(parent.size(), QImage::Format_ARGB32);
    parent.render(&image);
    const QColor below = image.pixelColor(120, 20 + 80 + 1);
    const QColor above = image.pixelColor(120, 20 - 3);
    // Tinted towards purple (blue above red), but faint.
    EXPECT_LT(below.red(), 255);
    EXPECT_GT(below.blue(), below.red());
    EXPECT_GT(below.red(), 200);
    // Offset downwards: darker below the card than above it.
    EXPECT_LT(below.red(), above.red());
    // Far away nothing is tinted.
    EXPECT_EQ(image.pixel(2, 2), qRgb(255, 255, 255));
}

} // namespace
} // namespace quillmere
