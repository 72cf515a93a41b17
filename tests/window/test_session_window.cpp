// The session window. Its chart as drawn, on images of several resolutions, from histories made
// up here; then the window over a real session on a pseudo-terminal: what its numbers and title
// say, how often it draws, and that none of its texts is cut. Registered at device-pixel ratio 1
// and 2.

#include "chart/chart_drawing.h"
#include "chart/session_history.h"
#include "gauge/gauge_commands.h"
#include "gauge/reading_chain.h"
#include "hold/pressure_hold.h"
#include "log/companion_row.h"
#include "support/window_session.h"
#include "window/caption_label.h"
#include "window/chart_view.h"
#include "window/record_panel.h"
#include "window/session_window.h"
#include "window/texts.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <map>
#include <memory>

using piezon::ChartScene;
using piezon::HistoryEvent;
using piezon::SessionHistory;
using piezon::testing::WindowSession;

namespace
{

constexpr int kNone = -1; // no event in a table's event column

// Readings of `centi` every `everyMs` over [fromMs, toMs).
void addSteady(SessionHistory& history, qint64 fromMs, qint64 toMs, qint64 everyMs, qint16 centi)
{
    for (qint64 ms = fromMs; ms < toMs; ms += everyMs)
        history.addBatch(ms, &centi, 1);
}

struct Drawn {
    QImage image;
    QRectF plot; // logical
};

Drawn draw(const ChartScene& scene, QSize logical, qreal ratio, int dpi = 96)
{
    Drawn drawn;
    drawn.image = QImage(logical * ratio, QImage::Format_RGB32);
    drawn.image.setDevicePixelRatio(ratio);
    const int dotsPerMeter = qRound(dpi / 0.0254);
    drawn.image.setDotsPerMeterX(dotsPerMeter);
    drawn.image.setDotsPerMeterY(dotsPerMeter);
    drawn.image.fill(Qt::magenta);
    const QRectF bounds(QPointF(0, 0), QSizeF(logical));
    QPainter painter(&drawn.image);
    piezon::drawChart(painter, bounds, scene);
    painter.end();
    drawn.plot = piezon::chartPlotArea(drawn.image, bounds);
    return drawn;
}

bool isTrace(const QColor& c)
{
    return c.blue() > c.red() + 60 && c.blue() > c.green() + 40;
}

bool isClipMark(const QColor& c)
{
    return c.red() > 150 && c.green() < 80 && c.blue() < 80;
}

bool isGapGrey(const QColor& c)
{
    return qAbs(c.red() - 214) < 6 && c.red() == c.green() && c.green() == c.blue();
}

// Device pixels of the column under logical `x`, between the plot's top and bottom, that pass.
template <typename Test> int countInColumn(const Drawn& d, qreal x, Test test)
{
    const qreal ratio = d.image.devicePixelRatio();
    const int column = int(std::floor(x * ratio));
    int found = 0;
    for (int y = int(std::ceil(d.plot.top() * ratio)) + 1; y < int(d.plot.bottom() * ratio) - 1;
         ++y)
        found += test(d.image.pixelColor(column, y));
    return found;
}

qreal xOf(const Drawn& d, const ChartScene& scene, qint64 ms)
{
    return d.plot.left() +
           double(ms - scene.fromMs) / double(scene.toMs - scene.fromMs) * d.plot.width();
}

// The byte whose reading at offset 0 is the largest, the smallest, or the one nearest `centi`.
quint8 byteNear(int centi)
{
    int best = 0;
    int bestDistance = INT_MAX;
    for (int byte = 0; byte < 256; ++byte) {
        const auto reading =
            piezon::computeReading(quint8(byte), QStringLiteral("0"), QLatin1Char('.'));
        const int distance = qAbs(qRound(reading->pressure * 100) - centi);
        if (distance < bestDistance) {
            best = byte;
            bestDistance = distance;
        }
    }
    return quint8(best);
}

QString captionOf(quint8 byte)
{
    return piezon::computeReading(byte, QStringLiteral("0"), QLatin1Char('.'))->caption;
}

QByteArray bytes(std::initializer_list<quint8> values)
{
    QByteArray out;
    for (const quint8 v : values)
        out.append(char(v));
    return out;
}

} // namespace

class TestSessionWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowSession> s;

    piezon::SessionWindow& window() { return s->form->sessionWindow(); }

    void openWindow()
    {
        s->form->showSessionWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
    }

    void startWithReadings(const QByteArray& bytes)
    {
        s->start();
        QVERIFY(s->running());
        QCOMPARE(s->line.readAvailable(1000), piezon::startCommand());
        for (const char byte : bytes) {
            QVERIFY(s->line.write(QByteArray(1, byte)));
            const qint64 before = s->form->MSComm1().history().readingCount();
            QTRY_VERIFY(s->form->MSComm1().history().readingCount() > before);
        }
    }

