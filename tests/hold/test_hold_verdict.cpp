// The pressure-hold verdict from steps written as the record would give them, and the texts its
// fields are read from.

#include "hold/hold_verdict.h"

#include <QStringList>
#include <QTest>

#include <map>

using piezon::HoldCause;
using piezon::HoldOutcome;
using piezon::HoldSettings;
using piezon::HoldStep;
using piezon::HoldVerdict;

Q_DECLARE_METATYPE(HoldVerdict)
Q_DECLARE_METATYPE(HoldCause)

namespace
{

const std::map<QString, HoldCause> kEvents = {
    {QStringLiteral("operator"), HoldCause::OperatorEnded},
    {QStringLiteral("stop"), HoldCause::Stop},
    {QStringLiteral("lost"), HoldCause::LineLost},
    {QStringLiteral("silence"), HoldCause::Silence},
    {QStringLiteral("offset"), HoldCause::OffsetChanged},
    {QStringLiteral("closed"), HoldCause::ProgramClosed},
};

// "1000:273 1000:lost": a reading of 2.73 at 1 s since START, then the line lost at the same
// moment (one batch), in that order.
std::vector<HoldStep> stepsOf(const QString& text)
{
    std::vector<HoldStep> steps;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList parts = word.split(QLatin1Char(':'));
        const qint64 ms = parts[0].toLongLong();
        const auto event = kEvents.find(parts[1]);
        steps.push_back(event != kEvents.end() ? HoldStep::happened(ms, event->second)
                                               : HoldStep::reading(ms, parts[1].toInt()));
    }
    return steps;
}

} // namespace

class TestHoldVerdict : public QObject
{
    Q_OBJECT

private slots:
    // Every hold starts at 1000 ms at 2.73 and lasts 10 s (planned end 11000), 0.20 allowed.
    void verdict_data()
    {
        QTest::addColumn<int>("floor"); // -1: «Не ниже» not set
        QTest::addColumn<QString>("steps");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<HoldVerdict>("verdict");
        QTest::addColumn<HoldCause>("cause");
        QTest::addColumn<qint64>("endMs");
        QTest::addColumn<int>("endCenti");
        QTest::addColumn<int>("drop");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<QString>("reason");

        const auto held = HoldVerdict::Held;
        const auto failed = HoldVerdict::NotHeld;
        const auto aborted = HoldVerdict::Aborted;
        const auto completed = HoldCause::Completed;
        const QString none;

        QTest::newRow("steady") << -1 << "2000:273 6000:273 11000:273" << qint64(11000) << held
                                << completed << qint64(11000) << 273 << 0 << 273 << none;
        // In binary fractions 2.73 - 2.53 is more than 0.20.
        QTest::newRow("a drop of exactly the allowed 0.20 holds")
            << -1 << "2000:270 9000:253" << qint64(11000) << held << completed << qint64(11000)
            << 253 << 20 << 253 << none;
        QTest::newRow("a hundredth more does not")
            << -1 << "2000:270 9000:252" << qint64(11000) << failed << completed << qint64(11000)
            << 252 << 21 << 252 << "падение 0,21 больше допустимого 0,20";
        QTest::newRow("the end reading decides, not the lowest")
            << -1 << "3000:240 9000:260" << qint64(11000) << held << completed << qint64(11000)
            << 260 << 13 << 240 << none;
        QTest::newRow("a rise holds") << -1 << "5000:290" << qint64(12000) << held << completed
                                      << qint64(11000) << 290 << -17 << 273 << none;
        QTest::newRow("a reading at the planned end is the end pressure")
            << -1 << "5000:270 11000:250" << qint64(11000) << failed << completed << qint64(11000)
            << 250 << 23 << 250 << "падение 0,23 больше допустимого 0,20";
        QTest::newRow("a reading after the planned end is not")
            << -1 << "5000:270 11001:100" << qint64(11001) << held << completed << qint64(11000)
            << 270 << 3 << 270 << none;
        QTest::newRow("not yet at the end: running, the drop so far")
            << -1 << "5000:262" << qint64(10999) << HoldVerdict::Running << HoldCause::None
            << qint64(5000) << 262 << 11 << 262 << none;
        QTest::newRow("below «Не ниже»: ends at once, later readings ignored")
            << 250 << "4000:249 5000:273" << qint64(11000) << failed << HoldCause::BelowFloor
            << qint64(4000) << 249 << 24 << 249 << "давление 2,49 ниже 2,50";
        QTest::newRow("at «Не ниже» exactly: not below")
            << 250 << "4000:250 10000:260" << qint64(11000) << held << completed << qint64(11000)
            << 260 << 13 << 250 << none;
        QTest::newRow("started below «Не ниже»")
            << 280 << "4000:290" << qint64(11000) << failed << HoldCause::BelowFloor << qint64(1000)
            << 273 << 0 << 273 << "давление 2,73 ниже 2,80";
        const struct {
            const char* name;
            HoldCause cause;
            const char* reason;
        } endings[] = {
            {"operator", HoldCause::OperatorEnded, "остановлено оператором"},
            {"stop", HoldCause::Stop, "нажата кнопка СТОП"},
            {"lost", HoldCause::LineLost, "линия потеряна"},
            {"silence", HoldCause::Silence, "нет данных от манометра"},
            {"offset", HoldCause::OffsetChanged, "изменена погрешность"},
            {"closed", HoldCause::ProgramClosed, "программа закрыта"},
        };
        for (const auto& e : endings) {
            QTest::addRow("ended: %s", e.name)
                << -1 << QStringLiteral("3000:265 7000:%1 8000:200").arg(QLatin1String(e.name))
                << qint64(11000) << aborted << e.cause << qint64(7000) << 265 << 8 << 265
                << QString::fromUtf8(e.reason);
        }
        QTest::newRow("an event at the planned end comes after it")
            << -1 << "5000:270 11000:lost" << qint64(11000) << held << completed << qint64(11000)
            << 270 << 3 << 270 << none;
        QTest::newRow("two causes in one batch: the reading below «Не ниже» first")
            << 250 << "6000:260 6000:245 6000:lost" << qint64(11000) << failed
            << HoldCause::BelowFloor << qint64(6000) << 245 << 28 << 245
            << "давление 2,45 ниже 2,50";
        QTest::newRow("two causes in one batch: the line lost first")
            << 250 << "6000:260 6000:lost 6000:245" << qint64(11000) << aborted
            << HoldCause::LineLost << qint64(6000) << 260 << 13 << 260 << "линия потеряна";
        QTest::newRow("two causes: the planned end before a late batch's fall")
            << 250 << "6000:265 11005:240 11005:stop" << qint64(11005) << held << completed
            << qint64(11000) << 265 << 8 << 265 << none;
        QTest::newRow("two events at one moment: the first")
            << -1 << "4000:offset 4000:stop" << qint64(11000) << aborted << HoldCause::OffsetChanged
            << qint64(4000) << 273 << 0 << 273 << "изменена погрешность";
    }

