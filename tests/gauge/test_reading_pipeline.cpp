#include "gauge/reading_pipeline.h"
#include "gauge/silence_watch.h"
#include "log/measurement_log.h"
#include "support/log_opening.h"

#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using piezon::Line;
using piezon::MeasurementLog;
using piezon::ReadingPipeline;

namespace
{

// One log line as it must appear in the file, in Windows-1251.
QByteArray record(const char* offset, const char* caption)
{
    return QByteArray("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC") + offset + "    |    " +
           caption + "     \xEA\xE3\xF1/c\xEC" + "2\r\n";
}

const QString kZero = QStringLiteral("     0");

struct Step {
    quint8 byte;
    QString offset;
    bool allData;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot read ") + path.toLocal8Bit() + ">";
    return file.readAll();
}

// A sink in memory that takes at most `room` bytes, cutting off a torn record as the files do.
class MemorySink : public piezon::RecordSink
{
public:
    explicit MemorySink(qint64 room = -1) : m_room(room) {}
    bool write(const QByteArray& records, QString* error, qint64* kept) override
    {
        qint64 take = records.size();
        if (m_room >= 0 && take > m_room - bytes.size())
            take = records.lastIndexOf('\n', m_room - bytes.size() - 1) + 1;
        bytes += records.left(take);
        if (kept)
            *kept = take;
        if (take == records.size())
            return true;
        *error = QStringLiteral("full");
        return false;
    }
    QByteArray bytes;

private:
    qint64 m_room;
};

bool sameLine(const Line& a, const Line& b)
{
    return a.X1 == b.X1 && a.Y1 == b.Y1 && a.X2 == b.X2 && a.Y2 == b.Y2;
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestReadingPipeline : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void recordsPerMode_data();
    void recordsPerMode();

    void newLogStartsWithItsFirstReading();
    void failedWriteKeepsNeedleAndPreviousCaption();
    void withoutLogNothingIsRecorded();
    void rejectedOffsetChangesNothing();

    void companionRowPerReading_data();
    void companionRowPerReading();
    void companionFailureEndsTheBatch();

    void lastBatchTaken_data();
    void lastBatchTaken();

    void silenceLimit_data();
    void silenceLimit();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString logPath(const QString& name = QStringLiteral("readings.log")) const
    {
        return m_dir->filePath(name);
    }
};

void TestReadingPipeline::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestReadingPipeline::recordsPerMode_data()
{
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("caption");

    const QList<Step> repeats{
        {100, kZero, true}, {100, kZero, true}, {14, kZero, true},
        {13, kZero, true},  {255, kZero, true},
    };
    QTest::newRow("all data: one record per reading")
        << QChar(u'.') << repeats
        << record("     0", "2.73") + record("     0", "2.73") + record("     0", "0.41") +
               record("     0", "0.41") + record("     0", "8")
        << "8";

    QList<Step> changesOnly = repeats;
    for (Step& step : changesOnly)
        step.allData = false;
    QTest::newRow("changes only: repeated caption skipped")
        << QChar(u'.') << changesOnly
        << record("     0", "2.73") + record("     0", "0.41") + record("     0", "8") << "8";

    QTest::newRow("changes only: another raw code with the same caption")
        << QChar(u'.') << QList<Step>{{56, kZero, false}, {57, kZero, false}}
        << record("     0", "1.6") << "1.6";

    // 100 with offset 1 and 101 with offset 0 both correct to 88: the offset alone is no change.
    QTest::newRow("changes only: offset counts only through the caption")
        << QChar(u'.')
        << QList<Step>{{100, kZero, false},
                       {100, QStringLiteral("     1"), false},
                       {101, kZero, false}}
        << record("     0", "2.73") + record("     1", "2.76") << "2.76";

    QTest::newRow("mode switched mid-session")
        << QChar(u'.')
        << QList<Step>{{100, kZero, false},
                       {100, kZero, true},
                       {100, kZero, false},
                       {255, QStringLiteral("    30"), false},
                       {255, QStringLiteral("    30"), true}}
        << record("     0", "2.73") + record("     0", "2.73") + record("    30", "8.94") +
               record("    30", "8.94")
        << "8.94";

    QTest::newRow("negative reading keeps the offset's blanks")
        << QChar(u'.') << QList<Step>{{0, QStringLiteral("   -30"), true}}
        << record("   -30", "-0.94") << "-0.94";

    QTest::newRow("comma separator")
        << QChar(u',') << QList<Step>{{100, kZero, true}, {56, kZero, false}}
        << record("     0", "2,73") + record("     0", "1,6") << "1,6";
}

void TestReadingPipeline::recordsPerMode()
{
    QFETCH(QChar, separator);
    QFETCH(QList<Step>, steps);
    QFETCH(QByteArray, log);
    QFETCH(QString, caption);

    MeasurementLog file;
    QString error;
    QVERIFY2(piezon::support::openLog(file, logPath(), &error), qPrintable(error));
    ReadingPipeline pipeline(separator);
    for (const Step& step : steps) {
        QCOMPARE(pipeline.process(step.byte, step.offset, step.allData, &file, &error),
                 ReadingPipeline::Result::Shown);
    }
    file.close();
    QCOMPARE(readAll(logPath()), log);
    QCOMPARE(pipeline.caption(), caption);
}

void TestReadingPipeline::newLogStartsWithItsFirstReading()
{
    ReadingPipeline pipeline(QLatin1Char('.'));
    MeasurementLog file;
    QString error;

    QVERIFY(piezon::support::openLog(file, logPath(), &error));
    QCOMPARE(pipeline.process(100, kZero, false, &file, &error), ReadingPipeline::Result::Shown);
    QCOMPARE(pipeline.process(255, kZero, false, &file, &error), ReadingPipeline::Result::Shown);
    file.close();
    QCOMPARE(readAll(logPath()), record("     0", "2.73") + record("     0", "8"));

    // Same caption as the last one of the earlier log, yet it opens the new log.
    QVERIFY(piezon::support::openLog(file, logPath(), &error));
    pipeline.startNewLog();
    QCOMPARE(pipeline.process(255, kZero, false, &file, &error), ReadingPipeline::Result::Shown);
    QCOMPARE(pipeline.process(255, kZero, false, &file, &error), ReadingPipeline::Result::Shown);
    file.close();
    QCOMPARE(readAll(logPath()), record("     0", "8"));
}

void TestReadingPipeline::failedWriteKeepsNeedleAndPreviousCaption()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full on this system");

