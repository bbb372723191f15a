#include "CardView.h"

#include "AppStyle.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPainterPath>

namespace quillmere {

CardView::CardView(QWidget* parent) : QWidget(parent) {
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(AppStyle::cardShadowColor());
    shadow->setOffset(0.0, shadowOffsetY);
    shadow->setBlurRadius(shadowBlurRadius);
    setGraphicsEffect(shadow);
}

void CardView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(path, Qt::white);
}

} // namespace quillmere
