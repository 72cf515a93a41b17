// The session's history as the chart reads it, against what the fed readings themselves give,
// and the chart's axes.

#include "chart/chart_axes.h"
#include "chart/session_history.h"

#include <QList>
#include <QTest>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

using piezon::ColumnEnvelope;
using piezon::HistoryEvent;
using piezon::SessionHistory;

namespace
{

constexpr qint64 kSecond = 1000;
constexpr qint64 kHour = 3600 * kSecond;

// One thing told to the history: a batch, an event, or (neither: Step{}) resetExtremes().
struct Step {
    qint64 ms = 0;
    QList<qint16> centi;
    int event = -1; // a HistoryEvent
};
using Steps = QList<Step>;

Step marked(qint64 ms, HistoryEvent kind)
{
    return Step{ms, {}, int(kind)};
}

// Batches of `perBatch` readings every `periodMs` in [fromMs, toMs); `value` gives each reading.
Steps batches(qint64 fromMs, qint64 toMs, qint64 periodMs, int perBatch,
              const std::function<qint16(qint64 ms, int i)>& value)
{
    Steps out;
    for (qint64 ms = fromMs; ms < toMs; ms += periodMs) {
        Step step{ms, {}, -1};
        for (int i = 0; i < perBatch; ++i)
            step.centi << value(ms, i);
        out << step;
    }
    return out;
}

// A slow swell with some noise within a batch, within the gauge's -0.94 ... 8.94.
qint16 wave(qint64 ms, int i)
{
    return qint16(300 + (ms / 700) % 97 - 48 + (i * 7) % 5);
}

// Replaces the reading of the batch at or after `ms` by `centi`.
void spike(Steps& steps, qint64 ms, qint16 centi)
{
    for (Step& step : steps) {
        if (step.ms >= ms && !step.centi.isEmpty()) {
            step.centi[step.centi.size() / 2] = centi;
            return;
        }
    }
}

void feed(SessionHistory& history, const Steps& steps)
{
    for (const Step& step : steps) {
        if (step.event >= 0)
            history.mark(step.ms, HistoryEvent(step.event));
        else if (step.centi.isEmpty())
            history.resetExtremes();
        else
            history.addBatch(step.ms, step.centi.constData(), step.centi.size());
    }
}

// The envelope worked out reading by reading: a batch of the last hour before the last one
// counts in the column of its arrival; an older one in every column its one-second bucket
// overlaps before that hour.
std::vector<ColumnEnvelope> bruteEnvelope(const Steps& steps, qint64 from, qint64 to, int columns)
{
    std::vector<ColumnEnvelope> out(std::size_t(columns), ColumnEnvelope{});
    qint64 last = -1;
    for (const Step& step : steps) {
        if (step.event < 0 && !step.centi.isEmpty())
            last = step.ms;
    }
    if (last < 0)
        return out;
    const qint64 split = last - SessionHistory::kFineMs;
    const qint64 w = SessionHistory::kBucketMs;
    const qint64 span = to - from;
    for (int c = 0; c < columns; ++c) {
        const qint64 a = from + span * c / columns;
        const qint64 b = from + span * (c + 1) / columns;
        ColumnEnvelope& e = out[std::size_t(c)];
        for (const Step& step : steps) {
            if (step.event >= 0 || step.centi.isEmpty())
                continue;
            const qint64 bucket = step.ms / w * w;
            const bool fine = step.ms >= split && step.ms >= a && step.ms < b;
            const bool old = bucket < split && a < split && bucket < b && bucket + w > a;
            if (!fine && !old)
                continue;
            for (const qint16 v : step.centi) {
                e.lo = e.any ? std::min(e.lo, int(v)) : v;
                e.hi = e.any ? std::max(e.hi, int(v)) : v;
                e.any = true;
            }
        }
    }
    return out;
}

// Column by column, (lo, hi) or (none, none), for a comparison that names the first difference.
QList<int> flat(const std::vector<ColumnEnvelope>& columns)
{
    QList<int> out;
    for (const ColumnEnvelope& e : columns)
        out << (e.any ? e.lo : INT_MIN) << (e.any ? e.hi : INT_MIN);
    return out;
}

// Exactly as a label would print it: no 2.9000000000000004.
QString shortest(double x)
{
    return QString::number(x, 'g', QLocale::FloatingPointShortest);
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestSessionHistory : public QObject
{
    Q_OBJECT

private slots:
    void envelopeAsTheReadingsGiveIt_data();
    void envelopeAsTheReadingsGiveIt();
    void aDayAtLineRate();
    void nearest_data();
    void nearest();
    void extremes_data();
    void extremes();
    void slope_data();
    void slope();
    void gaps_data();
    void gaps();
    void oldestMarksForgotten();
    void pressureAxis_data();
    void pressureAxis();
    void timeTicks_data();
    void timeTicks();
};

void TestSessionHistory::envelopeAsTheReadingsGiveIt_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<int>("columns");

    Steps lineRate = batches(0, 120 * kSecond, 16, 15, wave);
    spike(lineRate, 40 * kSecond + 3, 894);
    spike(lineRate, 80 * kSecond + 5, -94);
    QTest::newRow("two minutes at line rate, a spike up and one down")
        << lineRate << qint64(0) << 120 * kSecond << 800;

    Steps gap = batches(0, 20 * kSecond, 100, 3, wave);
    gap << marked(20 * kSecond, HistoryEvent::LineLost)
        << marked(50 * kSecond, HistoryEvent::LineBack)
        << batches(50 * kSecond, 70 * kSecond, 100, 3, wave);
    QTest::newRow("30 s without readings") << gap << qint64(0) << 70 * kSecond << 700;

    Steps twoHours = batches(0, 2 * kHour, 250, 2, wave);
    spike(twoHours, 1800 * kSecond + 1250, 894);
    QTest::newRow("an hour back: columns cutting buckets")
        << twoHours << 1800 * kSecond + 500 << 1803 * kSecond + 700 << 64;
    const qint64 split = twoHours.last().ms - SessionHistory::kFineMs;
    QTest::newRow("a span from the buckets into the last hour")
        << twoHours << split - 30 * kSecond << split + 30 * kSecond << 600;

    const Steps fiftyMinutes = batches(0, 50 * 60 * kSecond, 100, 4, wave);
    QTest::newRow("within the last hour, columns of whole buckets")
        << fiftyMinutes << qint64(0) << 50 * 60 * kSecond << 199;
    QTest::newRow("within the last hour, columns cutting buckets")
        << fiftyMinutes << 100 * kSecond << 160 * kSecond << 40;

    QTest::newRow("one reading") << Steps{Step{5000, {273}, -1}} << qint64(0) << qint64(10000)
                                 << 100;
    QTest::newRow("no reading") << Steps{} << qint64(0) << qint64(10000) << 100;

    Steps day = batches(0, 24 * kHour, 5 * kSecond, 2, wave);
    spike(day, 3 * kHour + 77 * kSecond, 894);
    spike(day, 23 * kHour + 30 * 60 * kSecond, -94);
    QTest::newRow("the whole day") << day << qint64(0) << 24 * kHour << 800;
}

void TestSessionHistory::envelopeAsTheReadingsGiveIt()
{
    QFETCH(Steps, steps);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(int, columns);

    SessionHistory history;
    history.begin(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
    feed(history, steps);
    const std::vector<ColumnEnvelope> want = bruteEnvelope(steps, from, to, columns);
    QCOMPARE(flat(history.envelope(from, to, columns)), flat(want));

    // The whole span at once is the columns together.
    std::optional<ColumnEnvelope> together;
    for (const ColumnEnvelope& e : want) {
        if (e.any && together)
            together =
                ColumnEnvelope{std::min(together->lo, e.lo), std::max(together->hi, e.hi), true};
        else if (e.any)
            together = e;
    }
    const auto whole = history.range(from, to);
    QCOMPARE(whole.has_value(), together.has_value());
    if (whole) {
        QCOMPARE(whole->lo, together->lo);
        QCOMPARE(whole->hi, together->hi);
    }
}

// A whole day at the gauge's full speed: the bound holds, and one reading out of 83 million is
// still in the whole-session view.
void TestSessionHistory::aDayAtLineRate()
{
    SessionHistory history;
    history.begin(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
    constexpr qint64 kDay = 24 * kHour;
    const qint64 spikeMs = 13 * kHour + 123457;
    const qint64 dipMs = 17 * kHour + 7;
    qint16 batch[15] = {};
    qint64 batches = 0;
    qint64 spikeAt = -1;
    qint64 dipAt = -1;
    for (qint64 n = 0;; ++n) {
        const qint64 ms = n * 15625 / 1000; // 15.6 ms
        if (ms >= kDay)
            break;
        // The readings drift slowly; writing them once every 64 batches keeps the feed quick.
        if (n % 64 == 0) {
            const auto base = qint16(250 + (n / 64) % 200);
            for (int i = 0; i < 15; ++i)
                batch[i] = qint16(base + i % 4);
        }
        const bool odd = (spikeAt < 0 && ms >= spikeMs) || (dipAt < 0 && ms >= dipMs);
        const qint16 kept = batch[7];
        if (odd) {
            batch[7] = spikeAt < 0 ? 894 : -94;
            (spikeAt < 0 ? spikeAt : dipAt) = ms;
        }
        history.addBatch(ms, batch, 15);
        batch[7] = kept;
        ++batches;
    }
    QCOMPARE(history.readingCount(), batches * 15);
    QVERIFY2(history.memoryBytes() <= 4u * 1024 * 1024,
             qPrintable(QStringLiteral("%1 bytes").arg(history.memoryBytes())));
    QCOMPARE(history.maximum()->centi, 894);
    QCOMPARE(history.maximum()->ms, spikeAt);
    QCOMPARE(history.minimum()->centi, -94);
    QCOMPARE(history.minimum()->ms, dipAt);

    // Then a quieter day: the buckets grow twice as wide, nothing else grows, no peak is lost.
    for (qint64 ms = kDay; ms < 2 * kDay; ms += kSecond)
        history.addBatch(ms, batch, 1);
    QVERIFY2(history.memoryBytes() <= 4u * 1024 * 1024,
             qPrintable(QStringLiteral("%1 bytes").arg(history.memoryBytes())));

    for (const qint64 span : {kDay, 2 * kDay}) {
        constexpr int kColumns = 800;
        const std::vector<ColumnEnvelope> env = history.envelope(0, span, kColumns);
        const auto column = [&](qint64 ms) { return int(ms * kColumns / span); };
        for (int c = 0; c < kColumns; ++c) {
            const ColumnEnvelope& e = env[std::size_t(c)];
            QVERIFY2(e.any, qPrintable(QStringLiteral("column %1 empty").arg(c)));
            // A bucket across a column's edge belongs to both columns, and to no other.
            if (e.hi == 894)
                QVERIFY2(std::abs(c - column(spikeAt)) <= 1, qPrintable(QString::number(c)));
            if (e.lo == -94)
                QVERIFY2(std::abs(c - column(dipAt)) <= 1, qPrintable(QString::number(c)));
        }
        QCOMPARE(env[std::size_t(column(spikeAt))].hi, 894);
        QCOMPARE(env[std::size_t(column(dipAt))].lo, -94);
    }
}

void TestSessionHistory::nearest_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QList<qint64>>("point"); // from, to, lo, hi; empty: none

    QTest::newRow("no reading") << Steps{} << qint64(0) << QList<qint64>{};
    const Steps two{Step{0, {100}, -1}, Step{1000, {200, 210}, -1}};
    QTest::newRow("the last hour: the nearer batch")
        << two << qint64(600) << QList<qint64>{1000, 1000, 200, 210};
    QTest::newRow("batches a few ms apart share one point")
        << Steps{Step{0, {100}, -1}, Step{3, {120}, -1}, Step{6, {90}, -1}, Step{20, {110}, -1}}
        << qint64(5) << QList<qint64>{0, 0, 90, 120};

    const auto cycle = [](qint64 ms, int) { return qint16(100 + (ms / 250) % 7 * 10); };
    QTest::newRow("older: the bucket it falls in")
        << batches(0, 2 * kHour, 250, 1, cycle) << qint64(1000400)
        << QList<qint64>{1000000, 1001000, 130, 160};
    Steps parted = batches(0, 600 * kSecond, 250, 1, cycle);
    parted << batches(1000 * kSecond, 5000 * kSecond, 250, 1, cycle);
    QTest::newRow("older, between readings: the nearest bucket")
        << parted << qint64(700 * kSecond) << QList<qint64>{599000, 600000, 120, 150};
    QTest::newRow("older, between readings: the nearer side")
        << parted << qint64(900 * kSecond) << QList<qint64>{1000000, 1001000, 130, 160};
    QTest::newRow("after two days: buckets of 2 s")
        << batches(0, 48 * kHour, 10 * kSecond, 1,
                   [](qint64 ms, int) { return qint16(ms / 10000 % 500); })
        << qint64(3600005) << QList<qint64>{3600000, 3602000, 360, 360};
}

void TestSessionHistory::nearest()
{
    QFETCH(Steps, steps);
    QFETCH(qint64, ms);
    QFETCH(QList<qint64>, point);

    SessionHistory history;
    history.begin(QDateTime::currentDateTime());
    feed(history, steps);
    const auto got = history.nearest(ms);
    QCOMPARE(got.has_value(), !point.isEmpty());
    if (got)
        QCOMPARE((QList<qint64>{got->fromMs, got->toMs, got->lo, got->hi}), point);
}

void TestSessionHistory::extremes_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QList<qint64>>("maximum"); // centi, ms; empty: none
    QTest::addColumn<QList<qint64>>("minimum");

    QTest::newRow("the first time a value was reached")
        << Steps{Step{1000, {250}, -1}, Step{2000, {300}, -1}, Step{3000, {300}, -1},
                 Step{4000, {200}, -1}}
        << QList<qint64>{300, 2000} << QList<qint64>{200, 4000};
    QTest::newRow("several at the extreme in one batch: the batch's time")
        << Steps{Step{1000, {250, 400, 400, 260}, -1}, Step{2000, {100, 400}, -1}}
        << QList<qint64>{400, 1000} << QList<qint64>{100, 2000};
    QTest::newRow("a reset forgets what came before")
        << Steps{Step{1000, {894}, -1}, Step{2000, {-94}, -1}, Step{}, Step{3000, {300, 250}, -1}}
        << QList<qint64>{300, 3000} << QList<qint64>{250, 3000};
    QTest::newRow("a reset and no reading since")
        << Steps{Step{1000, {300}, -1}, Step{}} << QList<qint64>{} << QList<qint64>{};
}

void TestSessionHistory::extremes()
{
    QFETCH(Steps, steps);
    QFETCH(QList<qint64>, maximum);
    QFETCH(QList<qint64>, minimum);

    SessionHistory history;
    history.begin(QDateTime::currentDateTime());
    feed(history, steps);
    const auto asList = [](const std::optional<piezon::Extreme>& e) {
        return e ? QList<qint64>{e->centi, e->ms} : QList<qint64>{};
    };
    QCOMPARE(asList(history.maximum()), maximum);
    QCOMPARE(asList(history.minimum()), minimum);

    // A new session forgets them as it forgets everything.
    history.begin(QDateTime::currentDateTime());
    QVERIFY(!history.maximum() && !history.minimum() && !history.latest());
}

void TestSessionHistory::slope_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<double>("perMinute"); // NaN: none

