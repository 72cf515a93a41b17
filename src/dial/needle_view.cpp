#include "dial/needle_view.h"

#include <QPainter>
#include <QRegion>
#include <QtMath>

#include <memory>

namespace piezon
{
namespace
{
constexpr double kTwipsPerPixel = 15.0;
constexpr int kWidth = 7;
// In bytes of pixels: a few hundred positions of the needle, each in a box of a quarter of the
// dial at most.
constexpr int kCacheBytes = 8 << 20;
constexpr int kStripRows = 16;
} // namespace

NeedleView::NeedleView(QWidget* parent) : QWidget(parent), m_pictures(kCacheBytes)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

QRect NeedleView::area(const Line& l) const
{
    const QPointF a(l.X1 / kTwipsPerPixel, l.Y1 / kTwipsPerPixel);
    const QPointF b(l.X2 / kTwipsPerPixel, l.Y2 / kTwipsPerPixel);
    const QRectF box = QRectF(a, b).normalized();
    const int margin = kWidth / 2 + 2;
    return box.toAlignedRect().adjusted(-margin, -margin, margin, margin).translated(-pos());
}

void NeedleView::setLine(const Line& line)
{
    if (line.X1 == m_line.X1 && line.Y1 == m_line.Y1 && line.X2 == m_line.X2 &&
        line.Y2 == m_line.Y2)
        return;
    const QRect before = area(m_line);
    m_line = line;
    // Two boxes, not the box around both: a needle swinging across the top would otherwise
    // repaint most of the dial.
    update(QRegion(before) + QRegion(area(m_line)));
}

void NeedleView::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update(area(m_line));
}

QImage NeedleView::picture(QPoint* at) const
{
    const qreal ratio = devicePixelRatioF();
    const QRect box = area(m_line);
    // Whole device pixels, so that the copy lands exactly where the stroke would have.
    const QRect pixels(
        QPoint(qFloor(box.left() * ratio), qFloor(box.top() * ratio)),
        QPoint(qCeil((box.right() + 1) * ratio) - 1, qCeil((box.bottom() + 1) * ratio) - 1));
    *at = pixels.topLeft();
    const float key[] = {m_line.X1,    m_line.Y1,        m_line.X2,       m_line.Y2,
                         float(ratio), float(pos().x()), float(pos().y())};
    QByteArray name(reinterpret_cast<const char*>(key), sizeof key);
    name += QByteArray::number(m_color.rgba());
    if (const QImage* kept = m_pictures.object(name))
        return *kept;

    auto drawn = std::make_unique<QImage>(pixels.size(), QImage::Format_ARGB32_Premultiplied);
    drawn->fill(Qt::transparent);
    {
        QPainter p(drawn.get());
        p.translate(-pixels.topLeft());
        p.scale(ratio, ratio);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(m_color, kWidth, Qt::SolidLine, Qt::FlatCap));
        const QPointF origin = pos();
        p.drawLine(QPointF(m_line.X1 / kTwipsPerPixel, m_line.Y1 / kTwipsPerPixel) - origin,
                   QPointF(m_line.X2 / kTwipsPerPixel, m_line.Y2 / kTwipsPerPixel) - origin);
    }
    const QImage result = *drawn;
    const qint64 bytes = drawn->sizeInBytes();
    m_pictures.insert(name, drawn.release(), int(qMin<qint64>(bytes, kCacheBytes)));
    return result;
}

void NeedleView::paintEvent(QPaintEvent*)
{
    QPoint at;
    const QImage needle = picture(&at);
    QPainter p(this);
    // In device pixels: the picture was drawn for them.
    const qreal ratio = devicePixelRatioF();
    p.scale(1 / ratio, 1 / ratio);
    // In strips, as the dial's own picture is copied (cached_picture.cpp): Qt hands a taller
    // copy to its thread pool, and the hand-off costs more than the copy.
    for (int top = 0; top < needle.height(); top += kStripRows)
        p.drawImage(at + QPoint(0, top), needle,
                    QRect(0, top, needle.width(), qMin(kStripRows, needle.height() - top)));
}

} // namespace piezon