    ReadingPipeline pipeline(QLatin1Char('.'));
    QString error;

    MeasurementLog first;
    QVERIFY(piezon::support::openLog(first, logPath(QStringLiteral("first.log")), &error));
    QCOMPARE(pipeline.process(255, kZero, false, &first, &error), ReadingPipeline::Result::Shown);
    const Line needleBefore = pipeline.needle();
    QCOMPARE(pipeline.needleReading(), 255.0);

    MeasurementLog full;
    QVERIFY2(piezon::support::openLog(full, QStringLiteral("/dev/full"), &error),
             qPrintable(error));
    error.clear();
    QCOMPARE(pipeline.process(100, kZero, false, &full, &error),
             ReadingPipeline::Result::LogFailed);
    QVERIFY(!error.isEmpty());
    QCOMPARE(pipeline.caption(), QStringLiteral("2.73"));
    QVERIFY(sameLine(pipeline.needle(), needleBefore));
    QCOMPARE(pipeline.needleReading(), 255.0);

    // "2.73" never became the previous caption, so it is still news in the changes-only mode.
    MeasurementLog second;
    QVERIFY(piezon::support::openLog(second, logPath(QStringLiteral("second.log")), &error));
    QCOMPARE(pipeline.process(100, kZero, false, &second, &error), ReadingPipeline::Result::Shown);
    QCOMPARE(pipeline.process(100, kZero, false, &second, &error), ReadingPipeline::Result::Shown);
    second.close();
    QCOMPARE(readAll(logPath(QStringLiteral("second.log"))), record("     0", "2.73"));
    QCOMPARE(pipeline.needleReading(), 87.0);
    QVERIFY(!sameLine(pipeline.needle(), needleBefore));
}

void TestReadingPipeline::withoutLogNothingIsRecorded()
{
    ReadingPipeline pipeline(QLatin1Char('.'));
    QCOMPARE(pipeline.caption(), QStringLiteral("0.00"));
    QVERIFY(sameLine(pipeline.needle(), piezon::kLine1AtRest));

    QString error;
    QCOMPARE(pipeline.process(255, kZero, true, nullptr, &error), ReadingPipeline::Result::Shown);
    QVERIFY(error.isEmpty());
    QCOMPARE(pipeline.caption(), QStringLiteral("8"));
    QCOMPARE(pipeline.needleReading(), 255.0);
    // Corrected 255 turns the needle to the dial's 8 mark.
    QVERIFY(std::abs(pipeline.needle().X2 - 3268.60f) <= 0.01f);
    QVERIFY(std::abs(pipeline.needle().Y2 - 2965.82f) <= 0.01f);
    QCOMPARE(pipeline.needle().X1, piezon::kLine1AtRest.X1);
    QCOMPARE(pipeline.needle().Y1, piezon::kLine1AtRest.Y1);
}

