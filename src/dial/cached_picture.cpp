#include "dial/cached_picture.h"

#include <QImage>
#include <QPainter>

namespace piezon
{
void paintCachedPicture(QPainter& painter, const QPixmap& picture, const QRegion& region)
{
    const qreal dpr = picture.devicePixelRatio();
    for (const QRect& rect : region) {
        for (int top = rect.top(); top <= rect.bottom(); top += kPictureStripRows) {
            const QRect r(rect.left(), top, rect.width(),
                          qMin(kPictureStripRows, rect.bottom() + 1 - top));
            painter.drawPixmap(r, picture,
                               QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));
        }
    }
}

qsizetype scaledPictureBytes(qsizetype bytesAtRatio1, qreal ratio)
{
    return qsizetype(double(bytesAtRatio1) * qMax<qreal>(ratio, 1) * qMax<qreal>(ratio, 1));
}

qsizetype pictureBytes(const QImage& picture)
{
    return picture.sizeInBytes();
}

qsizetype pictureBytes(const QPixmap& picture)
{
    // Scanlines of whole 32-bit words, as the raster pixmaps of every platform we run on hold
    // them.
    const qsizetype line = (qsizetype(picture.width()) * picture.depth() + 31) / 32 * 4;
    return line * picture.height();
}

} // namespace piezon