    const double none = std::nan("");
    const auto flat = [](qint64, int) { return qint16(273); };
    // 0.12 kgf/cm2 a minute in whole hundredths: a staircase, as the gauge gives it.
    const auto rising = [](qint64 ms, int) { return qint16(200 + qRound(12.0 * ms / 60000)); };
    QTest::newRow("flat") << batches(0, 120 * kSecond, 100, 3, flat) << qint64(119900) << 0.0;
    QTest::newRow("rising 0.12 a minute")
        << batches(0, 120 * kSecond, 100, 3, rising) << qint64(119900) << 0.12;
    Steps lost = batches(0, 100 * kSecond, 100, 3, rising);
    lost << marked(100 * kSecond, HistoryEvent::LineLost)
         << marked(101 * kSecond, HistoryEvent::LineBack)
         << batches(101 * kSecond, 120 * kSecond, 100, 3, rising);
    QTest::newRow("a lost line within the 60 s") << lost << qint64(119900) << none;
    Steps past = lost;
    past << batches(120 * kSecond, 180 * kSecond, 100, 3, rising);
    QTest::newRow("a lost line before the 60 s") << past << qint64(179900) << 0.12;
    Steps silent = batches(0, 100 * kSecond, 100, 3, rising);
    silent << marked(99900, HistoryEvent::SilenceBegin);
    QTest::newRow("a silence still open") << silent << qint64(110000) << none;
    QTest::newRow("less than 60 s of readings")
        << batches(0, 59 * kSecond, 100, 3, rising) << qint64(59000) << none;
    QTest::newRow("one reading in the 60 s")
        << Steps{Step{0, {200}, -1}, Step{100 * kSecond, {210}, -1}} << qint64(100000) << none;
}

