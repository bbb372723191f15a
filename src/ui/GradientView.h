#pragma once
// The window background: a diagonal gradient from bgStart in the top-left
// corner to bgEnd in the bottom-right corner.

#include <QLinearGradient>
#include <QWidget>

namespace quillmere {

class GradientView : public QWidget {
public:
    explicit GradientView(QWidget* parent = nullptr);

    // The gradient for a rectangle: its colour lines run at 45 degrees and
    // the two corners of the falling diagonal hold the two end colours.
    static QLinearGradient gradientFor(const QRectF& bounds);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quillmere
