#include "gauge/gauge_commands.h"
#include "log/companion_row.h"
#include "log/log_file.h"
#include "log/log_record.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using piezon::buildLogRecord;
using piezon::logFileName;
using piezon::logFilePath;

namespace
{

// Converts UTF-8 text to Windows-1251 with the system's own converter, so the expected bytes do
// not come from the same hands as the code under test. Empty result means no converter.
QByteArray toWindows1251(const QString& text, QString* failure)
{
    const QString iconv = QStandardPaths::findExecutable(QStringLiteral("iconv"));
    if (iconv.isEmpty())
        return {};
    QProcess process;
    process.start(iconv, {QStringLiteral("-f"), QStringLiteral("UTF-8"), QStringLiteral("-t"),
                          QStringLiteral("WINDOWS-1251")});
    if (!process.waitForStarted()) {
        *failure = process.errorString();
        return {};
    }
    process.write(text.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *failure = QString::fromLocal8Bit(process.readAllStandardError());
        return {};
    }
    return process.readAllStandardOutput();
}

// The folder as Windows reports it, then "\" and the name, nothing tested or taken away.
void addWindowsFolders()
{
    QTest::newRow("plain folder") << "C:/Пьезон RX418"
                                  << QStringLiteral("C:\\Пьезон RX418\\Пьезон_RX418.log");
    QTest::newRow("drive root") << "C:/" << QStringLiteral("C:\\\\Пьезон_RX418.log");
    QTest::newRow("network share")
        << "//server/share/piezon" << QStringLiteral("\\\\server\\share\\piezon\\Пьезон_RX418.log");
}

bool haveIconv()
{
    return !QStandardPaths::findExecutable(QStringLiteral("iconv")).isEmpty();
}

} // namespace

class TestLogRecord : public QObject
{
    Q_OBJECT

private slots:
    void exactBytes_data();
    void exactBytes();

    void matchesSystemConverter_data();
    void matchesSystemConverter();

    void nonAsciiBecomesQuestionMark_data();
    void nonAsciiBecomesQuestionMark();

    void recordLengthAndUnitLetters();

    void gaugeCommandsMatchSystemConverter_data();
    void gaugeCommandsMatchSystemConverter();

    void windowsJoin_data();
    void windowsJoin();
    void windowsFilePath_data();
    void windowsFilePath();

    void logPath_data();
    void logPath();
    void doubledBackslashOpensTheSameFile();
    void fileNameOnDiskIsUtf8();

    void companionRows();
    void companionSilence_data();
    void companionSilence();
    void companionHoldsReading_data();
    void companionHoldsReading();
};

void TestLogRecord::exactBytes_data()
{
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("offset 0, 3.45")
        << "     0"
        << "3.45"
        << QByteArray("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC     0    |    3.45     "
                      "\xEA\xE3\xF1/c\xEC"
                      "2\r\n");
    QTest::newRow("offset -30, negative reading")
        << "   -30"
        << "-0.94"
        << QByteArray("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC   -30    |    -0.94     "
                      "\xEA\xE3\xF1/c\xEC"
                      "2\r\n");
    QTest::newRow("offset 30, whole reading")
        << "    30"
        << "8"
        << QByteArray("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC    30    |    8     "
                      "\xEA\xE3\xF1/c\xEC"
                      "2\r\n");
    QTest::newRow("comma separator")
        << "     0"
        << "2,73"
        << QByteArray("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC     0    |    2,73     "
                      "\xEA\xE3\xF1/c\xEC"
                      "2\r\n");
}

void TestLogRecord::exactBytes()
{
    QFETCH(QString, offset);
    QFETCH(QString, caption);
    QFETCH(QByteArray, bytes);
    QCOMPARE(buildLogRecord(offset, caption), bytes);
}

void TestLogRecord::matchesSystemConverter_data()
{
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QString>("caption");

    QTest::newRow("offset 0, 3.45") << "     0"
                                    << "3.45";
    QTest::newRow("offset -30, -0.94") << "   -30"
                                       << "-0.94";
    QTest::newRow("offset 30, 8.94") << "    30"
                                     << "8.94";
    QTest::newRow("comma") << "    -1"
                           << "0,03";
}

