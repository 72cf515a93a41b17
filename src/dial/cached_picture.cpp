#include "dial/cached_picture.h"

#include <QPainter>

namespace piezon
{
namespace
{
// Qt hands a copy of more than about a hundred scanlines to its thread pool, and at the rate the
// needle repaints, the hand-off between threads costs far more than the copy itself.
constexpr int kStripRows = 16;
} // namespace

void paintCachedPicture(QPainter& painter, const QPixmap& picture, const QRegion& region)
{
    const qreal dpr = picture.devicePixelRatio();
    for (const QRect& rect : region) {
        for (int top = rect.top(); top <= rect.bottom(); top += kStripRows) {
            const QRect r(rect.left(), top, rect.width(),
                          qMin(kStripRows, rect.bottom() + 1 - top));
            painter.drawPixmap(r, picture,
                               QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));
        }
    }
}

} // namespace piezon
