// The measurement log as the operator gets it: records written by real sessions over a
// pseudo-terminal line, byte for byte, and what happens when the log cannot be written.

#include "gauge/gauge_commands.h"
#include "gauge/gauge_session.h"
#include "gauge/reading_chain.h"
#include "log/companion_row.h"
#include "support/window_session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using piezon::testing::WindowSession;

namespace
{

// "  Погрешность" and "     кгс/cм2\r\n" in Windows-1251, written out independently of the code.
const QByteArray kLabel("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC");
const QByteArray kUnit("     \xEA\xE3\xF1/c\xEC"
                       "2\r\n");

QByteArray rec(const char* offset, const char* caption)
{
    return kLabel + offset + "    |    " + caption + kUnit;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

QByteArray startStop()
{
    return piezon::startCommand() + piezon::stopCommand() + piezon::stopCommand();
}

} // namespace

class LogSessionTest : public QObject
{
    Q_OBJECT

private:
    // Sends readings and waits until the log holds what is expected (or the wait gives up).
    static void feedAndExpect(WindowSession& s, const QByteArray& readings,
                              const QByteArray& expected)
    {
        QVERIFY(s.line.write(readings));
        QTRY_COMPARE(s.logBytes(), expected);
        // Nothing more arrives late.
        QTest::qWait(50);
        QCOMPARE(s.logBytes(), expected);
    }

private slots:
    void recordsBothModes_data()
    {
        QTest::addColumn<bool>("russian");
        QTest::addColumn<QString>("offset");
        QTest::addColumn<bool>("allData");
        QTest::addColumn<QByteArray>("readings");
        QTest::addColumn<QByteArray>("expected");

        // 100 -> 2.73, 56 and 57 -> 1.6, 255 -> 8, 0 -> 0
        const QByteArray seq = bytes({100, 100, 56, 57, 255, 0});
        QTest::newRow("every reading, offset 0")
            << false << "     0" << true << seq
            << rec("     0", "2.73") + rec("     0", "2.73") + rec("     0", "1.6") +
                   rec("     0", "1.6") + rec("     0", "8") + rec("     0", "0");
        QTest::newRow("changes only, offset 0") << false << "     0" << false << seq
                                                << rec("     0", "2.73") + rec("     0", "1.6") +
                                                       rec("     0", "8") + rec("     0", "0");
        QTest::newRow("every reading, offset -30")
            << false << "   -30" << true << bytes({0, 255})
            << rec("   -30", "-0.94") + rec("   -30", "7.06");
        QTest::newRow("changes only, offset 30")
            << false << "    30" << false << bytes({255, 255, 0})
            << rec("    30", "8.94") + rec("    30", "0.94");
        QTest::newRow("Russian locale writes a comma")
            << true << "     0" << true << bytes({100, 56, 255})
            << rec("     0", "2,73") + rec("     0", "1,6") + rec("     0", "8");
    }

    void recordsBothModes()
    {
        QFETCH(bool, russian);
        QFETCH(QString, offset);
        QFETCH(bool, allData);
        QFETCH(QByteArray, readings);
        QFETCH(QByteArray, expected);

        WindowSession s(russian ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale::c());
        QVERIFY(s.form);
        s.form->Combo1->setCurrentText(offset);
        QCOMPARE(s.form->Combo1->currentText(), offset);
        s.form->Check1->setChecked(allData);
        s.start();
        QVERIFY(s.running());
        QCOMPARE(s.logBytes(), QByteArray());
        feedAndExpect(s, readings, expected);
        s.form->Command2_Click();
        QCOMPARE(s.logBytes(), expected);
        QVERIFY(s.reporter.messages.isEmpty());

        // Beside it, whatever the mode, a row for every byte sent, with what the reading chain
        // itself makes of it, between START and STOP.
        const QChar separator = russian ? QLatin1Char(',') : QLatin1Char('.');
        const QList<QStringList> rows = s.companionRows();
        QCOMPARE(rows.size(), readings.size() + 2);
        QCOMPARE(rows.first().value(6), QStringLiteral("СТАРТ"));
        QCOMPARE(rows.first().value(1), QStringLiteral("0"));
        QCOMPARE(rows.last().value(6), QStringLiteral("СТОП"));
        const QRegularExpression time(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"));
        qint64 lastMs = 0;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QStringList& row = rows[i];
            QCOMPARE(row.size(), 7);
            QVERIFY2(time.match(row[0]).hasMatch(), qPrintable(row[0]));
            QVERIFY(row[1].toLongLong() >= lastMs);
            lastMs = row[1].toLongLong();
            if (i == 0 || i == rows.size() - 1)
                continue;
            const quint8 byte = quint8(readings[i - 1]);
            const auto reading = piezon::computeReading(byte, offset, separator);
            QCOMPARE(row.mid(2), QStringList({QString::number(byte),
                                              QString::number(qRound(reading->corrected)),
                                              QString::number(*piezon::parseOffset(offset)),
                                              reading->caption, QString()}));
        }
    }