void TestReadingPipeline::rejectedOffsetChangesNothing()
{
    ReadingPipeline pipeline(QLatin1Char('.'));
    MeasurementLog file;
    QString error;
    QVERIFY(piezon::support::openLog(file, logPath(), &error));

    QCOMPARE(pipeline.process(100, kZero, false, &file, &error), ReadingPipeline::Result::Shown);
    const Line needleBefore = pipeline.needle();

    QCOMPARE(pipeline.process(255, QStringLiteral("1a"), true, &file, &error),
             ReadingPipeline::Result::Rejected);
    QCOMPARE(pipeline.caption(), QStringLiteral("2.73"));
    QCOMPARE(pipeline.needleReading(), 87.0);
    QVERIFY(sameLine(pipeline.needle(), needleBefore));

    // The previous caption is still "2.73": the same reading is not news.
    QCOMPARE(pipeline.process(100, kZero, false, &file, &error), ReadingPipeline::Result::Shown);
    file.close();
    QCOMPARE(readAll(logPath()), record("     0", "2.73"));
}

void TestReadingPipeline::companionRowPerReading_data()
{
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<bool>("allData");
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QByteArray>("batch");

    const QByteArray everyValue = [] {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        return all;
    }();
    QTest::newRow("every byte, all data, offset 0") << QChar(u'.') << true << kZero << everyValue;
    QTest::newRow("every byte, changes only, offset -30, comma")
        << QChar(u',') << false << QStringLiteral("   -30") << everyValue;
    QTest::newRow("repeats in changes-only mode still get their rows")
        << QChar(u',') << false << QStringLiteral("    12") << QByteArray("\x64\x64\x64\x0d\x0d");
}

void TestReadingPipeline::companionRowPerReading()
{
    QFETCH(QChar, separator);
    QFETCH(bool, allData);
    QFETCH(QString, offset);
    QFETCH(QByteArray, batch);

    // In two batches, with the same stamp each: every reading has its row, in both modes, with
    // what the reading chain itself makes of its byte.
    const QByteArray stamp = "2026-12-08 10:00:00.000;1500;";
    MemorySink log;
    MemorySink rows;
    ReadingPipeline pipeline(separator);
    ReadingPipeline::Sinks sinks{&log, &rows, stamp};
    QString error;
    const qsizetype half = batch.size() / 2;
    QCOMPARE(pipeline.process(batch.constData(), half, offset, allData, sinks, &error),
             ReadingPipeline::Result::Shown);
    QCOMPARE(pipeline.process(batch.constData() + half, batch.size() - half, offset, allData, sinks,
                              &error),
             ReadingPipeline::Result::Shown);

    QByteArray expected;
    for (const char c : batch) {
        const auto reading = piezon::computeReading(quint8(c), offset, separator);
        QVERIFY(reading);
        expected += stamp + QByteArray::number(quint8(c)) + ';' +
                    QByteArray::number(qRound(reading->corrected)) + ';' +
                    QByteArray::number(*piezon::parseOffset(offset)) + ';' +
                    reading->caption.toUtf8() + ";\r\n";
    }
    QCOMPARE(rows.bytes, expected);

    // The log's bytes are the same as without the companion, to the byte.
    MemorySink alone;
    ReadingPipeline without(separator);
    without.process(batch.constData(), half, offset, allData, &alone, &error);
    without.process(batch.constData() + half, batch.size() - half, offset, allData, &alone, &error);
    QCOMPARE(log.bytes, alone.bytes);
}

void TestReadingPipeline::companionFailureEndsTheBatch()
{
    // Room for two rows of three: the third reading is where the batch ends, its caption shown
    // and the needle as the second left it, as a failed log record leaves them.
    const QByteArray stamp = "2026-12-08 10:00:00.000;0;";
    MemorySink probe;
    ReadingPipeline sizing(QLatin1Char('.'));
    QString error;
    sizing.process("\x64\xff", 2, kZero, true, ReadingPipeline::Sinks{nullptr, &probe, stamp},
                   &error);
    MemorySink log;
    MemorySink rows(probe.bytes.size());
    ReadingPipeline pipeline(QLatin1Char('.'));
    QCOMPARE(pipeline.process("\x64\xff\x0d", 3, kZero, true,
                              ReadingPipeline::Sinks{&log, &rows, stamp}, &error),
             ReadingPipeline::Result::CompanionFailed);
    QCOMPARE(rows.bytes, probe.bytes);
    QCOMPARE(pipeline.caption(), QStringLiteral("0.41"));
    QCOMPARE(pipeline.needleReading(), 255.0);
}

