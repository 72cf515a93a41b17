#include "dial/hub_shape.h"

#include "dial/cached_picture.h"

#include <QPaintEvent>
#include <QPainter>

namespace piezon
{

HubShape::HubShape(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void HubShape::paintEvent(QPaintEvent* event)
{
    // The needle's root lies under the hub, so every needle move repaints it: drawn once per
    // size and pixel ratio, then only copied.
    const qreal dpr = devicePixelRatioF();
    const QSize pixels = size() * dpr;
    if (m_cache.size() != pixels || !qFuzzyCompare(m_cache.devicePixelRatio(), dpr)) {
        m_cache = QPixmap(pixels);
        m_cache.setDevicePixelRatio(dpr);
        m_cache.fill(Qt::transparent);
        // A circle as tall as the box, centred in it: light grey inside, mid grey rim.
        QPainter p(&m_cache);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal d = height();
        const QRectF circle((width() - d) / 2.0 + 0.5, 0.5, d - 1.0, d - 1.0);
        p.setPen(QPen(QColor(128, 128, 128), 1.0));
        p.setBrush(QColor(224, 224, 224));
        p.drawEllipse(circle);
    }
    QPainter p(this);
    paintCachedPicture(p, m_cache, event->region());
}

} // namespace piezon