    // A gauge whose line stays open but that falls silent: shown as such once its pace allows
    // no more, live again with its next reading, and the silence in the companion record once,
    // with its length, before that reading.
    void silentGaugeIsShownAndRecorded()
    {
        WindowSession s(QLocale(QLocale::Russian, QLocale::Russia));
        QVERIFY(s.form);
        s.start();
        QVERIFY(s.running());
        piezon::GaugeSession& session = s.form->MSComm1();
        // Ten readings a second for a second and a half.
        for (int i = 0; i < 15; ++i) {
            QVERIFY(s.line.write(bytes({100})));
            QTest::qWait(100);
        }
        QTRY_COMPARE(s.companionRows().size(), 16);
        QElapsedTimer silence;
        silence.start();
        // Well inside the limit (2 s at this pace) it is no silence yet.
        QTest::qWait(1200);
        QVERIFY(!session.isSilent());
        QCOMPARE(s.form->windowTitle(), QStringLiteral("Пьезон для RX418"));
        QTRY_VERIFY_WITH_TIMEOUT(session.isSilent(), 2000);
        QCOMPARE(s.form->windowTitle(), QStringLiteral("Пьезон для RX418 — нет данных"));
        QVERIFY(session.isStale());
        // The silence lasts four seconds in all; nothing is recorded meanwhile.
        QTest::qWait(int(4000 - silence.elapsed()));
        QCOMPARE(s.companionRows().size(), 16);
        QVERIFY(s.line.write(bytes({56})));
        QTRY_VERIFY(!session.isSilent());
        QCOMPARE(s.form->windowTitle(), QStringLiteral("Пьезон для RX418"));
        QVERIFY(!session.isStale());
        s.form->Command2_Click();

        const QList<QStringList> rows = s.companionRows();
        QCOMPARE(rows.size(), 19);
        QStringList silences;
        for (const QStringList& row : rows) {
            if (row.value(6).startsWith(QStringLiteral("нет данных")))
                silences << row.value(6);
        }
        QCOMPARE(silences.size(), 1);
        const QStringList& silent = rows[16];
        const QRegularExpression said(QStringLiteral("^нет данных (\\d+),(\\d) с$"));
        const QRegularExpressionMatch m = said.match(silent.value(6));
        QVERIFY2(m.hasMatch(), qPrintable(silent.value(6)));
        const double seconds = m.captured(1).toDouble() + m.captured(2).toDouble() / 10;
        QVERIFY2(seconds >= 3.7 && seconds <= 4.3, qPrintable(silent.value(6)));
        // The time of the reading that ended it, and the reading right after.
        QCOMPARE(silent.mid(0, 2), rows[17].mid(0, 2));
        QCOMPARE(rows[17].value(2), QStringLiteral("56"));
        QCOMPARE(rows[18].value(6), QStringLiteral("СТОП"));
        QCOMPARE(s.logBytes(),
                 QByteArray(rec("     0", "2,73").repeated(15) + rec("     0", "1,6")));
    }

