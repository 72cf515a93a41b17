#include "hold/protocol_page.h"

#include "chart/chart_drawing.h"
#include "dial/program_fonts.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <utility>
#include <vector>

namespace piezon
{
namespace
{

// Enough for a chart of the page's width to be drawn a column per reading it can show; a
// printer's own resolution is of no use to it.
constexpr int kPdfDpi = 300;
constexpr qreal kMarginPoints = 42; // about 15 mm
constexpr qreal kTextPoints = 10;
constexpr qreal kTitlePoints = 16;
constexpr qreal kVerdictPoints = 28;
constexpr qreal kSmallPoints = 8;

const QString kUnit = QStringLiteral("кгс/см²");
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QColor verdictColour(HoldVerdict verdict)
{
    switch (verdict) {
    case HoldVerdict::Held:
        return QColor(0, 120, 0);
    case HoldVerdict::NotHeld:
        return QColor(190, 0, 0);
    case HoldVerdict::Aborted:
        return QColor(170, 90, 0);
    case HoldVerdict::Running:
        break;
    }
    return QColor(Qt::black);
}

// Lines of text down the page, sizes in points of the device's resolution.
class PageWriter
{
public:
    PageWriter(QPainter& painter, const QRectF& area)
        : m_painter(painter), m_area(area), m_y(area.top()),
          m_dpi(painter.device()->logicalDpiY() > 0 ? painter.device()->logicalDpiY() : 96)
    {
    }

    qreal points(qreal pt) const { return pt * m_dpi / 72.0; }
    qreal y() const { return m_y; }
    void skip(qreal pt) { m_y += points(pt); }
    void moveTo(qreal y) { m_y = y; }

    // One face for the whole page, the regular one: the Windows font engine names both faces of
    // a family added from memory alike, and the PDF writer would then set every text in the
    // first of them it met. Size and colour set the headings apart.
    QFont font(qreal pt) const
    {
        QFont font = windowFont();
        font.setPixelSize(qMax(1, qRound(points(pt))));
        return font;
    }

    void line(const QString& text, qreal pt, Qt::Alignment align = Qt::AlignLeft,
              const QColor& colour = Qt::black)
    {
        const QFont f = font(pt);
        const QFontMetricsF fm(f, m_painter.device());
        m_painter.setFont(f);
        m_painter.setPen(colour);
        const QRectF box(m_area.left(), m_y, m_area.width(), fm.height());
        m_painter.drawText(box, align | Qt::AlignVCenter, text);
        m_y += fm.height();
    }

    // Name and value in two columns, the values lined up at `valueAt` from the left edge.
    void pair(const QString& name, const QString& value, qreal valueAt)
    {
        const QFont plain = font(kTextPoints);
        const QFontMetricsF fm(plain, m_painter.device());
        const qreal height = fm.height() * 1.15;
        m_painter.setPen(Qt::black);
        m_painter.setFont(plain);
        m_painter.drawText(QRectF(m_area.left(), m_y, valueAt, height),
                           Qt::AlignLeft | Qt::AlignVCenter, name);
        m_painter.setFont(plain);
        m_painter.drawText(QRectF(m_area.left() + valueAt, m_y, m_area.width() - valueAt, height),
                           Qt::AlignLeft | Qt::AlignVCenter, value);
        m_y += height;
    }

    // "Объект: ______": a line to write on by hand.
    void blank(const QString& name)
    {
        const QFont plain = font(kTextPoints);
        const QFontMetricsF fm(plain, m_painter.device());
        const qreal height = fm.height() * 2.0;
        m_painter.setFont(plain);
        m_painter.setPen(Qt::black);
        const qreal nameWidth = fm.horizontalAdvance(name) + points(6);
        const QRectF box(m_area.left(), m_y, m_area.width(), height);
        m_painter.drawText(box, Qt::AlignLeft | Qt::AlignBottom, name);
        m_painter.setPen(QPen(Qt::black, points(0.5)));
        const qreal base = m_y + height - fm.descent() + points(1);
        m_painter.drawLine(QPointF(m_area.left() + nameWidth, base), QPointF(m_area.right(), base));
        m_y += height;
    }

