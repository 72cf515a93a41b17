#include "dial/hub_shape.h"

#include <QPainter>

namespace piezon
{

HubShape::HubShape(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void HubShape::paintEvent(QPaintEvent*)
{
    // A circle as tall as the box, centred in it: light grey inside, mid grey rim.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal d = height();
    const QRectF circle((width() - d) / 2.0 + 0.5, 0.5, d - 1.0, d - 1.0);
    p.setPen(QPen(QColor(128, 128, 128), 1.0));
    p.setBrush(QColor(224, 224, 224));
    p.drawEllipse(circle);
}

} // namespace piezon
