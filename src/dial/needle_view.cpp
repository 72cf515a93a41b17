#include "dial/needle_view.h"

#include <QPainter>
#include <QRegion>

#include <cmath>

namespace piezon
{
namespace
{
constexpr double kTwipsPerPixel = 15.0;
constexpr int kWidth = 7;
// How far along the needle one box of its repaint reaches.
constexpr int kBandPx = 16;
} // namespace

NeedleView::NeedleView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

QRegion NeedleView::area(const Line& l) const
{
    const QPointF a(l.X1 / kTwipsPerPixel, l.Y1 / kTwipsPerPixel);
    const QPointF b(l.X2 / kTwipsPerPixel, l.Y2 / kTwipsPerPixel);
    // Half the width, the anti-aliased edge and rounding: no pixel of the needle lies farther
    // than this from its centre line.
    const double margin = kWidth / 2.0 + 2;
    // The box around a slanted needle is mostly dial; bands across it, each boxing only the
    // part of the needle inside it, repaint a third of that.
    const bool steep = std::abs(b.y() - a.y()) >= std::abs(b.x() - a.x());
    const double from = steep ? a.y() : a.x();
    const double to = steep ? b.y() : b.x();
    const auto along = [&](double m) {
        const double t = to == from ? 0.0 : qBound(0.0, (m - from) / (to - from), 1.0);
        return a + (b - a) * t;
    };
    const double lo = qMin(from, to);
    const double hi = qMax(from, to);
    QRegion region;
    double band = lo;
    do {
        const QRectF box =
            QRectF(along(band - margin), along(band + kBandPx + margin)).normalized();
        region += box.adjusted(-margin, -margin, margin, margin).toAlignedRect();
        band += kBandPx;
    } while (band < hi);
    return region.translated(-pos());
}

void NeedleView::setLine(const Line& line)
{
    if (line.X1 == m_line.X1 && line.Y1 == m_line.Y1 && line.X2 == m_line.X2 &&
        line.Y2 == m_line.Y2)
        return;
    const QRegion before = area(m_line);
    m_line = line;
    update(before + area(m_line));
}

void NeedleView::paintEvent(QPaintEvent*)
{
    const QPointF origin = pos();
    const QPointF a = QPointF(m_line.X1 / kTwipsPerPixel, m_line.Y1 / kTwipsPerPixel) - origin;
    const QPointF b = QPointF(m_line.X2 / kTwipsPerPixel, m_line.Y2 / kTwipsPerPixel) - origin;
    const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
    if (length <= 0) // a flat-capped stroke of no length shows nothing
        return;
    // The stroke's outline filled as it is: a flat-capped line is a rectangle, and filling four
    // corners costs a fraction of what stroking the line does, for the same pixels bar the
    // anti-aliased edge.
    const QPointF half((a.y() - b.y()) / length * kWidth / 2,
                       (b.x() - a.x()) / length * kWidth / 2);
    const QPointF corners[4] = {a + half, b + half, b - half, a - half};
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(m_color);
    p.drawConvexPolygon(corners, 4);
}

} // namespace piezon