void TestLogRecord::matchesSystemConverter()
{
    QFETCH(QString, offset);
    QFETCH(QString, caption);
    if (!haveIconv())
        QSKIP("iconv is not installed");

    // The letter after the slash is a Latin c.
    const QString text = QStringLiteral("  Погрешность") + offset + QStringLiteral("    |    ") +
                         caption + QStringLiteral("     кгс/cм2\r\n");
    QString failure;
    const QByteArray expected = toWindows1251(text, &failure);
    QVERIFY2(!expected.isEmpty(), qPrintable(failure));
    QCOMPARE(expected.size(), text.size());
    QCOMPARE(buildLogRecord(offset, caption), expected);
}

void TestLogRecord::nonAsciiBecomesQuestionMark_data()
{
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QByteArray>("offsetBytes");
    QTest::addColumn<QByteArray>("captionBytes");

    QTest::newRow("Arabic decimal separator in the caption")
        << "     0" << QStringLiteral("2\u066B73") << QByteArray("     0") << QByteArray("2?73");
    QTest::newRow("minus sign character in the offset")
        << QStringLiteral("   \u221230") << "-0.94" << QByteArray("   ?30") << QByteArray("-0.94");
    QTest::newRow("Cyrillic letters") << QStringLiteral("ноль") << QStringLiteral("нет")
                                      << QByteArray("????") << QByteArray("???");
    QTest::newRow("Latin-1 letter")
        << "     0" << QStringLiteral("\u00E9") << QByteArray("     0") << QByteArray("?");
}

void TestLogRecord::nonAsciiBecomesQuestionMark()
{
    QFETCH(QString, offset);
    QFETCH(QString, caption);
    QFETCH(QByteArray, offsetBytes);
    QFETCH(QByteArray, captionBytes);

    const QByteArray expected = QByteArray("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC") +
                                offsetBytes + "    |    " + captionBytes +
                                "     \xEA\xE3\xF1/c\xEC" + "2\r\n";
    QCOMPARE(buildLogRecord(offset, caption), expected);
}

void TestLogRecord::recordLengthAndUnitLetters()
{
    const QByteArray record = buildLogRecord(QStringLiteral("     0"), QStringLiteral("3.45"));
    QCOMPARE(record.size(), 44 + 2);
    QVERIFY(record.endsWith("\r\n"));
    QCOMPARE(record.count('\r'), 1);
    QCOMPARE(record.count('\n'), 1);

    // The offset's five blanks follow the word directly.
    QVERIFY(record.startsWith("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC     0    |"));

    const qsizetype slash = record.indexOf('/');
    QVERIFY(slash > 0);
    QCOMPARE(static_cast<quint8>(record.at(slash - 1)), quint8(0xF1)); // Cyrillic es
    QCOMPARE(static_cast<quint8>(record.at(slash + 1)), quint8(0x63)); // Latin c
}

void TestLogRecord::gaugeCommandsMatchSystemConverter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("command");

    QTest::newRow("start") << QStringLiteral("ZKW5kqTwuжrщbЮON") << piezon::startCommand();
    QTest::newRow("stop") << QStringLiteral("ZKWtRgшфpzH^ЖOFF") << piezon::stopCommand();
}

void TestLogRecord::gaugeCommandsMatchSystemConverter()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, command);
    QCOMPARE(command.size(), 16);
    if (!haveIconv())
        QSKIP("iconv is not installed");

    QString failure;
    const QByteArray expected = toWindows1251(text, &failure);
    QVERIFY2(!expected.isEmpty(), qPrintable(failure));
    QCOMPARE(expected.size(), 16);
    QCOMPARE(command, expected);
}

void TestLogRecord::windowsJoin_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    addWindowsFolders();
}

void TestLogRecord::windowsJoin()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(piezon::joinedWithBackslash(folder), path);
}