    void verdict()
    {
        QFETCH(int, floor);
        QFETCH(QString, steps);
        QFETCH(qint64, now);
        HoldSettings settings;
        settings.durationMs = 10 * 1000;
        settings.allowedDropCenti = 20;
        if (floor >= 0)
            settings.floorCenti = floor;

        const HoldOutcome outcome = piezon::judgeHold(settings, 1000, 273, stepsOf(steps), now);
        QTEST(outcome.verdict, "verdict");
        QTEST(outcome.cause, "cause");
        QTEST(outcome.endMs, "endMs");
        QTEST(outcome.endCenti, "endCenti");
        QTEST(outcome.dropCenti, "drop");
        QTEST(outcome.minCenti, "minimum");
        QTEST(piezon::holdReasonText(outcome, settings, QLatin1Char(',')), "reason");
        QCOMPARE(outcome.plannedEndMs, qint64(11000));

        // Fed one step at a time, as a live hold is, its timer firing just before each: the same.
        piezon::HoldJudge judge(settings, 1000, 273);
        for (const HoldStep& step : stepsOf(steps)) {
            if (step.ms > now || judge.advance(step.ms - 1) || judge.add(step))
                break;
        }
        judge.advance(now);
        QCOMPARE(judge.outcome().verdict, outcome.verdict);
        QCOMPARE(judge.outcome().endMs, outcome.endMs);
        QCOMPARE(judge.outcome().endCenti, outcome.endCenti);
    }