void TestSessionHistory::slope()
{
    QFETCH(Steps, steps);
    QFETCH(qint64, now);
    QFETCH(double, perMinute);

    SessionHistory history;
    history.begin(QDateTime::currentDateTime());
    feed(history, steps);
    const std::optional<double> got = history.slopePerMinute(now);
    QCOMPARE(got.has_value(), !std::isnan(perMinute));
    if (got)
        QVERIFY2(std::abs(*got - perMinute) < 0.003, qPrintable(QString::number(*got)));
}

void TestSessionHistory::gaps_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QList<qint64>>("gaps"); // from, to pairs; to -1: still open

    QTest::newRow("the line lost and back")
        << Steps{marked(1000, HistoryEvent::LineLost), marked(5000, HistoryEvent::LineBack)}
        << QList<qint64>{1000, 5000};
    QTest::newRow("the line lost, still away")
        << Steps{marked(1000, HistoryEvent::LineLost)} << QList<qint64>{1000, -1};
    QTest::newRow("the line lost, then STOP")
        << Steps{marked(1000, HistoryEvent::LineLost), marked(3000, HistoryEvent::Stop)}
        << QList<qint64>{1000, 3000};
    QTest::newRow("a silence and its end")
        << Steps{marked(2000, HistoryEvent::SilenceBegin), marked(6000, HistoryEvent::SilenceEnd)}
        << QList<qint64>{2000, 6000};
    QTest::newRow("a silence, then the line lost takes over")
        << Steps{marked(2000, HistoryEvent::SilenceBegin), marked(7000, HistoryEvent::LineLost),
                 marked(9000, HistoryEvent::LineBack)}
        << QList<qint64>{2000, 7000, 7000, 9000};
    QTest::newRow("a silence ended by STOP")
        << Steps{marked(2000, HistoryEvent::SilenceBegin), marked(4000, HistoryEvent::Stop)}
        << QList<qint64>{2000, 4000};
    QTest::newRow("ends without a beginning open nothing")
        << Steps{marked(1000, HistoryEvent::LineBack), marked(2000, HistoryEvent::SilenceEnd),
                 marked(3000, HistoryEvent::Stop)}
        << QList<qint64>{};
    QTest::newRow("a silence's end does not end a lost line")
        << Steps{marked(1000, HistoryEvent::LineLost), marked(1500, HistoryEvent::SilenceBegin),
                 marked(1800, HistoryEvent::SilenceEnd), marked(3000, HistoryEvent::LineBack)}
        << QList<qint64>{1000, 3000};
    QTest::newRow("a reading ends a gap left open")
        << Steps{Step{500, {100}, -1}, marked(500, HistoryEvent::SilenceBegin),
                 Step{2500, {100}, -1}}
        << QList<qint64>{500, 2500};
    // Declared once the silence limit has passed, at the reading before it.
    QTest::newRow("a silence marked after a later event")
        << Steps{Step{1000, {100}, -1}, marked(2500, HistoryEvent::LogMode),
                 marked(1000, HistoryEvent::SilenceBegin), marked(4000, HistoryEvent::SilenceEnd)}
        << QList<qint64>{1000, 4000};
}

