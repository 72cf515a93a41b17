#include "dial/dial_face.h"

#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

namespace piezon
{
namespace
{

constexpr double kCentre = 120.0;
constexpr double kDegreesPerUnit = 32.0; // per kgf/cm2
constexpr int kUnits = 8;

QPointF polar(double radius, double degrees)
{
    const double r = qDegreesToRadians(degrees);
    return {kCentre + radius * std::cos(r), kCentre + radius * std::sin(r)};
}

// Where the printed scale puts each whole kgf/cm2: the printer's 0 and 8 sit half a degree
// and 0.7 degree off the 32-degree rhythm of the marks between them.
double markAngle(int value)
{
    if (value <= 0)
        return 141.5;
    if (value >= kUnits)
        return 397.7;
    return 142.0 + value * kDegreesPerUnit;
}

} // namespace

QPixmap renderDialFace(qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(240, 240) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::white);

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(0, 0, 240, 240));

    // Major marks at whole kgf/cm2, minor ones between them.
    for (int i = 0; i <= kUnits; ++i) {
        const double a = markAngle(i);
        p.setPen(QPen(Qt::white, 3.0, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(polar(89, a), polar(116, a));
        if (i < kUnits) {
            const double m = (a + markAngle(i + 1)) / 2;
            p.setPen(QPen(Qt::white, 1.0, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(polar(91, m), polar(116, m));
        }
    }

    QFont numerals(QStringLiteral("DejaVu Sans"));
    numerals.setPixelSize(12);
    numerals.setItalic(true);
    p.setFont(numerals);
    p.setPen(Qt::white);
    for (int i = 0; i <= kUnits; ++i) {
        const QPointF c = polar(78, markAngle(i));
        p.drawText(QRectF(c.x() - 10, c.y() - 8, 20, 16), Qt::AlignCenter, QString::number(i));
    }

    QFont unit = numerals;
    unit.setPixelSize(11);
    p.setFont(unit);
    p.drawText(QRectF(96, 203, 44, 16), Qt::AlignCenter, QStringLiteral("кгс/см"));
    QFont sup = unit;
    sup.setPixelSize(8);
    p.setFont(sup);
    p.drawText(QRectF(138, 201, 8, 10), Qt::AlignCenter, QStringLiteral("2"));

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(kCentre, kCentre), 3.5, 3.5);
    return pixmap;
}

DialFace::DialFace(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void DialFace::paintEvent(QPaintEvent* event)
{
    const qreal dpr = devicePixelRatioF();
    if (m_cache.isNull() || !qFuzzyCompare(m_cache.devicePixelRatio(), dpr))
        m_cache = renderDialFace(dpr);
    QPainter p(this);
    p.drawPixmap(
        event->rect(), m_cache,
        QRectF(QPointF(event->rect().topLeft()) * dpr, QSizeF(event->rect().size()) * dpr));
}

} // namespace piezon