void TestReadingPipeline::lastBatchTaken_data()
{
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QByteArray>("batch");
    QTest::addColumn<int>("logRoom"); // readings whose records fit in the log; -1: all
    QTest::addColumn<QList<int>>("taken");

    QTest::newRow("offset 0") << kZero << QByteArray("\x64\xff\x0d") << -1
                              << QList<int>{273, 800, 41};
    QTest::newRow("offset 30") << QStringLiteral("    30") << QByteArray("\xff") << -1
                               << QList<int>{894};
    QTest::newRow("offset -30") << QStringLiteral("   -30") << QByteArray(1, '\0') << -1
                                << QList<int>{-94};
    QTest::newRow("cut short by a failed write: the readings before it")
        << kZero << QByteArray("\x64\xff\x0d\x38") << 2 << QList<int>{273, 800};
    QTest::newRow("an offset that is not a number: none")
        << QStringLiteral("1a") << QByteArray("\x64") << -1 << QList<int>{};
}

void TestReadingPipeline::lastBatchTaken()
{
    QFETCH(QString, offset);
    QFETCH(QByteArray, batch);
    QFETCH(int, logRoom);
    QFETCH(QList<int>, taken);

    qint64 room = -1;
    if (logRoom >= 0) {
        MemorySink probe;
        ReadingPipeline sizing(QLatin1Char('.'));
        QString error;
        sizing.process(batch.constData(), logRoom, offset, true, &probe, &error);
        room = probe.bytes.size();
    }
    MemorySink log(room);
    ReadingPipeline pipeline(QLatin1Char('.'));
    QString error;
    // A batch before it, of another length: only the last batch's readings are told.
    pipeline.process("\x38\x39\x3a\x3b\x3c", 5, kZero, true, nullptr, &error);
    pipeline.process(batch.constData(), batch.size(), offset, true, &log, &error);
    QList<int> got;
    for (const qint16 centi : pipeline.lastBatch())
        got << centi;
    QCOMPARE(got, taken);
}

void TestReadingPipeline::silenceLimit_data()
{
    QTest::addColumn<QList<qint64>>("readings"); // arrival times, ms after START
    QTest::addColumn<qint64>("limit");

    QTest::newRow("after START, before any reading") << QList<qint64>{} << qint64(3000);
    QTest::newRow("one reading: no pace yet, the least limit") << QList<qint64>{40} << qint64(2000);
    QList<qint64> tenPerSecond;
    for (int i = 0; i < 20; ++i)
        tenPerSecond << 100 * i;
    QTest::newRow("10 readings/s: ten intervals are 1 s, under the least limit")
        << tenPerSecond << qint64(2000);
    QList<qint64> slow;
    for (int i = 0; i < 20; ++i)
        slow << 500 * i;
    QTest::newRow("one every 0.5 s: ten intervals") << slow << qint64(5000);
    QList<qint64> gap = tenPerSecond;
    gap << 1900 + 4000 << 1900 + 4100;
    QTest::newRow("one long gap does not move the median") << gap << qint64(2000);
    QList<qint64> slowedDown = tenPerSecond;
    for (int i = 1; i <= 9; ++i)
        slowedDown << 1900 + 600 * i;
    QTest::newRow("a gauge that slowed down: followed once most intervals are slow")
        << slowedDown << qint64(6000);
    QList<qint64> sped = slow;
    for (int i = 1; i <= 16; ++i)
        sped << 9500 + 100 * i;
    QTest::newRow("only the last 16 intervals count") << sped << qint64(2000);
}

void TestReadingPipeline::silenceLimit()
{
    QFETCH(QList<qint64>, readings);
    QFETCH(qint64, limit);
    piezon::SilenceWatch watch;
    watch.start(0);
    for (const qint64 at : readings)
        watch.reading(at);
    QCOMPARE(watch.limitMs(), limit);
    QCOMPARE(watch.lastMs(), readings.isEmpty() ? 0 : readings.last());

    // START again on a line that came back: the pace stays, the first reading gets 3 s again, and
    // the time the line was away is no interval.
    watch.restart(100000);
    QCOMPARE(watch.limitMs(), qint64(3000));
    watch.reading(100050);
    QCOMPARE(watch.limitMs(), readings.size() < 2 ? qint64(2000) : limit);
}

QTEST_GUILESS_MAIN(TestReadingPipeline)
#include "test_reading_pipeline.moc"