void TestLogRecord::windowsFilePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("system");

    // A folder name of 240 letters puts the log (17 more) just short of MAX_PATH at a drive root
    // and beyond it one level deeper; the previous log (11 more) is beyond it either way.
    const QString deep(240, QLatin1Char('a'));
    const QString log = QStringLiteral("Пьезон_RX418.log");
    const QString previous = QStringLiteral("Пьезон_RX418_предыдущий.log");
    const QString x259 = QStringLiteral("C:\\") + QString(256, QLatin1Char('b'));
    QTest::newRow("short: only backslashes")
        << "C:/Пьезон RX418/" + log << QStringLiteral("C:\\Пьезон RX418\\") + log;
    QTest::newRow("short at a drive root: the doubled backslash Windows accepts")
        << QStringLiteral("C:\\\\") + log << QStringLiteral("C:\\\\") + log;
    QTest::newRow("259 characters still fit") << x259 << x259;
    QTest::newRow("260 do not") << x259 + QLatin1Char('c')
                                << QStringLiteral("\\\\?\\") + x259 + QLatin1Char('c');
    QTest::newRow("long: a doubled backslash, as after a drive root, made one")
        << QStringLiteral("C:\\") + deep + QStringLiteral("\\\\") + previous
        << QStringLiteral("\\\\?\\C:\\") + deep + QLatin1Char('\\') + previous;
    QTest::newRow("long: as Qt spells it, forward slashes")
        << QStringLiteral("D:/Пьезон/") + deep + QLatin1Char('/') + log
        << QStringLiteral("\\\\?\\D:\\Пьезон\\") + deep + QLatin1Char('\\') + log;
    QTest::newRow("long: . and .. taken away, as the system would")
        << QStringLiteral("c:\\x\\.\\y\\..\\") + deep + QLatin1Char('\\') + log
        << QStringLiteral("\\\\?\\c:\\x\\") + deep + QLatin1Char('\\') + log;
    QTest::newRow("long: .. at the root stays at the root")
        << QStringLiteral("C:\\..\\") + deep + QLatin1Char('\\') + log
        << QStringLiteral("\\\\?\\C:\\") + deep + QLatin1Char('\\') + log;
    QTest::newRow("long: a share")
        << QStringLiteral("\\\\server\\share\\") + deep + QLatin1Char('\\') + log
        << QStringLiteral("\\\\?\\UNC\\server\\share\\") + deep + QLatin1Char('\\') + log;
    QTest::newRow("long: a share as Qt spells it; .. never climbs above it")
        << QStringLiteral("//server/share/../") + deep + QLatin1Char('/') + log
        << QStringLiteral("\\\\?\\UNC\\server\\share\\") + deep + QLatin1Char('\\') + log;
    const QString extended = QStringLiteral("\\\\?\\C:\\") + deep + QStringLiteral("\\.\\") + log;
    QTest::newRow("long, already extended: taken literally") << extended << extended;
    QTest::newRow("long but relative: nothing to extend")
        << deep + QLatin1Char('/') + deep << deep + QLatin1Char('\\') + deep;
}

void TestLogRecord::windowsFilePath()
{
    QFETCH(QString, path);
    QFETCH(QString, system);
    QCOMPARE(piezon::windowsFilePath(path), system);
}

void TestLogRecord::logPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");

#ifdef Q_OS_WIN
    addWindowsFolders();
#else
    QTest::newRow("plain folder") << "/opt/piezon"
                                  << QStringLiteral("/opt/piezon/Пьезон_RX418.log");
    QTest::newRow("folder with trailing slash")
        << "/opt/piezon/" << QStringLiteral("/opt/piezon/Пьезон_RX418.log");
    QTest::newRow("file-system root") << "/" << QStringLiteral("/Пьезон_RX418.log");
#endif
}

void TestLogRecord::logPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(logFilePath(folder), path);
}

// Windows takes "C:\\Пьезон_RX418.log" from a program at a drive root: a doubled backslash
// must reach a real file, the one with the single backslash.
void TestLogRecord::doubledBackslashOpensTheSameFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QDir::toNativeSeparators(dir.path());
    const QString doubled = folder + QStringLiteral("\\\\") + logFileName();
#ifndef Q_OS_WIN
    QSKIP("a backslash is an ordinary character in a Unix file name");
#endif
    QFile file(doubled);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    QCOMPARE(file.write("x\r\n"), qint64(3));
    file.close();
    QFile single(dir.filePath(logFileName()));
    QVERIFY(single.open(QIODevice::ReadOnly));
    QCOMPARE(single.readAll(), QByteArray("x\r\n"));
}