void TestSessionHistory::gaps()
{
    QFETCH(Steps, steps);
    QFETCH(QList<qint64>, gaps);

    SessionHistory history;
    history.begin(QDateTime::currentDateTime());
    history.mark(0, HistoryEvent::Start);
    feed(history, steps);
    QList<qint64> got;
    for (const piezon::HistoryGap& gap : history.gaps())
        got << gap.fromMs << gap.toMs;
    QCOMPARE(got, gaps);
    const auto& marks = history.marks();
    QCOMPARE(
        qsizetype(marks.size()),
        1 + std::count_if(steps.begin(), steps.end(), [](const Step& s) { return s.event >= 0; }));
    QVERIFY(std::is_sorted(marks.begin(), marks.end(),
                           [](const auto& a, const auto& b) { return a.ms < b.ms; }));
}

void TestSessionHistory::oldestMarksForgotten()
{
    SessionHistory history;
    history.begin(QDateTime::currentDateTime());
    // A line that comes and goes, and comes and goes, ending lost.
    const qsizetype extra = 5000;
    const qsizetype count = 2 * (SessionHistory::kMaxMarks + extra) + 1;
    for (qsizetype i = 0; i < count; ++i)
        history.mark(2 * i, i % 2 ? HistoryEvent::LineBack : HistoryEvent::LineLost);
    // The newest, and no more than the limit.
    const auto& marks = history.marks();
    QVERIFY(qsizetype(marks.size()) <= SessionHistory::kMaxMarks);
    QVERIFY(qsizetype(marks.size()) > SessionHistory::kMaxMarks * 9 / 10);
    QCOMPARE(marks.front().ms, 2 * (count - qsizetype(marks.size())));
    QVERIFY(qsizetype(history.gaps().size()) <= SessionHistory::kMaxMarks);
    QCOMPARE(history.gaps().back().toMs, qint64(-1)); // the open one stays
    QVERIFY(history.memoryBytes() < 1024 * 1024);
}

