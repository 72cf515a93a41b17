#include "dial/needle_view.h"

#include <QPainter>
#include <QRegion>

namespace piezon
{
namespace
{
constexpr double kTwipsPerPixel = 15.0;
constexpr int kWidth = 7;
} // namespace

NeedleView::NeedleView(QWidget* parent) : QWidget(parent)
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

void NeedleView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(m_color, kWidth, Qt::SolidLine, Qt::FlatCap));
    const QPointF origin = pos();
    p.drawLine(QPointF(m_line.X1 / kTwipsPerPixel, m_line.Y1 / kTwipsPerPixel) - origin,
               QPointF(m_line.X2 / kTwipsPerPixel, m_line.Y2 / kTwipsPerPixel) - origin);
}

} // namespace piezon