    // The companion record notes the log mode's changes during a session, and a record another
    // program keeps (here: a folder in its place) costs no START: the log is written as ever.
    void companionEventsAndAMissingRecord()
    {
        {
            WindowSession s;
            QVERIFY(s.form);
            s.start();
            QVERIFY(s.running());
            s.form->Check1->setChecked(false);
            s.form->Check1->setChecked(true);
            s.form->Command2_Click();
            QCOMPARE(
                s.companionEvents(),
                QStringList({QStringLiteral("СТАРТ"), QStringLiteral("режим журнала: изменения"),
                             QStringLiteral("режим журнала: все"), QStringLiteral("СТОП")}));
        }
        WindowSession s;
        QVERIFY(s.form);
        QVERIFY(QDir().mkdir(s.companionPath()));
        s.start();
        QVERIFY(s.running());
        QCOMPARE(s.reporter.notices.size(), 1);
        QVERIFY2(s.reporter.notices.first().contains(QStringLiteral("Пьезон_RX418.csv")),
                 qPrintable(s.reporter.notices.first()));
        feedAndExpect(s, bytes({100}), rec("     0", "2.73"));
        s.form->Command2_Click();
        QVERIFY(s.reporter.messages.isEmpty());
        QVERIFY(QFileInfo(s.companionPath()).isDir());
    }

    void modeAndOffsetChangesTakeEffectAtNextReading()
    {
        WindowSession s;
        s.form->Check1->setChecked(false);
        s.start();
        feedAndExpect(s, bytes({100, 100}), rec("     0", "2.73"));
        // An offset change alone records nothing until it changes the shown text.
        s.form->Combo1->setCurrentText("     1");
        feedAndExpect(s, bytes({100}), rec("     0", "2.73") + rec("     1", "2.76"));
        s.form->Check1->setChecked(true);
        feedAndExpect(s, bytes({100}),
                      rec("     0", "2.73") + rec("     1", "2.76") + rec("     1", "2.76"));
    }

    void everySessionStartsWithItsFirstReading()
    {
        WindowSession s;
        s.form->Check1->setChecked(false);
        s.start();
        feedAndExpect(s, bytes({100}), rec("     0", "2.73"));
        s.form->Command2_Click();
        s.start();
        QCOMPARE(s.logBytes(), QByteArray()); // emptied by START
        feedAndExpect(s, bytes({100}), rec("     0", "2.73"));
    }

    // START begins a new log, but the last session that recorded anything stays, byte for byte,
    // beside it; a session without readings pushes nothing out.
    void theLastSessionWithReadingsIsKept()
    {
        WindowSession s;
        const QString previous = s.dir.filePath(QStringLiteral("Пьезон_RX418_предыдущий.log"));
        const auto previousBytes = [&] {
            QFile f(previous);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
        };
        const QByteArray first = rec("     0", "2.73") + rec("     0", "1.6");
        s.start();
        QCOMPARE(previousBytes(), QByteArray("<none>")); // a first log has nothing to keep
        feedAndExpect(s, bytes({100, 56}), first);
        s.form->Command2_Click();

        s.start();
        QVERIFY(s.running());
        QCOMPARE(s.logBytes(), QByteArray());
        QCOMPARE(previousBytes(), first);
        s.form->Command2_Click(); // a session without readings
        s.start();
        QCOMPARE(previousBytes(), first);
        feedAndExpect(s, bytes({255, 255}), rec("     0", "8") + rec("     0", "8"));
        s.form->Command2_Click();
        s.start();
        QCOMPARE(previousBytes(), rec("     0", "8") + rec("     0", "8"));
        s.form->Command2_Click();
        QVERIFY(s.reporter.messages.isEmpty());
        QCOMPARE(QDir(s.dir.path()).entryList({QStringLiteral("*.new")}, QDir::Files),
                 QStringList());
    }

    void logThatCannotBlockTheWindowIsRefused_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to a FIFO elsewhere") << "link";
        QTest::newRow("socket") << "socket";
    }

