// The window's gradient background, checked on rendered pixels. (The icon is
// checked where a real tray host draws it, in the sway desktop VM test.)

#include "ui/AppStyle.h"
#include "ui/GradientView.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillmere {
namespace {

bool near(QColor a, QColor b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// The end colours sit in the corners and lines of equal colour run at 45
// degrees whatever the aspect ratio; every pixel is painted (the view claims
// to be opaque), and a partial repaint matches the full picture.
TEST(GradientView, CornersHoldTheEndColoursAndAPartialRepaintMatchesTheWhole) {
    GradientView view;
    view.resize(416, 520);
    const auto render = [&view](const QRegion& region) {
        QImage image(view.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        view.render(&image, QPoint(), region);
        return image;
    };
    const QImage image = render({});
    EXPECT_TRUE(near(image.pixelColor(0, 0), AppStyle::bgStart(), 2));
    EXPECT_TRUE(near(image.pixelColor(415, 519), AppStyle::bgEnd(), 2));
    EXPECT_TRUE(near(image.pixelColor(300, 0), image.pixelColor(0, 300), 1));
    EXPECT_FALSE(near(image.pixelColor(0, 0), image.pixelColor(200, 200), 3));
    EXPECT_EQ(qAlpha(image.pixel(415, 0)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 519)), 255);
    const QImage part = render(QRegion(200, 60, 20, 20)); // lands on the image's corner
    for (QPoint p : {QPoint(200, 60), QPoint(219, 79), QPoint(210, 70)})
        EXPECT_EQ(part.pixel(p - QPoint(200, 60)), image.pixel(p));
}

} // namespace
} // namespace quillmere
