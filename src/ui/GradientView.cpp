#include "GradientView.h"

#include "AppStyle.h"

#include <QPainter>

namespace quillmere {

GradientView::GradientView(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted, so Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QLinearGradient GradientView::gradientFor(const QRectF& bounds) {
    // The axis points down and to the right at 45 degrees. Projecting the
    // bottom-right corner onto it gives the end point, so the start colour
    // sits exactly in the top-left corner and the end colour exactly in the
    // bottom-right one, whatever the aspect ratio.
    const double reach = (bounds.width() + bounds.height()) / 2.0;
    QLinearGradient gradient(bounds.topLeft(), bounds.topLeft() + QPointF(reach, reach));
    gradient.setColorAt(0.0, AppStyle::bgStart());
    gradient.setColorAt(1.0, AppStyle::bgEnd());
    return gradient;
}

void GradientView::paintEvent(QPaintEvent*) {
    // The gradient is laid over the whole bounds whatever part is redrawn,
    // so a partial repaint matches the rest of the view.
    QPainter painter(this);
    const QRectF bounds = rect();
    painter.fillRect(bounds, gradientFor(bounds));
}

} // namespace quillmere
