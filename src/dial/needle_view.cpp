#include "dial/needle_view.h"

#include "dial/cached_picture.h"
#include "dial/twips.h"

#include <QPainter>
#include <QRegion>
#include <QtMath>

#include <cmath>
#include <memory>

namespace piezon
{
namespace
{
constexpr int kWidth = 7;
// A picture draws the needle's pivot and length to the nearest sixteenth of a device pixel and
// its angle to the nearest hundredth of a degree (under a hundredth of a pixel at the tip).
constexpr double kStepsPerPixel = 16.0;
constexpr int kStepsPerDegree = 100;
constexpr int kStepsPerTurn = 360 * kStepsPerDegree;
} // namespace

NeedleView::NeedleView(QWidget* parent) : QWidget(parent), m_pictures(kNeedlePicturesBytes)
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
    if (ratio != m_ratio) {
        m_pictures.clear();
        m_pictures.setMaxCost(scaledPictureBytes(kNeedlePicturesBytes, ratio));
        m_ratio = ratio;
    }
    // A reading turns the needle to a whole number of degrees, but the tip's single-precision
    // coordinates wander by hundredths of a twip over some thousands of turns (its length is
    // worked out anew from them at every move): a few dozen values recurring for a while would
    // come to thousands of tips, each drawn anew and pushing a kept one out. So a picture is
    // known by the pivot, the angle and the length, each rounded far below what anti-aliasing
    // shows and far above that wandering, and drawn from those, whichever move asked for it.
    const double steps = ratio * kStepsPerPixel / kTwipsPerPixel;
    const double dx = double(m_line.X2) - m_line.X1;
    const double dy = double(m_line.Y2) - m_line.Y1;
    const int pivotX = qRound(m_line.X1 * steps);
    const int pivotY = qRound(m_line.Y1 * steps);
    const int length = qRound(std::hypot(dx, dy) * steps);
    // In [0, 360): straight left is 180 degrees whichever side of it the rounding put the tip.
    const int angle =
        (qRound(qRadiansToDegrees(std::atan2(dy, dx)) * kStepsPerDegree) % kStepsPerTurn +
         kStepsPerTurn) %
        kStepsPerTurn;
    const double radians = qDegreesToRadians(double(angle) / kStepsPerDegree);
    const Line drawn{float(pivotX / steps), float(pivotY / steps),
                     float((pivotX + std::cos(radians) * length) / steps),
                     float((pivotY + std::sin(radians) * length) / steps)};
    const QRect box = area(drawn);
    // Whole device pixels, so that the copy lands exactly where the stroke would have.
    const QRect pixels(
        QPoint(qFloor(box.left() * ratio), qFloor(box.top() * ratio)),
        QPoint(qCeil((box.right() + 1) * ratio) - 1, qCeil((box.bottom() + 1) * ratio) - 1));
    *at = pixels.topLeft();
    const int key[] = {pivotX, pivotY, length, angle, pos().x(), pos().y()};
    QByteArray name(reinterpret_cast<const char*>(key), sizeof key);
    name += QByteArray::number(m_color.rgba());
    if (const QImage* kept = m_pictures.object(name))
        return *kept;

    auto picture = std::make_unique<QImage>(pixels.size(), QImage::Format_ARGB32_Premultiplied);
    picture->fill(Qt::transparent);
    {
        QPainter p(picture.get());
        p.translate(-pixels.topLeft());
        p.scale(ratio, ratio);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(m_color, kWidth, Qt::SolidLine, Qt::FlatCap));
        const QPointF origin = pos();
        p.drawLine(QPointF(drawn.X1 / kTwipsPerPixel, drawn.Y1 / kTwipsPerPixel) - origin,
                   QPointF(drawn.X2 / kTwipsPerPixel, drawn.Y2 / kTwipsPerPixel) - origin);
    }
    ++m_picturesDrawn;
    const QImage result = *picture;
    // One larger than the whole budget is not kept, and pushes nothing out.
    m_pictures.insert(name, picture.release(), pictureBytes(result));
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
    for (int top = 0; top < needle.height(); top += kPictureStripRows)
        p.drawImage(at + QPoint(0, top), needle,
                    QRect(0, top, needle.width(), qMin(kPictureStripRows, needle.height() - top)));
}

} // namespace piezon