private slots:
    void cleanup() { s.reset(); }

    // ---- the chart, as drawn ----

    void formatSinceStart_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("START") << qint64(0) << "0:00";
        QTest::newRow("a second short of a minute") << qint64(59999) << "0:59";
        QTest::newRow("the last second of the hour") << qint64(3599999) << "59:59";
        QTest::newRow("an hour") << qint64(3600000) << "1:00:00";
        QTest::newRow("a day and a bit") << qint64(90061000) << "25:01:01";
        QTest::newRow("before START (a clock step)") << qint64(-20) << "0:00";
    }

    void formatSinceStart()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(piezon::formatSinceStart(ms), text);
    }

    void formatReadings_data()
    {
        QTest::addColumn<int>("centi");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("text");
        QTest::newRow("comma") << 273 << ","
                               << "2,73";
        QTest::newRow("point") << 800 << "."
                               << "8.00";
        QTest::newRow("zero") << 0 << ","
                              << "0,00";
        QTest::newRow("just below zero keeps its sign") << -5 << ","
                                                        << "-0,05";
        QTest::newRow("the lowest the gauge gives") << -94 << ","
                                                    << "-0,94";
        QTest::newRow("below minus one") << -130 << ","
                                         << "-1,30";
    }

    void formatReadings()
    {
        QFETCH(int, centi);
        QFETCH(QString, separator);
        QFETCH(QString, text);
        QCOMPARE(piezon::formatCenti(centi, separator.at(0)), text);
    }

    void formatSlope_data()
    {
        QTest::addColumn<double>("perMinute");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("text");
        const QString unit = QStringLiteral(" кгс/см² в мин");
        QTest::newRow("falling") << -0.123 << true << QStringLiteral("−0,12") + unit;
        QTest::newRow("rising, rounded up") << 0.126 << true << QStringLiteral("0,13") + unit;
        QTest::newRow("a fall too small to show is no fall")
            << -0.004 << true << QStringLiteral("0,00") + unit;
        QTest::newRow("steep") << -12.5 << true << QStringLiteral("−12,50") + unit;
        QTest::newRow("not yet 60 s of readings") << 0.0 << false << QStringLiteral("—");
    }

    void formatSlope()
    {
        QFETCH(double, perMinute);
        QFETCH(bool, known);
        QFETCH(QString, text);
        QCOMPARE(piezon::formatSlope(known ? std::optional<double>(perMinute) : std::nullopt,
                                     QLatin1Char(',')),
                 text);
    }

    // 2.00 for ten seconds, nothing for ten, 6.00 for ten: joined across the quiet ten seconds
    // unless a gap says the line was lost or the gauge silent there; an open gap runs to now.
    void traceBreaksAtGapsOnly_data()
    {
        QTest::addColumn<int>("opens");
        QTest::addColumn<int>("closes");
        QTest::addColumn<bool>("laterReadings");
        QTest::addColumn<qreal>("ratio");

        for (const qreal ratio : {1.0, 2.0}) {
            const QByteArray at = QByteArray::number(ratio);
            QTest::addRow("no gap: joined, x%s", at.constData()) << kNone << kNone << true << ratio;
            QTest::addRow("line lost and back, x%s", at.constData())
                << int(HistoryEvent::LineLost) << int(HistoryEvent::LineBack) << true << ratio;
            QTest::addRow("a silence, x%s", at.constData())
                << int(HistoryEvent::SilenceBegin) << int(HistoryEvent::SilenceEnd) << true
                << ratio;
            QTest::addRow("a silence still going on, x%s", at.constData())
                << int(HistoryEvent::SilenceBegin) << kNone << false << ratio;
            QTest::addRow("a line still lost, x%s", at.constData())
                << int(HistoryEvent::LineLost) << kNone << false << ratio;
        }
    }

    void traceBreaksAtGapsOnly()
    {
        QFETCH(int, opens);
        QFETCH(int, closes);
        QFETCH(bool, laterReadings);
        QFETCH(qreal, ratio);

        SessionHistory history;
        history.begin(QDateTime::currentDateTime());
        history.mark(0, HistoryEvent::Start);
        addSteady(history, 0, 10001, 500, 200);
        if (opens != kNone)
            history.mark(10000, HistoryEvent(opens));
        if (closes != kNone)
            history.mark(20000, HistoryEvent(closes));
        if (laterReadings)
            addSteady(history, 20000, 30001, 500, 600);

        ChartScene scene;
        scene.history = &history;
        scene.fromMs = 0;
        scene.toMs = 30000;
        scene.nowMs = laterReadings ? 30000 : 25000;
        scene.fixedScale = true;
        const Drawn d = draw(scene, QSize(400, 240), ratio);

        const bool gap = opens != kNone;
        const qreal middle = xOf(d, scene, 15000);
        QCOMPARE(countInColumn(d, middle, isTrace) > 0, !gap);
        QCOMPARE(countInColumn(d, middle, isGapGrey) > 0, gap);
        // Readings on either side are drawn whatever happened between them.
        QVERIFY(countInColumn(d, xOf(d, scene, 5000), isTrace) > 0);
        QCOMPARE(countInColumn(d, xOf(d, scene, 25000), isTrace) > 0, laterReadings);
        if (gap && closes == kNone) {
            // Open: grey up to now, not beyond.
            QVERIFY(countInColumn(d, xOf(d, scene, 24000), isGapGrey) > 0);
            QCOMPARE(countInColumn(d, xOf(d, scene, 27000), isGapGrey), 0);
        }
    }

    // A line that comes and goes: the trace breaks at every gap, not only the first, and is
    // whole between them.
    void everyGapBreaksTheTrace_data()
    {
        QTest::addColumn<int>("gaps");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("one") << 1 << 1.0;
        QTest::newRow("three") << 3 << 1.0;
        QTest::newRow("six, x2") << 6 << 2.0;
    }

    void everyGapBreaksTheTrace()
    {
        QFETCH(int, gaps);
        QFETCH(qreal, ratio);
        // 10 s of readings, alternately 2.00 and 6.00, then 10 s with the line lost; again.
        SessionHistory history;
        history.begin(QDateTime::currentDateTime());
        history.mark(0, HistoryEvent::Start);
        for (int k = 0; k <= gaps; ++k) {
            if (k > 0)
                history.mark(k * 20000, HistoryEvent::LineBack);
            addSteady(history, k * 20000, k * 20000 + 10000, 500, k % 2 ? 600 : 200);
            if (k < gaps)
                history.mark(k * 20000 + 10000, HistoryEvent::LineLost);
        }
        ChartScene scene;
        scene.history = &history;
        scene.toMs = gaps * 20000 + 10000;
        scene.nowMs = scene.toMs;
        scene.fixedScale = true;
        const Drawn d = draw(scene, QSize(120 + 60 * gaps, 200), ratio);
        for (int k = 0; k <= gaps; ++k) {
            QVERIFY2(countInColumn(d, xOf(d, scene, k * 20000 + 5000), isTrace) > 0,
                     qPrintable(QString::number(k)));
            if (k < gaps)
                QVERIFY2(countInColumn(d, xOf(d, scene, k * 20000 + 15000), isTrace) == 0,
                         qPrintable(QString::number(k)));
        }
    }

    // One reading of 7.00 among 2.00s must show however much time one pixel column holds.
    void aSingleReadingShowsAtAnySpan_data()
    {
        QTest::addColumn<qint64>("spanMs");
        QTest::addColumn<qint64>("everyMs");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("a minute at 10/s") << qint64(60000) << qint64(100) << 1.0;
        QTest::newRow("an hour at 10/s") << qint64(3600000) << qint64(100) << 1.0;
        QTest::newRow("an hour at 10/s, x2") << qint64(3600000) << qint64(100) << 2.0;
        QTest::newRow("six hours at 1/s, older than the last hour")
            << qint64(6 * 3600000) << qint64(1000) << 1.0;
    }

    void aSingleReadingShowsAtAnySpan()
    {
        QFETCH(qint64, spanMs);
        QFETCH(qint64, everyMs);
        QFETCH(qreal, ratio);

        SessionHistory history;
        history.begin(QDateTime::currentDateTime());
        const qint64 spikeMs = spanMs / 3 + everyMs / 2;
        addSteady(history, 0, spikeMs, everyMs, 200);
        const qint16 spike = 700;
        history.addBatch(spikeMs, &spike, 1);
        addSteady(history, spikeMs + everyMs, spanMs, everyMs, 200);

        ChartScene scene;
        scene.history = &history;
        scene.toMs = spanMs;
        scene.nowMs = spanMs;
        scene.fixedScale = true; // 0 to 8: heights known
        const Drawn d = draw(scene, QSize(500, 260), ratio);

        int topmost = INT_MAX;
        for (int x = int(d.plot.left() * ratio) + 1; x < int(d.plot.right() * ratio); ++x) {
            for (int y = int(d.plot.top() * ratio) + 1; y < int(d.plot.bottom() * ratio); ++y) {
                if (isTrace(d.image.pixelColor(x, y))) {
                    topmost = std::min(topmost, y);
                    break;
                }
            }
        }
        const qreal expected = (d.plot.bottom() - 7.0 / 8.0 * d.plot.height()) * ratio;
        QVERIFY2(
            qAbs(topmost - expected) <= 3 * ratio,
            qPrintable(
                QStringLiteral("top of the trace at %1, 7.00 at %2").arg(topmost).arg(expected)));
    }

    // On the dial's scale a reading beyond 0-8 is drawn at the edge, with a mark there; a
    // scale fitted to the readings needs none.
    void fixedScaleMarksWhatItClips_data()
    {
        QTest::addColumn<int>("centi");
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<int>("edge"); // -1 bottom, 1 top, 0 none

        QTest::newRow("above 8") << 894 << true << 1;
        QTest::newRow("below 0") << -50 << true << -1;
        QTest::newRow("inside") << 700 << true << 0;
        QTest::newRow("above 8, fitted scale") << 894 << false << 0;
    }

    void fixedScaleMarksWhatItClips()
    {
        QFETCH(int, centi);
        QFETCH(bool, fixed);
        QFETCH(int, edge);

        SessionHistory history;
        history.begin(QDateTime::currentDateTime());
        addSteady(history, 0, 20000, 200, 400);
        addSteady(history, 20000, 22000, 200, qint16(centi));
        addSteady(history, 22000, 40000, 200, 400);
        ChartScene scene;
        scene.history = &history;
        scene.toMs = 40000;
        scene.nowMs = 40000;
        scene.fixedScale = fixed;
        const Drawn d = draw(scene, QSize(400, 240), 1);

        const qreal x = xOf(d, scene, 21000);
        const auto clipAt = [&](qreal y) {
            int n = 0;
            for (int dy = -2; dy <= 2; ++dy)
                n += isClipMark(d.image.pixelColor(int(x), int(y) + dy));
            return n > 0;
        };
        QCOMPARE(clipAt(d.plot.top() + 1), edge == 1);
        QCOMPARE(clipAt(d.plot.bottom() - 1), edge == -1);
        int clipped = 0;
        for (int y = 0; y < d.image.height(); ++y) {
            for (int xx = 0; xx < d.image.width(); ++xx)
                clipped += isClipMark(d.image.pixelColor(xx, y));
        }
        QCOMPARE(clipped > 0, edge != 0);
    }

    // Sizes are points of the device's own resolution: the margins are the same length on a
    // screen, a high-density screen and a page, and nothing of the picture is left undrawn.
    void sizesFollowTheResolution_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::newRow("96 dpi") << 96;
        QTest::newRow("144 dpi") << 144;
        QTest::newRow("192 dpi") << 192;
        QTest::newRow("600 dpi, a page") << 600;
    }

    void sizesFollowTheResolution()
    {
        QFETCH(int, dpi);
        SessionHistory history;
        history.begin(QDateTime::currentDateTime());
        addSteady(history, 0, 30000, 100, 250);
        ChartScene scene;
        scene.history = &history;
        scene.toMs = 30000;
        scene.nowMs = 30000;
        // Five inches by three.
        const QSize size(5 * dpi, 3 * dpi);
        const Drawn d = draw(scene, size, 1, dpi);
        const Drawn screen = draw(scene, QSize(5 * 96, 3 * 96), 1, 96);

        const auto inches = [](qreal units, int perInch) { return units / perInch; };
        QVERIFY(qAbs(inches(d.plot.left(), dpi) - inches(screen.plot.left(), 96)) < 0.03);
        QVERIFY(qAbs(inches(d.plot.top(), dpi) - inches(screen.plot.top(), 96)) < 0.03);
        QVERIFY(qAbs(inches(size.height() - d.plot.bottom(), dpi) -
                     inches(3 * 96 - screen.plot.bottom(), 96)) < 0.03);
        int undrawn = 0;
        for (int y = 0; y < d.image.height(); y += 3) {
            for (int x = 0; x < d.image.width(); x += 3)
                undrawn += d.image.pixelColor(x, y) == QColor(Qt::magenta);
        }
        QCOMPARE(undrawn, 0);
        QVERIFY(countInColumn(d, xOf(d, scene, 15000), isTrace) > 0);
    }

    // ---- the window, over a session ----

    // States a session goes through, and what the window says in each.
    void statusFollowsTheSession_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("silentTitle");
        QTest::addColumn<bool>("ticking");

        QTest::newRow("before START") << "none" << QString() << false << false;
        QTest::newRow("readings") << "reading" << piezon::texts::kRunning << false << false;
        QTest::newRow("silent") << "silent" << piezon::texts::kSilentStatus << true << true;
        QTest::newRow("line lost") << "lost" << piezon::texts::kReconnecting << false << true;
        QTest::newRow("after STOP") << "stopped" << piezon::texts::kFinished << false << false;
    }

    void statusFollowsTheSession()
    {
        QFETCH(QString, state);
        QFETCH(QString, status);
        QFETCH(bool, silentTitle);
        QFETCH(bool, ticking);

        s = std::make_unique<WindowSession>();
        openWindow();
        piezon::SessionWindow& w = window();
        const SessionHistory& history = s->form->MSComm1().history();
        if (state != "none")
            startWithReadings(QByteArray("\x40\x80", 2));
        if (state == "silent")
            QTRY_VERIFY_WITH_TIMEOUT(s->form->MSComm1().isSilent(), 5000);
        if (state == "lost") {
            s->line.closeMaster();
            QTRY_VERIFY(s->form->MSComm1().isReconnecting());
        }
        if (state == "stopped")
            s->form->Command2_Click();
        w.refresh();

        QCOMPARE(w.status->text(), status);
        QCOMPARE(w.windowTitle(), silentTitle
                                      ? QStringLiteral("Пьезон для RX418 — график — нет данных")
                                      : QStringLiteral("Пьезон для RX418 — график"));
        QCOMPARE(w.ticking(), ticking);
        QCOMPARE(w.chart->shownScene().history->started(), state != "none");
        if (state == "none") {
            QCOMPARE(w.maximum->text(), QStringLiteral("—"));
            QCOMPARE(w.count->text(), QStringLiteral("—"));
            return;
        }
        QCOMPARE(w.count->text(), QStringLiteral("2"));
        // The right edge: now while the session runs, so a silence or a lost line is seen to
        // grow; the last reading once it is over.
        const qint64 right = w.rightEdgeMs();
        if (state == "stopped") {
            QCOMPARE(right, history.lastReadingMs());
            QTest::qWait(1100);
            QCOMPARE(w.rightEdgeMs(), right);
        } else if (ticking) {
            const qint64 shown = w.chart->shownScene().nowMs;
            QTest::qWait(1100);
            QVERIFY2(
                w.chart->shownScene().nowMs >= shown + 900,
                qPrintable(
                    QStringLiteral("%1, then %2").arg(shown).arg(w.chart->shownScene().nowMs)));
        }
        QCOMPARE(w.chart->shownScene().toMs >= right, true);
    }

    // At most two pictures a second while readings stream (each costs the display a few
    // hundred KiB), each touching the chart and the numbers only; none at all, and no timer,
    // while the window is closed.
    void picturesArePaced_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("shown") << true;
        QTest::newRow("closed") << false;
    }

    void picturesArePaced()
    {
        QFETCH(bool, shown);
        s = std::make_unique<WindowSession>();
        openWindow();
        piezon::SessionWindow& w = window();
        if (!shown)
            w.close();
        startWithReadings(QByteArray(1, '\x40'));

        struct PaintWatch : QObject {
            std::map<QObject*, QList<QRect>> painted;
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() == QEvent::Paint)
                    painted[watched] << static_cast<QPaintEvent*>(event)->rect();
                return false;
            }
        } watch;
        const QList<QWidget*> still{&w, w.spanPicker, w.nowButton, w.fixedScale, w.resetButton};
        for (QWidget* widget : still)
            widget->installEventFilter(&watch);
        QTest::qWait(200);
        watch.painted.clear();

        const int before = w.picturesMade();
        QElapsedTimer streaming;
        streaming.start();
        for (int i = 0; i < 50; ++i) {
            QVERIFY(s->line.write(QByteArray(1, char(0x40 + i % 8))));
            QTest::qWait(20);
            if (!shown)
                QVERIFY(!w.framePending() && !w.ticking());
        }
        QTest::qWait(150);
        const int pictures = w.picturesMade() - before;
        const qint64 halves = (streaming.elapsed() + 150) / 500;
        QVERIFY(s->form->MSComm1().history().readingCount() >= 40);
        if (!shown) {
            QCOMPARE(pictures, 0);
            QVERIFY(!w.framePending() && !w.ticking());
            return;
        }
        QVERIFY2(
            pictures >= 2 && pictures <= halves + 1,
            qPrintable(QStringLiteral("%1 pictures in %2 ms").arg(pictures).arg(halves * 500)));
        QVERIFY(!w.ticking());
        for (QWidget* widget : still) {
            if (widget == &w)
                continue;
            QVERIFY2(watch.painted[widget].isEmpty(), qPrintable(widget->objectName()));
        }
        for (const QRect& r : watch.painted[&w])
            QVERIFY2(r != w.rect(), "the whole window was painted for a reading");
    }

    // «Сбросить» starts the maximum and the minimum again; the chart keeps every reading.
    void resetStartsTheExtremesAgain()
    {
        s = std::make_unique<WindowSession>(QLocale(QLocale::Russian));
        openWindow();
        piezon::SessionWindow& w = window();
        const quint8 high = byteNear(600);
        const quint8 low = byteNear(150);
        const quint8 middle = byteNear(300);
        startWithReadings(bytes({high, low}));
        w.refresh();
        const auto shown = [](quint8 byte) {
            return captionOf(byte).replace(QLatin1Char('.'), QLatin1Char(',')) +
                   QStringLiteral(" кгс/см²");
        };
        QCOMPARE(w.maximum->text(), shown(high));
        QCOMPARE(w.minimum->text(), shown(low));
        QVERIFY(w.maximumWhen->text().startsWith(QStringLiteral("в ")));

        QTest::mouseClick(w.resetButton, Qt::LeftButton);
        QCOMPARE(w.maximum->text(), QStringLiteral("—"));
        QCOMPARE(w.minimum->text(), QStringLiteral("—"));
        QCOMPARE(w.count->text(), QStringLiteral("2"));

        QVERIFY(s->line.write(QByteArray(1, char(middle))));
        QTRY_COMPARE(s->form->MSComm1().history().readingCount(), qint64(3));
        w.refresh();
        QCOMPARE(w.maximum->text(), shown(middle));
        QCOMPARE(w.minimum->text(), shown(middle));
    }

    // A double click on the maximum or the minimum points out its moment on the chart and
    // stops following the live edge until «Сейчас».
    void extremeShownOnDoubleClick_data()
    {
        QTest::addColumn<bool>("maximum");
        QTest::addColumn<bool>("onTheTime"); // the line under the value
        QTest::newRow("maximum") << true << false;
        QTest::newRow("minimum's time") << false << true;
    }

    void extremeShownOnDoubleClick()
    {
        QFETCH(bool, maximum);
        QFETCH(bool, onTheTime);
        s = std::make_unique<WindowSession>();
        openWindow();
        piezon::SessionWindow& w = window();
        startWithReadings(bytes({byteNear(200), byteNear(700), byteNear(100), byteNear(400)}));
        w.spanPicker->setCurrentIndex(1); // «1 мин»
        w.refresh();
        const SessionHistory& history = s->form->MSComm1().history();
        const qint64 moment = maximum ? history.maximum()->ms : history.minimum()->ms;

        QLabel* label = maximum ? (onTheTime ? w.maximumWhen : w.maximum)
                                : (onTheTime ? w.minimumWhen : w.minimum);
        QTest::mouseDClick(label, Qt::LeftButton);
        QCOMPARE(w.chart->pointed(), std::optional<qint64>(moment));
        QVERIFY(!w.following());
        const ChartScene scene = w.chart->shownScene();
        QVERIFY(scene.fromMs <= moment && moment < scene.toMs);
        QCOMPARE(scene.hoverMs, std::optional<qint64>(moment));

        QTest::mouseClick(w.nowButton, Qt::LeftButton);
        QVERIFY(w.following());
        QCOMPARE(w.chart->pointed(), std::nullopt);
    }

    // Every text of the window whole at its least size, in every state, at this scale.
    void textsAreWhole_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("before START") << "none";
        QTest::newRow("readings") << "reading";
        QTest::newRow("line lost") << "lost";
        QTest::newRow("a hold ended, its verdict and why") << "hold";
    }

    void textsAreWhole()
    {
        QFETCH(QString, state);
        s = std::make_unique<WindowSession>(QLocale(QLocale::Russian));
        openWindow();
        piezon::SessionWindow& w = window();
        w.resize(w.minimumSize());
        QTRY_COMPARE(w.size(), w.minimumSize());
        // Room beside the main window on the smallest screen it is used on.
        QVERIFY2(w.width() <= 640 && w.height() <= 560,
                 qPrintable(QStringLiteral("%1x%2").arg(w.width()).arg(w.height())));
        if (state != "none")
            startWithReadings(bytes({byteNear(250), byteNear(-50)}));
        if (state == "lost") {
            s->line.closeMaster();
            QTRY_VERIFY(s->form->MSComm1().isReconnecting());
        }
        if (state == "hold") {
            w.floorField->setText(QStringLiteral("7,5"));
            w.toggleHold();
            QTRY_VERIFY(w.hold().begun() && !w.hold().running() && !w.hold().writing());
            QVERIFY(!w.holdMessage->text().isEmpty());
        }
        w.refresh();
        QCoreApplication::processEvents();

        const QRect client = w.rect();
        for (QWidget* widget : w.findChildren<QWidget*>()) {
            if (!widget->isVisible() || widget->isWindow())
                continue;
            const QRect inWindow(widget->mapTo(&w, QPoint(0, 0)), widget->size());
            QVERIFY2(client.contains(inWindow), qPrintable(widget->objectName()));
            QString text;
            int need = 0;
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                text = label->text();
                if (qobject_cast<piezon::CaptionLabel*>(widget))
                    continue; // the main window's own box and font, checked with it
                if (label->wordWrap()) {
                    // Its lines as tall as they come at its width.
                    QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
                             qPrintable(text));
                    continue;
                }
                need = label->fontMetrics().horizontalAdvance(text);
                QVERIFY2(label->height() >= label->fontMetrics().height(), qPrintable(text));
                QVERIFY2(need <= label->contentsRect().width(),
                         qPrintable(QStringLiteral("«%1» needs %2, has %3")
                                        .arg(text)
                                        .arg(need)
                                        .arg(label->contentsRect().width())));
            } else if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget)) {
                QVERIFY2(widget->sizeHint().width() <= widget->width() &&
                             widget->sizeHint().height() <= widget->height(),
                         qPrintable(widget->objectName()));
            }
        }
        QVERIFY(w.chart->width() >= 200 && w.chart->height() >= 140);
    }
    // ---- a saved record ----

    // A record opened over a running session, and the ways back to it; a file that is not a
    // record changes nothing.
    void aSavedRecordIsShown_data()
    {
        QTest::addColumn<QString>("back"); // "refused": the file is not a record

        QTest::newRow("Сейчас") << "now";
        QTest::newRow("F7") << "F7";
        QTest::newRow("F8") << "F8";
        QTest::newRow("refused") << "refused";
    }

    void aSavedRecordIsShown()
    {
        QFETCH(QString, back);
        namespace companion = piezon::companion;

        s = std::make_unique<WindowSession>();
        openWindow();
        piezon::SessionWindow& w = window();
        startWithReadings(bytes({0x40, 0x80, 0x90}));
        const QDateTime first(QDate(2026, 12, 7), QTime(14, 5, 12));
        const QDateTime second(QDate(2026, 12, 7), QTime(15, 0));
        QByteArray file =
            companion::header() +
            companion::eventRow(companion::stamp(first, 0), companion::event::kStart) +
            companion::eventRow(companion::stamp(first.addSecs(2), 2000), companion::event::kStop) +
            companion::eventRow(companion::stamp(second, 0), companion::event::kStart);
        for (int ms = 15; ms <= 150; ms += 15)
            file += companion::stamp(second.addMSecs(ms), ms) +
                    companion::readingFields(200, 173, 0, QStringLiteral("5,43"));
        if (back == "refused")
            file += "2026-12-07 15:00:01.000;1000;200;173;0;5,4x;\r\n";
        const QString path = s->dir.filePath(QStringLiteral("Пьезон_RX418_предыдущий.csv"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        out.close();

        piezon::RecordPanel& records = w.records();
        QSignalSpy ended(&records, &piezon::RecordPanel::readingEnded);
        QVERIFY(records.open(path));
        QVERIFY(ended.wait(10000));
        const SessionHistory& live = s->form->MSComm1().history();
        if (back == "refused") {
            QCOMPARE(s->reporter.messages.size(), 1);
            QVERIFY2(
                s->reporter.messages[0].contains(QStringLiteral("строка 15: ")) &&
                    s->reporter.messages[0].contains(QStringLiteral("Пьезон_RX418_предыдущий")),
                qPrintable(s->reporter.messages[0]));
            QCOMPARE(w.windowTitle(), QStringLiteral("Пьезон для RX418 — график"));
            QCOMPARE(w.chart->shownScene().history, &live);
            return;
        }
        QCOMPARE(w.windowTitle(),
                 QStringLiteral("Пьезон для RX418 — график — Пьезон_RX418_предыдущий.csv"));
        // The session with readings, though it is not the first; the other offered by its start.
        QCOMPARE(records.sessionPicker->count(), 2);
        QCOMPARE(records.sessionPicker->currentIndex(), 1);
        QVERIFY(
            records.sessionPicker->itemText(0).startsWith(QStringLiteral("2026-12-07 14:05:12")));
        QVERIFY(w.chart->shownScene().history != &live);
        QCOMPARE(w.count->text(), QStringLiteral("10"));
        QCOMPARE(w.status->text(), piezon::texts::kRecordShown);
        QVERIFY(w.maximumWhen->text().startsWith(QStringLiteral("в 15:00:00")));
        // The live session goes on recording meanwhile.
        QVERIFY(s->line.write(bytes({0xA0})));
        QTRY_COMPARE(live.readingCount(), 4);
        QCOMPARE(w.count->text(), QStringLiteral("10"));

        if (back == "now")
            w.nowButton->click();
        else
            QTest::keyClick(w.chart, back == "F7" ? Qt::Key_F7 : Qt::Key_F8);
        QCOMPARE(w.windowTitle(), QStringLiteral("Пьезон для RX418 — график"));
        QCOMPARE(w.chart->shownScene().history, &live);
        QCOMPARE(w.count->text(), QStringLiteral("4"));
        QVERIFY(!records.sessionPicker->isVisible());
        // Back, and nothing else: F8 began no hold.
        QVERIFY(!w.hold().running());
    }
    // A live hold's protocol made again afterwards from the session's own record: every field
    // the same, but for the port, which the record does not give, and the files it names.
    void aHoldsProtocolFromItsRecord()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        s = std::make_unique<WindowSession>(QLocale(QLocale::Russian));
        openWindow();
        piezon::SessionWindow& w = window();
        startWithReadings(bytes({byteNear(520)}));
        w.durationField->setText(QStringLiteral("0:10"));
        w.dropField->setText(QStringLiteral("0,1"));
        w.toggleHold();
        QVERIFY(w.hold().running());
        // A slow fall, a reading every 0.3 s, until the hold has ended by itself.
        for (int i = 0; w.hold().running() && i < 60; ++i) {
            QVERIFY(s->line.write(bytes({byteNear(520 - 2 * i)})));
            QTest::qWait(300);
        }
        QVERIFY(!w.hold().running());
        QCOMPARE(w.hold().outcome().verdict, piezon::HoldVerdict::NotHeld);
        QTRY_VERIFY_WITH_TIMEOUT(!w.hold().protocolPath().isEmpty(), 10000);

        piezon::RecordPanel& records = w.records();
        QSignalSpy read(&records, &piezon::RecordPanel::readingEnded);
        QVERIFY(records.open(s->companionPath()));
        QVERIFY(read.wait(10000));
        QCOMPARE(records.foundHolds().size(), std::size_t(1));
        QSignalSpy made(&records, &piezon::RecordPanel::protocolEnded);
        QVERIFY(records.makeProtocol(0));
        QVERIFY(made.wait(20000));
        QVERIFY2(!records.protocolPath().isEmpty(), qPrintable(records.protocolNote->text()));
        QVERIFY(records.protocolPath() != w.hold().protocolPath());

        const auto text = [](const QString& pdf) {
            QProcess p;
            p.start(QStringLiteral("pdftotext"),
                    {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
            p.waitForFinished(20000);
            QStringList lines;
            for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n'))
                lines << line.simplified();
            return lines;
        };
        QStringList live = text(w.hold().protocolPath());
        QStringList again = text(records.protocolPath());
        QVERIFY(live.contains(QStringLiteral("Порт COM1")));
        QVERIFY(again.contains(QStringLiteral("Порт нет в записи")));
        QVERIFY(again.contains(QStringLiteral("Составлен по записи: Пьезон_RX418.csv")));
        const auto comparable = [](QStringList lines) {
            lines.removeIf([](const QString& line) {
                return line.isEmpty() || line.startsWith(QStringLiteral("Порт")) ||
                       line.startsWith(QStringLiteral("Журнал:")) ||
                       line.startsWith(QStringLiteral("Запись с отметками")) ||
                       line.startsWith(QStringLiteral("Строки испытания:")) ||
                       line.startsWith(QStringLiteral("Составлен по записи:"));
            });
            return lines;
        };
        live = comparable(live);
        again = comparable(again);
        QVERIFY(live.contains(QStringLiteral("НЕ ВЫДЕРЖАНО")));
        QCOMPARE(again, live);
    }
};

QTEST_MAIN(TestSessionWindow)
#include "test_session_window.moc"
