#pragma once

#include <QChar>
#include <QRectF>
#include <QString>
#include <QtGlobal>

#include <optional>

class QPaintDevice;
class QPainter;

namespace piezon
{

class SessionHistory;

// A pressure hold as the chart shows it: a band from its start to its planned end, and a line at
// the lowest pressure it may end at (the start's less the allowed drop).
struct HoldBand {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    int limitCenti = 0;
};

// What one picture of the session shows. Times are milliseconds since START.
struct ChartScene {
    const SessionHistory* history = nullptr; // none, or not begun: «Нет сеанса»
    qint64 fromMs = 0;                       // the visible span [fromMs, toMs)
    qint64 toMs = 60 * 1000;
    qint64 nowMs = 0;              // where a gap still open ends
    bool fixedScale = false;       // the dial's 0–8 instead of a scale fitted to the readings
    std::optional<qint64> hoverMs; // the pointer's time: the nearest reading is pointed out
    QChar separator = QLatin1Char('.'); // the caption's decimal separator
    std::optional<HoldBand> hold;
};

// Draws the scene into `bounds` with sizes in points of the paint device's own resolution, so a
// window, a high-density screen and a printed page get the same picture.
void drawChart(QPainter& painter, const QRectF& bounds, const ChartScene& scene);

// Where the readings are drawn within `bounds` on `device` (the axes' labels take the rest).
QRectF chartPlotArea(const QPaintDevice& device, const QRectF& bounds);
// The time under `x` in the plot area; clamped to the visible span.
qint64 chartTimeAt(const QRectF& plot, const ChartScene& scene, qreal x);

// "m:ss" below an hour, "h:mm:ss" from there; the time since START as the axis and the numbers
// beside the chart give it.
QString formatSinceStart(qint64 ms);
// Hundredths of kgf/cm2 as the caption writes them: "2,73", "-0,05".
QString formatCenti(int centi, QChar separator);
// "−0,12 кгс/см² в мин", two decimals; "—" without a slope.
QString formatSlope(std::optional<double> perMinute, QChar separator);

} // namespace piezon