void TestLogRecord::fileNameOnDiskIsUtf8()
{
#ifdef Q_OS_WIN
    QSKIP("Windows keeps file names in UTF-16");
#endif
    const QByteArray utf8("\xD0\x9F\xD1\x8C\xD0\xB5\xD0\xB7\xD0\xBE\xD0\xBD_RX418.log");
    QCOMPARE(logFileName().toUtf8(), utf8);
    QCOMPARE(QFile::encodeName(logFilePath(QStringLiteral("/tmp"))), QByteArray("/tmp/") + utf8);
}

void TestLogRecord::companionRows()
{
    namespace companion = piezon::companion;
    // What a Russian spreadsheet needs to open it by double-click: the UTF-8 mark, ';' and CR LF;
    // the unit with the Cyrillic "с" (D1 81), unlike the log's Latin one.
    QCOMPARE(companion::header(),
             QByteArray("\xEF\xBB\xBF\xD0\xB2\xD1\x80\xD0\xB5\xD0\xBC\xD1\x8F;\xD0\xBC\xD1\x81;"
                        "\xD0\xB1\xD0\xB0\xD0\xB9\xD1\x82;") +
                 QStringLiteral("показание;погрешность;кг").toUtf8() + "\xD1\x81/\xD1\x81\xD0\xBC" +
                 QStringLiteral("2;событие").toUtf8() + "\r\n");
    // Every field of the time zero-padded; milliseconds since START are not.
    const QByteArray stamp =
        companion::stamp(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6)), 1234567);
    QCOMPARE(stamp, QByteArray("2026-01-02 03:04:05.006;1234567;"));
    QCOMPARE(companion::readingFields(7, -23, -30, QStringLiteral("-0,72")),
             QByteArray("7;-23;-30;-0,72;\r\n"));
    QCOMPARE(companion::eventRow(stamp, companion::event::kLineBack),
             stamp + ";;;;" + QStringLiteral("линия восстановлена").toUtf8() + "\r\n");
    QCOMPARE(companion::pathBeside(QStringLiteral("C:\\Пьезон\\Пьезон_RX418.log")),
             QStringLiteral("C:\\Пьезон\\Пьезон_RX418.csv"));
    QCOMPARE(piezon::previousLogPath(companion::pathBeside(QStringLiteral("/x/Пьезон_RX418.log"))),
             QStringLiteral("/x/Пьезон_RX418_предыдущий.csv"));
}

void TestLogRecord::companionSilence_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("text");
    QTest::newRow("4 s, comma") << qint64(4000) << QChar(u',')
                                << QStringLiteral("нет данных 4,0 с");
    QTest::newRow("rounded up at the half")
        << qint64(3950) << QChar(u'.') << QStringLiteral("нет данных 4.0 с");
    QTest::newRow("rounded down below it")
        << qint64(2049) << QChar(u',') << QStringLiteral("нет данных 2,0 с");
    QTest::newRow("a long one") << qint64(3723456) << QChar(u',')
                                << QStringLiteral("нет данных 3723,5 с");
}

void TestLogRecord::companionSilence()
{
    QFETCH(qint64, ms);
    QFETCH(QChar, separator);
    QFETCH(QString, text);
    QCOMPARE(piezon::companion::silenceEvent(ms, separator), text);
}

void TestLogRecord::companionHoldsReading_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("holds");
    const QByteArray header = piezon::companion::header();
    const QByteArray start =
        "2026-12-08 10:00:00.000;0;;;;" + QStringLiteral("СТАРТ").toUtf8() + "\r\n";
    const QByteArray reading = "2026-12-08 10:00:00.100;100;17;15;0;0,47;\r\n";
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("the header alone") << header << false;
    QTest::newRow("events only") << header + start + start << false;
    QTest::newRow("a reading") << header + start + reading << true;
    QTest::newRow("a reading with no line end yet") << header + start + reading.chopped(2) << true;
    QTest::newRow("byte 0") << header +
                                   QByteArray("2026-12-08 10:00:00.100;100;0;-30;-30;-0,94;\r\n")
                            << true;
}

void TestLogRecord::companionHoldsReading()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, holds);
    QCOMPARE(piezon::companion::holdsReading(text), holds);
}

QTEST_GUILESS_MAIN(TestLogRecord)
#include "test_log_record.moc"