    // Opening a FIFO for writing waits for a reader: the window would freeze inside START.
    void logThatCannotBlockTheWindowIsRefused()
    {
        QFETCH(QString, what);
        WindowSession s;
        const QByteArray log = QFile::encodeName(s.logPath());
        const QByteArray elsewhere = QFile::encodeName(s.dir.filePath(QStringLiteral("pipe")));
        int listening = -1;
        if (what == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(log.constData(), 0666), 0);
        } else if (what == QLatin1String("link")) {
            QCOMPARE(::mkfifo(elsewhere.constData(), 0666), 0);
            QCOMPARE(::symlink(elsewhere.constData(), log.constData()), 0);
        } else {
            listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(size_t(log.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, log.constData(), size_t(log.size()));
            QCOMPARE(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        }
        s.start(); // returns: nothing waits for a partner
        if (listening >= 0)
            ::close(listening);
        QVERIFY(!s.running());
        QCOMPARE(s.reporter.messages.size(), 1);
        QVERIFY2(s.reporter.messages.first().contains(QStringLiteral("не обычный файл")),
                 qPrintable(s.reporter.messages.first()));
        QVERIFY(s.reporter.messages.first().contains(QDir::toNativeSeparators(s.logPath())));
        QCOMPARE(s.line.readAvailable(300), QByteArray()); // the gauge is told nothing
        // The window goes on: F5 and F6 still work, and another START is refused the same way.
        QTest::keyClick(s.form.get(), Qt::Key_F6);
        QVERIFY(!s.form->Check1->isChecked());
        s.start();
        QCOMPARE(s.reporter.messages.size(), 2);
        QVERIFY(s.form->Combo2->isEnabled());
    }

    void startAndStopGuardsLeaveTheFileAlone()
    {
        WindowSession s;
        {
            QFile old(s.logPath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("earlier run\r\n");
        }
        s.form->Command2_Click(); // STOP without a session
        QCOMPARE(s.logBytes(), QByteArray("earlier run\r\n"));

        s.start();
        feedAndExpect(s, bytes({255}), rec("     0", "8"));
        s.start(); // START while running: same log, untouched
        QCOMPARE(s.logBytes(), rec("     0", "8"));
        feedAndExpect(s, bytes({255}), rec("     0", "8") + rec("     0", "8"));
        s.form->Command2_Click();
        s.form->Command2_Click();
        QCOMPARE(s.logBytes(), rec("     0", "8") + rec("     0", "8"));
        QCOMPARE(s.line.readAvailable(1000), startStop());
    }

    void logThatCannotBeCreatedEndsTheStart()
    {
        WindowSession s;
        QVERIFY(QDir().mkdir(s.logPath())); // a folder where the file should go
        s.start();
        QVERIFY(!s.running());
        QVERIFY(s.form->Combo2->isEnabled());
        QCOMPARE(s.reporter.messages.size(), 1);
        QVERIFY(s.reporter.messages.first().contains(QStringLiteral("журнала")));
        // Found out before the gauge was disturbed: it is told nothing.
        QCOMPARE(s.line.readAvailable(1000), QByteArray());
    }

    // The last session's records cannot be kept aside: START is refused before the gauge is
    // told anything (no START to take back with STOP), and both files stay as they were.
    void lastSessionThatCannotBeKeptCostsTheGaugeNothing()
    {
        WindowSession s;
        // A folder with a file in it, where the previous log would go: no rename replaces it.
        const QString previousPath = s.dir.filePath(QStringLiteral("Пьезон_RX418_предыдущий.log"));
        QVERIFY(QDir().mkdir(previousPath));
        QFile inside(previousPath + QStringLiteral("/kept.txt"));
        QVERIFY(inside.open(QIODevice::WriteOnly));
        inside.close();
        {
            QFile old(s.logPath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("earlier run\r\n");
        }
        s.start();
        QVERIFY(!s.running());
        QVERIFY(s.form->Combo2->isEnabled());
        QCOMPARE(s.reporter.messages.size(), 1);
        QVERIFY2(s.reporter.messages.first().contains(QStringLiteral("предыдущий")),
                 qPrintable(s.reporter.messages.first()));
        QCOMPARE(s.line.readAvailable(1000), QByteArray());
        QCOMPARE(s.logBytes(), QByteArray("earlier run\r\n"));
        QVERIFY(QFileInfo(previousPath).isDir());
        // Put right, the same START goes ahead: the records move aside, the gauge hears START.
        QVERIFY(QDir(previousPath).removeRecursively());
        s.start();
        QVERIFY(s.running());
        QCOMPARE(s.line.readAvailable(1000), piezon::startCommand());
        QCOMPARE(s.logBytes(), QByteArray());
        QFile kept(previousPath);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("earlier run\r\n"));
    }

    void writeFailureEndsTheSessionOnce_data()
    {
        QTest::addColumn<int>("recordsThatFit");
        QTest::addColumn<bool>("allData");
        QTest::addColumn<QByteArray>("readings");
        QTest::addColumn<QByteArray>("kept");
        // The window after the failure: the failed reading's caption, the needle where the
        // reading before it left it (87 is 100 corrected).
        QTest::addColumn<QString>("caption");
        QTest::addColumn<double>("needle");

        // 100, 12, 100, 12, ... : every caption differs from the one before.
        const QByteArray alternating = bytes({100, 12, 100, 12, 100, 12});
        QTest::newRow("disk full at the first record")
            << 0 << true << alternating << QByteArray() << "2.73" << 0.0;
        QTest::newRow("disk full after three records")
            << 3 << true << alternating
            << rec("     0", "2.73") + rec("     0", "0.35") + rec("     0", "2.73") << "0.35"
            << 87.0;
        // The fifth reading has no record and is done; the sixth is the one torn. (Fewer
        // records would not leave room for the port's lock file.)
        QTest::newRow("changes only, disk full after three records")
            << 3 << false << bytes({100, 100, 12, 100, 100, 12})
            << rec("     0", "2.73") + rec("     0", "0.35") + rec("     0", "2.73") << "0.35"
            << 87.0;
    }

    // The readings usually come as one batch, written at once: what stays in the file and what
    // the window shows are as if they had come one by one.
    void writeFailureEndsTheSessionOnce()
    {
        QFETCH(int, recordsThatFit);
        QFETCH(bool, allData);
        QFETCH(QByteArray, readings);
        QFETCH(QByteArray, kept);
        QFETCH(QString, caption);
        QFETCH(double, needle);
        WindowSession s;
        // The log's own failure, without the companion record's beside it (a folder in its place
        // keeps it out of the session).
        QVERIFY(QDir().mkdir(piezon::companion::pathBeside(s.logPath())));
        const qint64 recordSize = rec("     0", "2.73").size();
        rlimit saved{};
        if (recordsThatFit == 0) {
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), s.logPath()));
        } else {
            // The file may grow to three records and part of a fourth, like a disk filling up.
            ::getrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = static_cast<rlim_t>(recordsThatFit * recordSize + 10);
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        s.form->Check1->setChecked(allData);
        s.start();
        QVERIFY(s.running());
        QSignalSpy stopped(&s.form->MSComm1(), &piezon::GaugeSession::runningChanged);
        QVERIFY(s.line.write(readings));
        QTRY_VERIFY(!s.running());
        if (recordsThatFit > 0)
            ::setrlimit(RLIMIT_FSIZE, &saved);
        QTest::qWait(100);
        QCOMPARE(s.reporter.messages.size(), 1);
        QVERIFY(s.reporter.messages.first().contains(QStringLiteral("журнал")));
        QCOMPARE(stopped.size(), 1);
        QVERIFY(s.form->Combo2->isEnabled());
        QCOMPARE(s.line.readAvailable(1000), startStop());
        if (recordsThatFit > 0)
            QCOMPARE(s.logBytes(), kept);
        s.form->flushDisplay();
        QCOMPARE(s.form->Label1->text(), caption);
        QCOMPARE(s.form->MSComm1().pipeline().needleReading(), needle);
    }
};

QTEST_MAIN(LogSessionTest)
#include "test_log_session.moc"