void TestSessionHistory::pressureAxis_data()
{
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<QString>("axis"); // lo, hi, step, printed exactly

    QTest::newRow("2.6 to 2.8: widened to half a unit") << 2.6 << 2.8 << "2.5 3 0.1";
    QTest::newRow("given upside down") << 2.8 << 2.6 << "2.5 3 0.1";
    QTest::newRow("flat") << 3.0 << 3.0 << "2.8 3.3 0.1";
    QTest::newRow("below zero") << -0.94 << -0.5 << "-1 -0.4 0.1";
    QTest::newRow("the gauge's whole range") << 0.0 << 8.94 << "-2 10 2";
    QTest::newRow("steps of 0.2") << 2.0 << 3.2 << "1.8 3.4 0.2";
}

void TestSessionHistory::pressureAxis()
{
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(QString, axis);

    const piezon::PressureAxis got = piezon::fitPressureAxis(lo, hi);
    QCOMPARE(QStringList({shortest(got.lo), shortest(got.hi), shortest(got.step)}).join(u' '),
             axis);
}

void TestSessionHistory::timeTicks_data()
{
    QTest::addColumn<qint64>("span");
    QTest::addColumn<int>("maxTicks");
    QTest::addColumn<qint64>("step");

    const qint64 minute = 60 * kSecond;
    const qint64 day = 24 * kHour;
    QTest::newRow("a minute, 6 ticks: 10 s would make 7") << minute << 6 << 15 * kSecond;
    QTest::newRow("2 s, 2 ticks") << 2 * kSecond << 2 << 2 * kSecond;
    QTest::newRow("a day, 9 ticks") << day << 9 << 3 * kHour;
    QTest::newRow("a month, 8 ticks: whole days") << 30 * day << 8 << 4 * day;
    QTest::newRow("nothing to span") << qint64(0) << 5 << kSecond;
    QTest::newRow("three days, one tick") << 3 * day << 1 << 4 * day;
}

void TestSessionHistory::timeTicks()
{
    QFETCH(qint64, span);
    QFETCH(int, maxTicks);
    QFETCH(qint64, step);
    QCOMPARE(piezon::timeTickStepMs(span, maxTicks), step);
}

QTEST_GUILESS_MAIN(TestSessionHistory)
#include "test_session_history.moc"