    const QRectF& area() const { return m_area; }

private:
    QPainter& m_painter;
    QRectF m_area;
    qreal m_y;
    qreal m_dpi;
};

QString pressure(int centi, QChar separator)
{
    return QStringLiteral("%1 %2 (%3 МПа)")
        .arg(formatHundredths(centi, separator), kUnit, formatMegapascals(centi, separator));
}

} // namespace

QString protocolStem(const QDateTime& localStart)
{
    return QStringLiteral("Пьезон_RX418_испытание_") +
           localStart.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

void drawProtocol(QPainter& painter, const QRectF& page, const HoldReport& report)
{
    painter.save();
    painter.fillRect(page, Qt::white);
    const qreal dpi = painter.device()->logicalDpiY() > 0 ? painter.device()->logicalDpiY() : 96;
    const qreal margin = kMarginPoints * dpi / 72.0;
    PageWriter out(painter, page.adjusted(margin, margin, -margin, -margin));
    const HoldOutcome& o = report.outcome;
    const HoldSettings& s = report.settings;
    const QChar sep = report.separator;

    out.line(QStringLiteral("Протокол испытания давлением"), kTitlePoints, Qt::AlignHCenter);
    out.skip(6);
    out.line(holdVerdictText(o.verdict), kVerdictPoints, Qt::AlignHCenter,
             verdictColour(o.verdict));
    const QString reason = holdReasonText(o, s, sep);
    if (!reason.isEmpty())
        out.line(QStringLiteral("Причина: ") + reason, kTextPoints + 1, Qt::AlignHCenter);
    out.skip(10);

    std::vector<std::pair<QString, QString>> rows = {
        {QStringLiteral("Дата"), report.localStart.toString(QStringLiteral("yyyy-MM-dd"))},
        {QStringLiteral("Начало"), report.localStart.toString(kTimeFormat)},
        {QStringLiteral("Окончание"), report.localEnd().toString(kTimeFormat)},
        {QStringLiteral("Длительность плановая"), formatHoldDuration(s.durationMs)},
        {QStringLiteral("Длительность фактическая"), formatHoldDuration(o.endMs - o.startMs)},
        {QStringLiteral("Порт"), report.port},
        {QStringLiteral("Погрешность"), QString::number(report.offset)},
        {QStringLiteral("Давление в начале"), pressure(o.startCenti, sep)},
        {QStringLiteral("Давление в конце"), pressure(o.endCenti, sep)},
        {QStringLiteral("Максимум"), pressure(o.maxCenti, sep)},
        {QStringLiteral("Минимум"), pressure(o.minCenti, sep)},
        {QStringLiteral("Падение"), pressure(o.dropCenti, sep)},
        {QStringLiteral("Допустимое падение"), pressure(s.allowedDropCenti, sep)},
    };
    if (s.floorCenti)
        rows.emplace_back(QStringLiteral("Не ниже"), pressure(*s.floorCenti, sep));
    if (s.targetCenti)
        rows.emplace_back(QStringLiteral("Испытательное давление"), pressure(*s.targetCenti, sep));
    const QFontMetricsF plain(out.font(kTextPoints), painter.device());
    qreal valueAt = 0;
    for (const auto& row : rows)
        valueAt = std::max(valueAt, plain.horizontalAdvance(row.first));
    valueAt += out.points(14);
    for (const auto& row : rows)
        out.pair(row.first, row.second, valueAt);
    out.skip(10);

    // The chart takes what the page has left above the files' names and the lines to sign.
    const qreal below = out.points(3 * 14 + 4 * 2 * 12 + 20 + 24);
    const qreal chartHeight = std::max(out.points(120), out.area().bottom() - below - out.y());
    ChartScene scene;
    scene.history = &report.history;
    scene.fromMs = report.chartFromMs();
    scene.toMs = report.chartToMs();
    scene.nowMs = scene.toMs;
    scene.separator = sep;
    scene.hold = HoldBand{o.startMs, o.plannedEndMs, o.startCenti - s.allowedDropCenti};
    drawChart(painter, QRectF(out.area().left(), out.y(), out.area().width(), chartHeight), scene);
    out.moveTo(out.y() + chartHeight + out.points(8));

    if (report.afterwards) {
        out.line(QStringLiteral("Составлен по записи: ") + report.recordName, kSmallPoints + 1);
    } else {
        out.line(QStringLiteral("Журнал: ") + report.logName, kSmallPoints + 1);
        out.line(QStringLiteral("Запись с отметками времени: ") + report.recordName,
                 kSmallPoints + 1);
        out.line(QStringLiteral("Строки испытания: ") + report.rowsName, kSmallPoints + 1);
    }
    out.skip(6);
    for (const QString& name :
         {QStringLiteral("Объект:"), QStringLiteral("Манометр (зав. №, поверен до):"),
          QStringLiteral("Испытание провёл:"), QStringLiteral("Подпись:")})
        out.blank(name);

    out.moveTo(out.area().bottom() - out.points(kSmallPoints * 1.4));
    out.line(report.program, kSmallPoints, Qt::AlignRight, QColor(90, 90, 90));
    painter.restore();
}

QByteArray protocolPdf(const HoldReport& report)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(kPdfDpi);
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        writer.setTitle(QStringLiteral("Протокол испытания давлением ") +
                        report.localStart.toString(kTimeFormat));
        writer.setCreator(report.program);
        QPainter painter(&writer);
        drawProtocol(painter, QRectF(0, 0, writer.width(), writer.height()), report);
    }
    return bytes;
}

} // namespace piezon
