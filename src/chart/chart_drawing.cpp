#include "chart/chart_drawing.h"

#include "chart/chart_axes.h"
#include "chart/session_history.h"
#include "dial/program_fonts.h"
#include "hold/hold_verdict.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace piezon
{
namespace
{

const QString kNoSession = QStringLiteral("Нет сеанса");
const QString kUnit = QStringLiteral("кгс/см²");
// The widest labels either axis can get: the plot keeps its place whatever the readings do.
const QString kWidestPressure = QStringLiteral("-0,00");
const QString kWidestTime = QStringLiteral("00:00:00");

// Sizes in points, as on paper; 8.25 pt is the window's own text.
constexpr qreal kFontPoints = 8.25;
constexpr qreal kAxisPenPoints = 0.75;
constexpr qreal kTracePenPoints = 1.0;
constexpr qreal kTickPoints = 3;
constexpr qreal kMarkPoints = 5;
constexpr qreal kClipPoints = 3;
constexpr qreal kPadPoints = 3;
constexpr qreal kHoverDotPoints = 2.5;
// A pixel column per device pixel, but a printer's thousands of them say no more than this.
constexpr int kMaxColumns = 4096;

const QColor kBackground(Qt::white);
const QColor kGrid(232, 232, 232);
const QColor kGap(214, 214, 214);
const QColor kAxis(Qt::black);
const QColor kLabel(64, 64, 64);
const QColor kTrace(0, 70, 170);
const QColor kClipped(210, 0, 0);
const QColor kHover(110, 110, 110);
const QColor kHoldBand(255, 243, 205);
const QColor kHoldLimit(200, 0, 0);

// Sizes for one paint device: its own resolution turns points into its units.
struct Metrics {
    explicit Metrics(const QPaintDevice& device)
        : dpi(device.logicalDpiY() > 0 ? device.logicalDpiY() : 96), font(windowFont())
    {
        font.setPixelSize(qMax(1, qRound(points(kFontPoints))));
        const QFontMetricsF fm(font, &device);
        lineHeight = fm.height();
        pressureWidth = fm.horizontalAdvance(kWidestPressure);
        timeWidth = fm.horizontalAdvance(kWidestTime);
    }
    qreal points(qreal pt) const { return pt * dpi / 72.0; }

    qreal dpi;
    QFont font;
    qreal lineHeight = 0;
    qreal pressureWidth = 0;
    qreal timeWidth = 0;
};

QRectF plotArea(const Metrics& m, const QRectF& bounds)
{
    const qreal pad = m.points(kPadPoints);
    const qreal left = pad + m.pressureWidth + pad + m.points(kTickPoints);
    // The unit above the pressure labels, and half a label's height so the top one fits.
    const qreal top = pad + m.lineHeight * 1.5;
    const qreal right = m.timeWidth / 2 + pad;
    const qreal bottom =
        std::max(m.points(kTickPoints), m.points(kMarkPoints)) + pad / 2 + m.lineHeight + pad;
    // On whole units, so that the frame's lines fall on pixels.
    return QRectF(
        QPointF(std::round(bounds.left() + left), std::round(bounds.top() + top)),
        QPointF(std::round(bounds.right() - right), std::round(bounds.bottom() - bottom)));
}

// How many device pixels one unit of the painter's coordinates covers.
qreal devicePixelsPerUnit(const QPainter& painter)
{
    const qreal world = std::sqrt(std::abs(painter.worldTransform().determinant()));
    return world * painter.device()->devicePixelRatio();
}

int decimalsFor(double step)
{
    if (step >= 1 - 1e-9)
        return 0;
    return step >= 0.1 - 1e-9 ? 1 : 2;
}

QString pressureLabel(double value, int decimals, QChar separator)
{
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    // Never "-0": a tick a rounding error below zero is zero.
    QString text = QString::number(rounded == 0 ? 0.0 : rounded, 'f', decimals);
    text.replace(QLatin1Char('.'), separator);
    return text;
}

// Between times and positions in the plot, and readings and heights.
struct Mapping {
    QRectF plot;
    qint64 fromMs;
    qint64 toMs;
    PressureAxis axis;

    qreal x(double ms) const
    {
        return plot.left() + (ms - double(fromMs)) / double(toMs - fromMs) * plot.width();
    }
    qreal y(int centi) const
    {
        const double v = std::clamp(centi / 100.0, axis.lo, axis.hi);
        return plot.bottom() - (v - axis.lo) / (axis.hi - axis.lo) * plot.height();
    }
};

qint64 gapEnd(const HistoryGap& gap, qint64 nowMs)
{
    return gap.toMs < 0 ? std::max(nowMs, gap.fromMs) : gap.toMs;
}

// Whether the trace must break between the readings of two columns that end at `earlierEnd`
// and `laterEnd`: a gap begins before the later one is over and ends after the earlier one is.
// Asked column after column, left to right, of gaps in time order: a gap that ended before one
// column is passed for good, so a day of a line that came and went costs no more per column.
class GapFinder
{
public:
    GapFinder(const std::vector<HistoryGap>& gaps, qint64 nowMs) : m_gaps(gaps), m_nowMs(nowMs) {}

    bool between(double earlierEnd, double laterEnd)
    {
        while (m_next < m_gaps.size() && gapEnd(m_gaps[m_next], m_nowMs) <= earlierEnd)
            ++m_next;
        return m_next < m_gaps.size() && m_gaps[m_next].fromMs < laterEnd;
    }

private:
    const std::vector<HistoryGap>& m_gaps;
    qint64 m_nowMs;
    std::size_t m_next = 0;
};

QColor markColour(HistoryEvent kind)
{
    switch (kind) {
    case HistoryEvent::Start:
    case HistoryEvent::Stop:
        return QColor(0, 0, 0);
    case HistoryEvent::LineLost:
        return QColor(210, 0, 0);
    case HistoryEvent::LineBack:
        return QColor(0, 150, 0);
    case HistoryEvent::LogMode:
        return QColor(0, 90, 200);
    case HistoryEvent::Offset:
        return QColor(200, 120, 0);
    case HistoryEvent::Note:
        return QColor(120, 120, 120);
    case HistoryEvent::SilenceBegin:
    case HistoryEvent::SilenceEnd:
        break;
    }
    return QColor();
}

QString markName(HistoryEvent kind)
{
    switch (kind) {
    case HistoryEvent::Start:
        return QStringLiteral("СТАРТ");
    case HistoryEvent::Stop:
        return QStringLiteral("СТОП");
    case HistoryEvent::LineLost:
        return QStringLiteral("линия потеряна");
    case HistoryEvent::LineBack:
        return QStringLiteral("линия восстановлена");
    case HistoryEvent::LogMode:
        return QStringLiteral("режим журнала");
    case HistoryEvent::Offset:
        return QStringLiteral("погрешность");
    case HistoryEvent::SilenceBegin:
    case HistoryEvent::SilenceEnd:
    case HistoryEvent::Note: // its own text
        break;
    }
    return QString();
}

PressureAxis pressureAxisFor(const ChartScene& scene)
{
    if (scene.fixedScale)
        return dialPressureAxis();
    std::optional<ColumnEnvelope> range = scene.history->range(scene.fromMs, scene.toMs);
    if (!range || !range->any)
        return dialPressureAxis();
    // A hold's limit is what the operator watches the readings against: always in sight.
    if (scene.hold && scene.hold->fromMs < scene.toMs && scene.hold->toMs > scene.fromMs) {
        range->lo = std::min(range->lo, scene.hold->limitCenti);
        range->hi = std::max(range->hi, scene.hold->limitCenti);
    }
    return fitPressureAxis(range->lo / 100.0, range->hi / 100.0);
}

void drawHoldBand(QPainter& painter, const Mapping& map, const HoldBand& hold)
{
    const qint64 from = std::max(hold.fromMs, map.fromMs);
    const qint64 to = std::min(hold.toMs, map.toMs);
    if (to <= from)
        return;
    const qreal left = map.x(double(from));
    const qreal right = map.x(double(to));
    painter.fillRect(QRectF(left, map.plot.top(), right - left, map.plot.height()), kHoldBand);
}

void drawHoldLimit(QPainter& painter, const Mapping& map, const Metrics& m, const HoldBand& hold)
{
    const qint64 from = std::max(hold.fromMs, map.fromMs);
    const qint64 to = std::min(hold.toMs, map.toMs);
    if (to <= from)
        return;
    const qreal y = map.y(hold.limitCenti);
    painter.setPen(QPen(kHoldLimit, m.points(kTracePenPoints), Qt::DashLine, Qt::FlatCap));
    painter.drawLine(QPointF(map.x(double(from)), y), QPointF(map.x(double(to)), y));
}

void drawGaps(QPainter& painter, const Mapping& map, const ChartScene& scene, qreal minWidth)
{
    for (const HistoryGap& gap : scene.history->gaps()) {
        const qint64 from = std::max(gap.fromMs, map.fromMs);
        const qint64 to = std::min(gapEnd(gap, scene.nowMs), map.toMs);
        if (to < from || gapEnd(gap, scene.nowMs) <= map.fromMs || gap.fromMs >= map.toMs)
            continue;
        const qreal left = map.x(double(from));
        const qreal width = std::max(map.x(double(to)) - left, minWidth);
        painter.fillRect(QRectF(left, map.plot.top(), width, map.plot.height()), kGap);
    }
}

void drawPressureAxis(QPainter& painter, const Mapping& map, const Metrics& m, const QRectF& bounds,
                      QChar separator)
{
    const PressureAxis& axis = map.axis;
    const int decimals = decimalsFor(axis.step);
    const int ticks = std::max(1, int(std::lround((axis.hi - axis.lo) / axis.step)));
    const qreal tick = m.points(kTickPoints);
    const qreal pad = m.points(kPadPoints);
    for (int i = 0; i <= ticks; ++i) {
        const double value = axis.lo + i * axis.step;
        const qreal y = map.plot.bottom() - double(i) / ticks * map.plot.height();
        if (i > 0 && i < ticks) {
            painter.setPen(QPen(kGrid, m.points(kAxisPenPoints)));
            painter.drawLine(QPointF(map.plot.left(), y), QPointF(map.plot.right(), y));
        }
        painter.setPen(QPen(kAxis, m.points(kAxisPenPoints)));
        painter.drawLine(QPointF(map.plot.left() - tick, y), QPointF(map.plot.left(), y));
        painter.setPen(kLabel);
        const QRectF label(bounds.left(), y - m.lineHeight / 2,
                           map.plot.left() - tick - pad - bounds.left(), m.lineHeight);
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
                         pressureLabel(value, decimals, separator));
    }
    painter.drawText(
        QRectF(bounds.left() + pad, bounds.top() + pad, bounds.width() - 2 * pad, m.lineHeight),
        Qt::AlignLeft | Qt::AlignTop, kUnit);
}

void drawTimeAxis(QPainter& painter, const Mapping& map, const Metrics& m, const QRectF& bounds)
{
    const qreal pad = m.points(kPadPoints);
    const qreal tick = m.points(kTickPoints);
    const qint64 span = map.toMs - map.fromMs;
    const int maxTicks = std::max(1, int(map.plot.width() / (m.timeWidth + 4 * pad)));
    qint64 step = timeTickStepMs(span, maxTicks);
    if (step <= 0)
        step = span;
    const qreal labelTop = map.plot.bottom() + std::max(tick, m.points(kMarkPoints)) + pad / 2;
    for (qint64 t = (map.fromMs + step - 1) / step * step; t <= map.toMs; t += step) {
        const qreal x = map.x(double(t));
        if (t > map.fromMs && t < map.toMs) {
            painter.setPen(QPen(kGrid, m.points(kAxisPenPoints)));
            painter.drawLine(QPointF(x, map.plot.top()), QPointF(x, map.plot.bottom()));
        }
        painter.setPen(QPen(kAxis, m.points(kAxisPenPoints)));
        painter.drawLine(QPointF(x, map.plot.bottom()), QPointF(x, map.plot.bottom() + tick));
        painter.setPen(kLabel);
        const qreal width = m.timeWidth + 2 * pad;
        const qreal left = std::clamp(x - width / 2, bounds.left(), bounds.right() - width);
        painter.drawText(QRectF(left, labelTop, width, m.lineHeight),
                         Qt::AlignHCenter | Qt::AlignTop, formatSinceStart(t));
    }
}

void drawMarks(QPainter& painter, const Mapping& map, const Metrics& m, const ChartScene& scene)
{
    const qreal size = m.points(kMarkPoints);
    painter.setPen(Qt::NoPen);
    for (const HistoryMark& mark : scene.history->marks()) {
        const QColor colour = markColour(mark.kind);
        if (!colour.isValid() || mark.ms < map.fromMs || mark.ms > map.toMs)
            continue;
        const qreal x = map.x(double(mark.ms));
        const qreal y = map.plot.bottom();
        painter.setBrush(colour);
        painter.drawPolygon(QPolygonF{QPointF(x, y), QPointF(x - size / 2, y + size),
                                      QPointF(x + size / 2, y + size)});
    }
    painter.setBrush(Qt::NoBrush);
}

void drawTrace(QPainter& painter, const Mapping& map, const Metrics& m, const ChartScene& scene)
{
    const SessionHistory& history = *scene.history;
    const int columns =
        std::clamp(qRound(map.plot.width() * devicePixelsPerUnit(painter)), 1, kMaxColumns);
    const std::vector<ColumnEnvelope> envelope = history.envelope(map.fromMs, map.toMs, columns);
    GapFinder gaps(history.gaps(), scene.nowMs);
    const double columnMs = double(map.toMs - map.fromMs) / columns;
    const qreal columnWidth = map.plot.width() / columns;
    const int overCenti = qRound(map.axis.hi * 100);
    const int underCenti = qRound(map.axis.lo * 100);

    std::vector<QLineF> lines;
    lines.reserve(envelope.size() * 2);
    std::vector<QLineF> clipped;
    int previous = -1;
    for (int i = 0; i < int(envelope.size()); ++i) {
        const ColumnEnvelope& column = envelope[size_t(i)];
        if (!column.any)
            continue;
        const qreal x = map.plot.left() + (i + 0.5) * columnWidth;
        if (previous >= 0 && !gaps.between(map.fromMs + (previous + 1) * columnMs,
                                           map.fromMs + (i + 1) * columnMs)) {
            // The shortest join from the previous column's readings to these.
            const ColumnEnvelope& before = envelope[size_t(previous)];
            int from = std::max(column.lo, before.lo);
            int to = from;
            if (column.lo > before.hi) {
                from = before.hi;
                to = column.lo;
            } else if (column.hi < before.lo) {
                from = before.lo;
                to = column.hi;
            }
            const qreal xBefore = map.plot.left() + (previous + 0.5) * columnWidth;
            lines.emplace_back(xBefore, map.y(from), x, map.y(to));
        }
        lines.emplace_back(x, map.y(column.lo), x, map.y(column.hi));
        if (scene.fixedScale && column.hi > overCenti)
            clipped.emplace_back(x, map.plot.top(), x, map.plot.top() + m.points(kClipPoints));
        if (scene.fixedScale && column.lo < underCenti)
            clipped.emplace_back(x, map.plot.bottom(), x,
                                 map.plot.bottom() - m.points(kClipPoints));
        previous = i;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(
        QPen(kTrace, m.points(kTracePenPoints), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLines(lines.data(), int(lines.size()));
    if (!clipped.empty()) {
        // A column wide at least, so that a run of them reads as one bar.
        painter.setPen(QPen(kClipped, std::max(columnWidth, m.points(kAxisPenPoints) * 2),
                            Qt::SolidLine, Qt::FlatCap));
        painter.drawLines(clipped.data(), int(clipped.size()));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
}

void drawHover(QPainter& painter, const Mapping& map, const Metrics& m, const ChartScene& scene)
{
    const SessionHistory& history = *scene.history;
    const std::optional<StoredPoint> point = history.nearest(*scene.hoverMs);
    if (!point || point->toMs < map.fromMs || point->fromMs > map.toMs)
        return;
    const qint64 ms = (point->fromMs + point->toMs) / 2;
    const qreal x = map.x(double(ms));
    const qreal pad = m.points(kPadPoints);

    painter.setPen(QPen(kHover, m.points(kAxisPenPoints), Qt::DashLine));
    painter.drawLine(QPointF(x, map.plot.top()), QPointF(x, map.plot.bottom()));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(kTrace, m.points(kAxisPenPoints)));
    painter.setBrush(kBackground);
    const qreal dot = m.points(kHoverDotPoints);
    painter.drawEllipse(QPointF(x, map.y(point->hi)), dot, dot);
    if (point->lo != point->hi)
        painter.drawEllipse(QPointF(x, map.y(point->lo)), dot, dot);
    painter.setRenderHint(QPainter::Antialiasing, false);

    QString value = formatCenti(point->hi, scene.separator);
    if (point->lo != point->hi)
        value = formatCenti(point->lo, scene.separator) + QStringLiteral("…") + value;
    QString text =
        QStringLiteral("%1 (%2)  %3 %4")
            .arg(formatSinceStart(point->fromMs),
                 history.localStart().addMSecs(point->fromMs).toString(QStringLiteral("HH:mm:ss")),
                 value, kUnit);
    // A mark under the pointer is named too.
    const qreal reach = m.points(kMarkPoints);
    for (const HistoryMark& mark : history.marks()) {
        const QString name =
            mark.kind == HistoryEvent::Note ? history.noteAt(mark.ms) : markName(mark.kind);
        if (!name.isEmpty() && mark.ms >= map.fromMs && mark.ms <= map.toMs &&
            std::abs(map.x(double(mark.ms)) - map.x(double(*scene.hoverMs))) <= reach)
            text += QStringLiteral(" · ") + name;
    }
    const QFontMetricsF fm(m.font, painter.device());
    const QSizeF size(fm.horizontalAdvance(text) + 2 * pad, m.lineHeight + pad);
    qreal left = x + pad;
    if (left + size.width() > map.plot.right())
        left = std::max(map.plot.left(), x - pad - size.width());
    const QRectF box(QPointF(left, map.plot.top() + pad), size);
    painter.setPen(QPen(kHover, m.points(kAxisPenPoints)));
    painter.setBrush(kBackground);
    painter.drawRect(box);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(kAxis);
    painter.drawText(box, Qt::AlignCenter, text);
}

} // namespace

QRectF chartPlotArea(const QPaintDevice& device, const QRectF& bounds)
{
    return plotArea(Metrics(device), bounds);
}

qint64 chartTimeAt(const QRectF& plot, const ChartScene& scene, qreal x)
{
    if (plot.width() <= 0 || scene.toMs <= scene.fromMs)
        return scene.fromMs;
    const double share = std::clamp((x - plot.left()) / plot.width(), 0.0, 1.0);
    return scene.fromMs + std::llround(share * double(scene.toMs - scene.fromMs));
}

void drawChart(QPainter& painter, const QRectF& bounds, const ChartScene& scene)
{
    painter.save();
    const Metrics m(*painter.device());
    painter.fillRect(bounds, kBackground);
    painter.setFont(m.font);
    if (!scene.history || !scene.history->started()) {
        painter.setPen(kLabel);
        painter.drawText(bounds, Qt::AlignCenter, kNoSession);
        painter.restore();
        return;
    }
    Mapping map{plotArea(m, bounds), scene.fromMs, std::max(scene.toMs, scene.fromMs + 1),
                PressureAxis{}};
    if (map.plot.width() < 1 || map.plot.height() < 1) {
        painter.restore();
        return;
    }
    ChartScene visible = scene;
    visible.toMs = map.toMs;
    map.axis = pressureAxisFor(visible);
    if (!(map.axis.hi > map.axis.lo) || !(map.axis.step > 0))
        map.axis = dialPressureAxis();

    painter.save();
    painter.setClipRect(map.plot);
    if (scene.hold)
        drawHoldBand(painter, map, *scene.hold);
    drawGaps(painter, map, scene, 1 / devicePixelsPerUnit(painter));
    if (scene.hold)
        drawHoldLimit(painter, map, m, *scene.hold);
    painter.restore();
    drawPressureAxis(painter, map, m, bounds, scene.separator);
    drawTimeAxis(painter, map, m, bounds);
    painter.save();
    // Wide enough for the pen at the edges; the clipped readings' marks stay inside.
    const qreal margin = m.points(kTracePenPoints);
    painter.setClipRect(map.plot.adjusted(-margin, -margin, margin, margin));
    drawTrace(painter, map, m, scene);
    painter.restore();
    painter.setPen(QPen(kAxis, m.points(kAxisPenPoints)));
    painter.drawLine(map.plot.bottomLeft(), map.plot.bottomRight());
    painter.drawLine(map.plot.bottomLeft(), map.plot.topLeft());
    drawMarks(painter, map, m, scene);
    if (scene.hoverMs)
        drawHover(painter, map, m, scene);
    painter.restore();
}

// The time axis and the hold's fields speak of times and pressures alike.
QString formatSinceStart(qint64 ms)
{
    return formatHoldDuration(ms);
}

QString formatCenti(int centi, QChar separator)
{
    return formatHundredths(centi, separator);
}

QString formatSlope(std::optional<double> perMinute, QChar separator)
{
    if (!perMinute || !std::isfinite(*perMinute))
        return QStringLiteral("—");
    const long long centi = std::llround(*perMinute * 100);
    const long long magnitude = centi < 0 ? -centi : centi;
    return QStringLiteral("%1%2%3%4 кгс/см² в мин")
        .arg(centi < 0 ? QStringLiteral("−") : QString())
        .arg(magnitude / 100)
        .arg(separator)
        .arg(magnitude % 100, 2, 10, QLatin1Char('0'));
}

} // namespace piezon
