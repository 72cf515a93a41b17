#include "gauge/reading_pipeline.h"
#include "log/measurement_log.h"

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
    QVERIFY2(file.open(logPath(), &error), qPrintable(error));
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

    QVERIFY(file.open(logPath(), &error));
    QCOMPARE(pipeline.process(100, kZero, false, &file, &error), ReadingPipeline::Result::Shown);
    QCOMPARE(pipeline.process(255, kZero, false, &file, &error), ReadingPipeline::Result::Shown);
    file.close();
    QCOMPARE(readAll(logPath()), record("     0", "2.73") + record("     0", "8"));

    // Same caption as the last one of the earlier log, yet it opens the new log.
    QVERIFY(file.open(logPath(), &error));
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
    QVERIFY(first.open(logPath(QStringLiteral("first.log")), &error));
    QCOMPARE(pipeline.process(255, kZero, false, &first, &error), ReadingPipeline::Result::Shown);
    const Line needleBefore = pipeline.needle();
    QCOMPARE(pipeline.needleReading(), 255.0);

    MeasurementLog full;
    QVERIFY2(full.open(QStringLiteral("/dev/full"), &error), qPrintable(error));
    error.clear();
    QCOMPARE(pipeline.process(100, kZero, false, &full, &error),
             ReadingPipeline::Result::LogFailed);
    QVERIFY(!error.isEmpty());
    QCOMPARE(pipeline.caption(), QStringLiteral("2.73"));
    QVERIFY(sameLine(pipeline.needle(), needleBefore));
    QCOMPARE(pipeline.needleReading(), 255.0);

    // "2.73" never became the previous caption, so it is still news in the changes-only mode.
    MeasurementLog second;
    QVERIFY(second.open(logPath(QStringLiteral("second.log")), &error));
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
    QVERIFY(file.open(logPath(), &error));

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

QTEST_GUILESS_MAIN(TestReadingPipeline)
#include "test_reading_pipeline.moc"