    void hundredths_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("centi"); // INT_MIN: refused
        const int refused = INT_MIN;
        QTest::newRow("comma, one decimal is tenths") << "0,2" << 20;
        QTest::newRow("point") << "0.05" << 5;
        QTest::newRow("whole") << "3" << 300;
        QTest::newRow("a caption without trailing zeros") << "1,6" << 160;
        QTest::newRow("negative caption") << "-0,94" << -94;
        QTest::newRow("blanks around") << "  2,73 " << 273;
        QTest::newRow("three decimals") << "0,125" << refused;
        QTest::newRow("half-typed") << "2," << refused;
        QTest::newRow("no units") << ",5" << refused;
        QTest::newRow("two separators") << "1,2,3" << refused;
        QTest::newRow("a letter") << "0,2a" << refused;
        QTest::newRow("exponent") << "1e2" << refused;
        QTest::newRow("empty") << "" << refused;
        QTest::newRow("a blank inside") << "2 ,73" << refused;
    }

    void hundredths()
    {
        QFETCH(QString, text);
        QFETCH(int, centi);
        const std::optional<int> parsed = piezon::parseHundredths(text);
        QCOMPARE(parsed.value_or(INT_MIN), centi);
    }

    void duration_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("ms"); // -1: refused
        QTest::newRow("the default") << "10:00" << qint64(600000);
        QTest::newRow("the shortest") << "0:10" << qint64(10000);
        QTest::newRow("shorter") << "0:09" << qint64(-1);
        QTest::newRow("a day in minutes") << "1440:00" << qint64(86400000);
        QTest::newRow("more minutes") << "1441:00" << qint64(-1);
        QTest::newRow("a day in hours") << "24:00:00" << qint64(86400000);
        QTest::newRow("past a day") << "24:00:01" << qint64(-1);
        QTest::newRow("hours") << "1:30:00" << qint64(5400000);
        QTest::newRow("60 seconds") << "1:60" << qint64(-1);
        QTest::newRow("one digit of seconds") << "10:5" << qint64(-1);
        QTest::newRow("60 minutes in h:mm:ss") << "0:60:00" << qint64(-1);
        QTest::newRow("minutes alone") << "10" << qint64(-1);
        QTest::newRow("a decimal") << "10,5" << qint64(-1);
        QTest::newRow("empty") << "" << qint64(-1);
    }

    void duration()
    {
        QFETCH(QString, text);
        QFETCH(qint64, ms);
        QCOMPARE(piezon::parseHoldDuration(text).value_or(-1), ms);
    }

    void megapascals_data()
    {
        QTest::addColumn<int>("centi");
        QTest::addColumn<QString>("text");
        QTest::newRow("2.73") << 273 << "0,268";
        QTest::newRow("the usual allowance, rounded up") << 20 << "0,020";
        QTest::newRow("a hundredth") << 1 << "0,001";
        QTest::newRow("the dial's top") << 800 << "0,785";
        QTest::newRow("negative") << -5 << "-0,005";
        QTest::newRow("zero") << 0 << "0,000";
    }

    void megapascals()
    {
        QFETCH(int, centi);
        QFETCH(QString, text);
        QCOMPARE(piezon::formatMegapascals(centi, QLatin1Char(',')), text);
    }

    // The record's two rows: what they say, and never a field separator or a line end in them,
    // whatever the desktop's decimal separator.
    void events_data()
    {
        QTest::addColumn<int>("floor");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::newRow("held") << -1 << "5000:270"
                              << ","
                              << "испытание: начало, 0:10, допустимое падение 0,20"
                              << "испытание: ВЫДЕРЖАНО";
        QTest::newRow("not held, with «Не ниже»")
            << 250 << "5000:240"
            << ","
            << "испытание: начало, 0:10, допустимое падение 0,20, не ниже 2,50"
            << "испытание: НЕ ВЫДЕРЖАНО, давление 2,40 ниже 2,50";
        QTest::newRow("aborted, a point") << -1 << "5000:lost"
                                          << "."
                                          << "испытание: начало, 0:10, допустимое падение 0.20"
                                          << "испытание: ПРЕРВАНО, линия потеряна";
        QTest::newRow("a separator that splits rows")
            << -1 << "5000:240"
            << ";"
            << "испытание: начало, 0:10, допустимое падение 0,20"
            << "испытание: НЕ ВЫДЕРЖАНО, падение 0,33 больше допустимого 0,20";
    }

    void events()
    {
        QFETCH(int, floor);
        QFETCH(QString, steps);
        QFETCH(QString, separator);
        HoldSettings settings;
        settings.durationMs = 10 * 1000;
        if (floor >= 0)
            settings.floorCenti = floor;
        const HoldOutcome outcome = piezon::judgeHold(settings, 1000, 273, stepsOf(steps), 11000);
        QTEST(piezon::holdStartEvent(settings, separator.at(0)), "start");
        QTEST(piezon::holdEndEvent(outcome, settings, separator.at(0)), "end");
    }
};

QTEST_GUILESS_MAIN(TestHoldVerdict)
#include "test_hold_verdict.moc"
