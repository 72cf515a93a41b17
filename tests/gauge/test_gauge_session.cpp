// The gauge session over a real pseudo-terminal line: what goes out on the wire, which received
// bytes become readings, and what the operator sees when a port cannot be had or the line drops.

#include "dial/needle_view.h"
#include "gauge/gauge_commands.h"
#include "gauge/port_mapping.h"
#include "gauge/reading_chain.h"
#include "gauge/session_messages.h"
#include "log/log_record.h"
#include "support/form_probe.h"
#include "support/window_session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <clocale>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using piezon::testing::PtyPair;
using piezon::testing::WindowSession;

namespace
{

const QByteArray kStart = piezon::startCommand();
const QByteArray kStop = piezon::stopCommand();

// The log the program must write in every-reading mode for these bytes, one record each, built
// from the reading chain that has its own tests.
QByteArray logFor(const QByteArray& readings, const QString& offset = QStringLiteral("     0"))
{
    QByteArray out;
    for (const char c : readings) {
        const auto reading =
            piezon::computeReading(static_cast<quint8>(c), offset, QLatin1Char('.'));
        if (!reading)
            return "<offset is not a number>";
        out += piezon::buildLogRecord(offset, reading->caption);
    }
    return out;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

QByteArray allByteValues(bool ascending)
{
    QByteArray out;
    for (int i = 0; i < 256; ++i)
        out.append(static_cast<char>(ascending ? i : 255 - i));
    return out;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What the window shows of the reading, on its pixels: how much of the caption is drawn in the
// live white and in the grey of a reading that is not live, and the needle's colour halfway
// along it.
struct Look {
    int whiteText = 0;
    int greyText = 0;
    QColor needle;
    // Antialiased edges of white glyphs pass through the grey too; a grey caption has no white.
    bool live() const { return whiteText > 0 && needle == QColor(255, 0, 0); }
    bool stale() const { return greyText > 0 && whiteText == 0 && needle == QColor(128, 0, 0); }
    QString describe() const
    {
        return QStringLiteral("caption %1 white, %2 grey pixels; needle %3")
            .arg(whiteText)
            .arg(greyText)
            .arg(probe::describe(needle));
    }
};

Look lookOf(piezon::Form1& form)
{
    form.flushDisplay();
    const QImage image = probe::toImage(form.grab());
    Look look;
    const QRect caption = form.Label1->geometry();
    for (int y = caption.top(); y <= caption.bottom(); ++y) {
        for (int x = caption.left(); x <= caption.right(); ++x) {
            const QColor c = probe::at(image, QPointF(x + 0.5, y + 0.5));
            look.whiteText += c == QColor(255, 255, 255);
            look.greyText += c == QColor(128, 128, 128);
        }
    }
    const piezon::Line& l = form.Line1->line();
    look.needle = probe::at(image, QPointF((l.X1 + l.X2) / 30.0, (l.Y1 + l.Y2) / 30.0));
    return look;
}

// The first line of a message: the part that says what went wrong, before the system's reason.
QString headline(const QString& message)
{
    return message.section(QLatin1Char('\n'), 0, 0);
}

} // namespace

class GaugeSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void wireCarriesExactlyTheCommands_data()
    {
        QTest::addColumn<QString>("actions"); // s = START, t = STOP, in order
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("START") << "s" << kStart;
        QTest::newRow("START, STOP") << "st" << kStart + kStop + kStop;
        QTest::newRow("START twice, STOP twice") << "sstt" << kStart + kStop + kStop;
        QTest::newRow("STOP before any START") << "t" << QByteArray();
        QTest::newRow("STOP, START, STOP") << "tst" << kStart + kStop + kStop;
        QTest::newRow("two sessions") << "stst" << kStart + kStop + kStop + kStart + kStop + kStop;
    }

    // Also the controls: Combo2 is locked exactly while a session runs, Combo1 never.
    void wireCarriesExactlyTheCommands()
    {
        QFETCH(QString, actions);
        QFETCH(QByteArray, wire);

        WindowSession s;
        QVERIFY(s.form);
        for (const QChar action : actions) {
            const bool start = action == QLatin1Char('s');
            if (start)
                s.start();
            else
                s.form->Command2_Click();
            QCOMPARE(s.running(), start);
            QCOMPARE(s.form->Combo2->isEnabled(), !start);
            QVERIFY(s.form->Combo1->isEnabled());
        }
        QCOMPARE(s.line.readAvailable(wire.isEmpty() ? 200 : 2000, 100), wire);
        QVERIFY(s.reporter.messages.isEmpty());
    }

    void bytesFromBeforeTheSessionAreNotReadings_data()
    {
        QTest::addColumn<bool>("afterAnEarlierSession");
        QTest::addColumn<QByteArray>("stale");

        QTest::newRow("before the first START") << false << bytes({255, 0, 56});
        QTest::newRow("3000 bytes before the first START") << false << QByteArray(3000, '\x05');
        // A gauge that missed STOP keeps talking into the closed port.
        QTest::newRow("between STOP and the next START") << true << bytes({255, 0, 56});
    }

    void bytesFromBeforeTheSessionAreNotReadings()
    {
        QFETCH(bool, afterAnEarlierSession);
        QFETCH(QByteArray, stale);

        WindowSession s;
        QVERIFY(s.form);
        if (afterAnEarlierSession) {
            s.start();
            QVERIFY(s.line.write(bytes({12})));
            QTRY_COMPARE(s.logBytes(), logFor(bytes({12})));
            s.form->Command2_Click();
        }
        QVERIFY(s.line.write(stale));
        QTest::qWait(50); // let them reach the device before the port is opened
        s.start();
        QVERIFY(s.running());

        const QByteArray fresh = bytes({100});
        QVERIFY(s.line.write(fresh));
        QTRY_COMPARE(s.logBytes(), logFor(fresh));
        QTest::qWait(50);
        QCOMPARE(s.logBytes(), logFor(fresh));
        s.form->flushDisplay();
        QCOMPARE(s.form->Label1->text(), QStringLiteral("2.73"));
        QVERIFY(s.reporter.messages.isEmpty());
    }

    void everyByteIsOneReadingInOrder_data()
    {
        QTest::addColumn<QString>("offset");
        QTest::addColumn<QByteArray>("readings");

        QTest::newRow("0x00 to 0xFF") << "     0" << allByteValues(true);
        QTest::newRow("0xFF to 0x00") << "     0" << allByteValues(false);
        // XON/XOFF, CR/LF, and everything a terminal would take as a line-editing or signal key.
        QTest::newRow("terminal control bytes")
            << "     0"
            << bytes({0x11, 0x13, 0x0D, 0x0A, 0x7F, 0x00, 0x03, 0x04, 0x08, 0x0F, 0x12, 0x15, 0x16,
                      0x17, 0x1A, 0x1C, 0x1B, 0xFF, 0x0D, 0x0D, 0x0A, 0x0D, 0x11, 0x11, 0x13});
        QTest::newRow("one value many times") << "     0" << QByteArray(500, '\x0D');
        QTest::newRow("0x00 to 0xFF, offset -30") << "   -30" << allByteValues(true);
        {
            QByteArray noise;
            quint32 x = 12345;
            for (int i = 0; i < 2000; ++i) {
                x = x * 1103515245u + 12345u;
                noise.append(static_cast<char>(x >> 16));
            }
            QTest::newRow("2000 mixed readings in one burst") << "     0" << noise;
        }
    }

    void everyByteIsOneReadingInOrder()
    {
        QFETCH(QString, offset);
        QFETCH(QByteArray, readings);

        WindowSession s;
        QVERIFY(s.form);
        s.form->Combo1->setCurrentText(offset);
        QCOMPARE(s.form->Combo1->currentText(), offset);
        QVERIFY(s.form->Check1->isChecked());
        s.start();
        QVERIFY(s.running());

        const QByteArray expected = logFor(readings, offset);
        QVERIFY(s.line.write(readings));
        QTRY_VERIFY_WITH_TIMEOUT(s.logBytes().size() >= expected.size(), 10000);
        QCOMPARE(s.logBytes(), expected);

        const auto last =
            piezon::computeReading(static_cast<quint8>(readings.back()), offset, QLatin1Char('.'));
        s.form->flushDisplay();
        QCOMPARE(s.form->Label1->text(), last->caption);
        QCOMPARE(s.form->MSComm1().pipeline().needleReading(), last->corrected);

        s.form->Command2_Click();
        QCOMPARE(s.logBytes(), expected);
        QCOMPARE(s.line.readAvailable(2000, 100), kStart + kStop + kStop);
        QVERIFY(s.reporter.messages.isEmpty());
    }

    void portThatCannotBeOpened_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("reason"); // what the message says of it, if given
        QTest::addColumn<QByteArray>("locale");

        QTest::newRow("no device has the number") << "none"
                                                  << "  16" << QString() << QByteArray("C");
        QTest::newRow("COM1 links to nothing") << "dangling"
                                               << "   1" << QString() << QByteArray("C");
        // Not a serial line: said plainly, whatever language the system's own words are in.
        for (const QByteArray& locale : {QByteArray("C"), QByteArray("ru_RU.UTF-8")}) {
            QTest::addRow("COM1 is a plain file, %s", locale.constData())
                << "file"
                << "   1"
                << "Это не последовательный порт" << locale;
            QTest::addRow("COM1 leads to /dev/null, %s", locale.constData())
                << "null"
                << "   1"
                << "Это не последовательный порт" << locale;
            QTest::addRow("COM1 is a folder, %s", locale.constData())
                << "folder"
                << "   1"
                << "Это папка, а не последовательный порт" << locale;
            QTest::addRow("COM1 is a link loop, %s", locale.constData())
                << "loop"
                << "   1"
                << "Ссылки замкнуты в кольцо и никуда не ведут" << locale;
        }
        // Root bypasses an exclusive open, so the other program here is one that takes the
        // device's lock file the way Qt and the usual terminal programs do.
        QTest::newRow("another program holds the device") << "held"
                                                          << "   1" << QString() << QByteArray("C");
    }

    // One message naming the port, nothing on the wire, no log, and the window ready for the
    // next try.
    void portThatCannotBeOpened()
    {
        QFETCH(QString, setup);
        QFETCH(QString, portText);
        QFETCH(QString, reason);
        QFETCH(QByteArray, locale);
        const QByteArray before = std::setlocale(LC_ALL, nullptr);
        if (!std::setlocale(LC_ALL, locale.constData()))
            QSKIP("this language is not installed here (scripts/test.sh makes it)");
        const auto restore = qScopeGuard([&] { std::setlocale(LC_ALL, before.constData()); });

        WindowSession s;
        QVERIFY(s.form);
        const QString com1 = s.dir.filePath(QStringLiteral("COM1"));
        const int number = piezon::parsePortNumber(portText);
        QString expectedHeadline;
        QString portName;
        std::unique_ptr<QSerialPort> holder;

        if (setup == QLatin1String("none")) {
            if (!piezon::comPortDevice(number, s.dir.path(), piezon::entryExistsOnDisk).isEmpty())
                QSKIP("this machine has a serial device for every port number");
            portName = QStringLiteral("COM%1").arg(number);
            expectedHeadline = headline(piezon::messages::noSuchPort(number));
        } else {
            portName = QStringLiteral("COM1 (%1)").arg(com1);
            QVERIFY(QFile::remove(com1));
            if (setup == QLatin1String("dangling")) {
                QVERIFY(QFile::link(s.dir.filePath(QStringLiteral("gone")), com1));
                expectedHeadline = headline(piezon::messages::portNotFound(portName, {}));
            } else if (setup == QLatin1String("file")) {
                QFile plain(com1);
                QVERIFY(plain.open(QIODevice::WriteOnly));
                plain.write("not a serial port");
                expectedHeadline = headline(piezon::messages::portOpenFailed(portName, {}));
            } else if (setup == QLatin1String("null")) {
                QVERIFY(QFile::link(QStringLiteral("/dev/null"), com1));
                portName = QStringLiteral("COM1 (%1)").arg(com1);
                expectedHeadline = headline(piezon::messages::portOpenFailed(portName, {}));
            } else if (setup == QLatin1String("folder")) {
                QVERIFY(QDir(s.dir.path()).mkdir(QStringLiteral("COM1")));
                expectedHeadline = headline(piezon::messages::portOpenFailed(portName, {}));
            } else if (setup == QLatin1String("loop")) {
                QVERIFY(QFile::link(com1, com1));
                expectedHeadline = headline(piezon::messages::portOpenFailed(portName, {}));
            } else {
                QVERIFY(QFile::link(s.line.slavePath(), com1));
                // The other program knows the device by its own name, not by our COM1.
                holder = std::make_unique<QSerialPort>(s.line.slavePath());
                QVERIFY2(holder->open(QIODevice::ReadWrite), qPrintable(holder->errorString()));
                expectedHeadline = headline(piezon::messages::portBusy(portName, {}));
            }
        }

        s.form->Combo2->setCurrentText(portText);
        QCOMPARE(s.form->Combo2->currentText(), portText);
        s.start();

        QCOMPARE(s.reporter.messages.size(), 1);
        const QString message = s.reporter.messages.first();
        QVERIFY2(message.contains(portName), qPrintable(message));
        QCOMPARE(headline(message), expectedHeadline);
        if (!reason.isEmpty())
            QCOMPARE(message.section(QLatin1Char('\n'), 1, 1), reason);
        QVERIFY(!s.running());
        QVERIFY(s.form->Combo2->isEnabled());
        QVERIFY(!QFile::exists(s.logPath()));
        QCOMPARE(s.line.readAvailable(200), QByteArray());

        // STOP has nothing to stop and says nothing.
        s.form->Command2_Click();
        QCOMPARE(s.reporter.messages.size(), 1);

        if (holder) {
            // Once the other program lets go, the same port opens: the failure left nothing held.
            holder->close();
            s.start();
            QVERIFY(s.running());
            QCOMPARE(s.line.readAvailable(2000), kStart);
            QCOMPARE(s.reporter.messages.size(), 1);
        }
    }

    // The session outlives its line: one notice naming the port, no report, the port closed and
    // then silence (no error storm, no busy loop), the log kept open. A line that comes back
    // under the same number is told START and its readings go on into the same log.
    void farEndDisappearsThenComesBack_data()
    {
        lossColumns();
        QTest::newRow("quiet line") << QByteArray() << QByteArray();
        QTest::newRow("after readings") << bytes({100, 56, 255}) << QByteArray();
        QTest::newRow("while readings arrive") << bytes({100}) << QByteArray(200, '\x64');
        // Right after a read of a busy line (several readings at once) the port leaves the line
        // alone for a frame: the loss comes then.
        QTest::newRow("while the line gathers the next batch")
            << bytes({100, 56}) << QByteArray(5, '\x64');
    }

    void farEndDisappearsThenComesBack()
    {
        WindowSession s;
        LostLine loss;
        QByteArray log;
        if (!lostAndBorneQuietly(s, &loss, &log))
            return;
        piezon::GaugeSession& session = s.form->MSComm1();

        // The gauge comes back on a new device under the same COM1 entry.
        PtyPair replacement;
        QVERIFY(replacement.isValid());
        QVERIFY(QFile::remove(loss.com1));
        QVERIFY(QFile::link(replacement.slavePath(), loss.com1));
        // The event loop must run meanwhile: the tries are the window's timer.
        QByteArray told;
        QTRY_VERIFY_WITH_TIMEOUT((told += replacement.readAvailable(0, 20)).size() >= kStart.size(),
                                 3000);
        QCOMPARE(told, kStart);
        QTRY_VERIFY(!session.isReconnecting());
        QVERIFY(!s.reporter.noticeShown);
        QVERIFY(s.running());
        QVERIFY(!s.form->Combo2->isEnabled());
        // Back, but nothing measured yet.
        QVERIFY2(lookOf(*s.form).stale(), qPrintable(lookOf(*s.form).describe()));
        QVERIFY(replacement.write(bytes({255, 12})));
        QTRY_COMPARE(s.logBytes(), log + logFor(bytes({255, 12})));
        QVERIFY2(lookOf(*s.form).live(), qPrintable(lookOf(*s.form).describe()));
        s.form->Command2_Click();
        QCOMPARE(replacement.readAvailable(2000), kStop + kStop);
        QVERIFY(!s.running());
        QCOMPARE(loss.runningChanged->size(), 1);
        QCOMPARE(s.logBytes(), log + logFor(bytes({255, 12})));
        QVERIFY(s.reporter.messages.isEmpty());
        QCOMPARE(s.reporter.notices.size(), 1);
        // The companion record tells when the line went and came back; its clock went on.
        QCOMPARE(s.companionEvents(),
                 QStringList({QStringLiteral("СТАРТ"), QStringLiteral("линия потеряна"),
                              QStringLiteral("линия восстановлена"), QStringLiteral("СТОП")}));
        const QList<QStringList> rows = s.companionRows();
        QVERIFY(rows.constLast()[1].toLongLong() >= 2500);
        QCOMPARE(rows[rows.size() - 3][2], QStringLiteral("255"));
        QCOMPARE(rows[rows.size() - 2][2], QStringLiteral("12"));
    }

    // STOP while the line is gone ends the session with nothing sent, and the tries with it.
    void farEndDisappearsThenStop_data()
    {
        lossColumns();
        QTest::newRow("after readings") << bytes({100, 56}) << QByteArray();
        QTest::newRow("while readings arrive") << bytes({100}) << QByteArray(200, '\x64');
    }

    void farEndDisappearsThenStop()
    {
        WindowSession s;
        LostLine loss;
        QByteArray log;
        if (!lostAndBorneQuietly(s, &loss, &log))
            return;

        s.form->Command2_Click();
        QVERIFY(!s.running());
        QVERIFY(s.form->Combo2->isEnabled());
        QVERIFY(!s.reporter.noticeShown);
        QVERIFY(!s.form->MSComm1().log().isOpen());
        QCOMPARE(loss.runningChanged->size(), 1);
        QVERIFY(s.reporter.messages.isEmpty());
        QVERIFY2(lookOf(*s.form).stale(), qPrintable(lookOf(*s.form).describe()));
        // No more tries: a line that appears now is left alone.
        PtyPair late;
        QVERIFY(late.isValid());
        QVERIFY(QFile::remove(loss.com1));
        QVERIFY(QFile::link(late.slavePath(), loss.com1));
        QTest::qWait(2500);
        QCOMPARE(late.readAvailable(0), QByteArray());
        QCOMPARE(s.logBytes(), log);
        QCOMPARE(s.companionEvents(),
                 QStringList({QStringLiteral("СТАРТ"), QStringLiteral("линия потеряна"),
                              QStringLiteral("СТОП")}));
    }

    // STOP meets the dead line before the event loop has seen the hang-up: the session ends as
    // the operator asked, with nothing to say.
    void farEndDisappearsAsStopIsPressed()
    {
        const QByteArray logged = bytes({100});
        WindowSession s;
        LostLine loss;
        loseTheFarEnd(s, logged, QByteArray(), &loss);
        if (QTest::currentTestFailed())
            return;

        s.form->Command2_Click();
        QVERIFY(!s.running());
        QTest::qWait(300);
        QVERIFY(s.reporter.messages.isEmpty());
        QVERIFY(s.reporter.notices.isEmpty());
        QVERIFY(s.form->Combo2->isEnabled());
        QCOMPARE(loss.runningChanged->size(), 1);
        QCOMPARE(s.logBytes(), logFor(logged));
        QCOMPARE(s.companionEvents().value(0), QStringLiteral("СТАРТ"));
        QCOMPARE(s.companionEvents().constLast(), QStringLiteral("СТОП"));
    }

    // The gauge's adapter is gone and another device has taken its number (as ttyUSB1 becomes
    // COM5 when ttyUSB0 goes): that device is never opened, let alone told START or logged; the
    // operator is told; the gauge's own device is taken up again wherever it comes back.
    void aDifferentDeviceUnderTheNumberIsNotOpened()
    {
        PtyPair gauge;
        PtyPair other;
        PtyPair back;
        QVERIFY(gauge.isValid() && other.isValid() && back.isValid());
        QString gaugeAt = gauge.slavePath();
        QString numberLeadsTo = gauge.slavePath();
        piezon::PortNaming naming;
        naming.resolve = [&](int n) { return n == 1 ? numberLeadsTo : QString(); };
        naming.identify = [&](const QString& device) {
            return device == other.slavePath() ? QStringLiteral("by-id/other-adapter")
                                               : QStringLiteral("by-id/the-gauge");
        };
        naming.locate = [&](const QString& identity) {
            return identity == QLatin1String("by-id/the-gauge") ? gaugeAt : QString();
        };
        WindowSession s(QLocale::c(), naming);
        QVERIFY(s.form);
        piezon::GaugeSession& session = s.form->MSComm1();
        s.start();
        QVERIFY(s.running());
        QCOMPARE(gauge.readAvailable(2000), kStart);
        QVERIFY(gauge.write(bytes({100})));
        QTRY_COMPARE(s.logBytes(), logFor(bytes({100})));

        gaugeAt.clear();
        numberLeadsTo = other.slavePath();
        gauge.closeMaster();
        QTRY_VERIFY(session.isReconnecting());
        QTest::qWait(2500); // two tries and more
        QCOMPARE(other.readAvailable(0), QByteArray());
        QVERIFY(session.isReconnecting());
        QVERIFY(!s.reporter.notices.isEmpty());
        const QString notice = s.reporter.notices.last();
        QVERIFY2(notice.contains(QStringLiteral("другому устройству")) &&
                     notice.contains(other.slavePath()) &&
                     notice.contains(QStringLiteral("the-gauge")),
                 qPrintable(notice));
        QVERIFY(s.reporter.noticeShown);
        const qsizetype told = s.reporter.notices.size();
        QTest::qWait(1500); // said once, not at every try
        QCOMPARE(s.reporter.notices.size(), told);

        gaugeAt = back.slavePath();
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += back.readAvailable(0, 20)).size() >= kStart.size(),
                                 3000);
        QCOMPARE(received, kStart);
        QTRY_VERIFY(!session.isReconnecting());
        QVERIFY(!s.reporter.noticeShown);
        QVERIFY(back.write(bytes({255})));
        QTRY_COMPARE(s.logBytes(), logFor(bytes({100, 255})));
        QCOMPARE(other.readAvailable(0), QByteArray());
        QVERIFY(s.reporter.messages.isEmpty());
    }

    void readingsArrivingAroundStartAndStopAreLogged_data()
    {
        QTest::addColumn<int>("pauseUs");   // between two readings from the gauge
        QTest::addColumn<int>("sessionMs"); // from START to STOP
        QTest::addColumn<int>("betweenMs"); // from STOP to the next START

        QTest::newRow("gauge faster than any line") << 20 << 20 << 10;
        // Read a batch a frame: STOP comes while the line gathers one, and the next START before
        // that frame is over.
        QTest::newRow("gauge at line rate, STOP between batches") << 1000 << 23 << 2;
    }

    // A gauge that was never told STOP (the program ended while running) is still streaming
    // when the next START comes: whatever arrives while START is sending its command is read
    // after START has opened the log, so every reading the session handles is in the log; and
    // once STOP is done, nothing more is handled.
    void readingsArrivingAroundStartAndStopAreLogged()
    {
        QFETCH(int, pauseUs);
        QFETCH(int, sessionMs);
        QFETCH(int, betweenMs);

        WindowSession s;
        QVERIFY(s.form);
        qint64 handled = 0;
        connect(&s.form->MSComm1().port(), &piezon::GaugePort::received, this,
                [&handled](const QByteArray& readings) { handled += readings.size(); });

        std::atomic<bool> streaming{true};
        const int fd = s.line.masterFd();
        std::thread gauge([&streaming, fd, pauseUs] {
            const char reading = 100;
            while (streaming) {
                if (::write(fd, &reading, 1) < 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
            }
        });
        // The window for the race is narrow; a handful of sessions hit it reliably.
        const qint64 recordSize = logFor(bytes({100})).size();
        QStringList mismatches;
        int sessions = 0;
        for (; sessions < 12; ++sessions) {
            QTest::qWait(betweenMs);
            handled = 0;
            s.start();
            if (!s.running())
                break;
            QTest::qWait(sessionMs);
            s.form->Command2_Click();
            if (s.logBytes().size() != handled * recordSize)
                mismatches << QStringLiteral("%1 readings, %2 records")
                                  .arg(handled)
                                  .arg(s.logBytes().size() / recordSize);
        }
        const qint64 afterStop = handled;
        QTest::qWait(50);
        streaming = false;
        gauge.join();
        QCOMPARE(handled, afterStop);

        QCOMPARE(sessions, 12);
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(QStringLiteral("; "))));
        QVERIFY(s.reporter.messages.isEmpty());
    }

    // A busy line rests between batches; readings that arrived before STOP are still the
    // session's.
    void readingsWaitingAtStopAreLogged()
    {
        WindowSession s;
        QVERIFY(s.form);
        s.start();
        QCOMPARE(s.line.readAvailable(2000), kStart);
        QSignalSpy received(&s.form->MSComm1().port(), &piezon::GaugePort::received);
        QVERIFY(s.line.write(bytes({100, 7})));
        QVERIFY(received.wait(5000));
        QCOMPARE(s.logBytes(), logFor(bytes({100, 7})));
        QVERIFY(s.form->MSComm1().port().resting());
        QVERIFY(s.line.write(bytes({56, 255, 12})));
        s.form->Command2_Click();
        QCOMPARE(s.logBytes(), logFor(bytes({100, 7, 56, 255, 12})));
        QCOMPARE(s.line.readAvailable(2000), kStop + kStop);
        QVERIFY(s.reporter.messages.isEmpty());
    }

    void lineRestsOnlyWhileBusy_data()
    {
        QTest::addColumn<QByteArray>("first");  // one read
        QTest::addColumn<QByteArray>("second"); // written as soon as the first is handed on
        QTest::addColumn<bool>("rests");        // after the last read

        // A real gauge's pace: a timer wake-up per reading would gather nothing.
        QTest::newRow("a lone reading after a quiet spell")
            << bytes({100}) << QByteArray() << false;
        QTest::newRow("several readings in one read")
            << bytes({100, 56, 255}) << QByteArray() << true;
        // How a line at full speed starts: its first two readings come a millisecond apart.
        QTest::newRow("a reading within two frames of the one before")
            << bytes({100}) << bytes({56}) << true;
    }

    // The port rests after a read (its notification off for a frame) only when the line is busy;
    // either way every reading is handed on.
    void lineRestsOnlyWhileBusy()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(bool, rests);

        WindowSession s;
        QVERIFY(s.form);
        s.start();
        QCOMPARE(s.line.readAvailable(2000), kStart);
        piezon::GaugePort& port = s.form->MSComm1().port();
        QSignalSpy received(&port, &piezon::GaugePort::received);
        QByteArray sent;
        bool restedAfterLastRead = false;
        // A loaded machine may hand the second reading over later than that after the first;
        // the line is then rightly not busy, and the pair is tried again.
        for (int attempt = 0; attempt < 10; ++attempt) {
            QTest::qWait(2 * piezon::GaugePort::kBusyGapMs); // quiet, and any rest is over
            QVERIFY(s.line.write(first));
            sent += first;
            QVERIFY(received.wait(5000));
            QElapsedTimer sinceFirst;
            sinceFirst.start();
            restedAfterLastRead = port.resting();
            if (second.isEmpty())
                break;
            QVERIFY(s.line.write(second));
            sent += second;
            QVERIFY(received.wait(5000));
            restedAfterLastRead = port.resting();
            if (sinceFirst.elapsed() < piezon::GaugePort::kBusyGapMs)
                break;
        }
        QCOMPARE(restedAfterLastRead, rests);
        QCOMPARE(s.logBytes(), logFor(sent));
        s.form->Command2_Click();
        QCOMPARE(s.logBytes(), logFor(sent));
        QVERIFY(s.reporter.messages.isEmpty());
    }

    void historyFollowsTheSession_data()
    {
        QTest::addColumn<bool>("companionKept");

        QTest::newRow("with its companion record") << true;
        // A folder in its place, as a record another program keeps to itself is: no record.
        QTest::newRow("without its companion record") << false;
    }

    // The chart's history is the session's own, whether or not its companion record is kept: it
    // holds the readings and events from START, stays after STOP and is begun anew by START.
    void historyFollowsTheSession()
    {
        QFETCH(bool, companionKept);
        using piezon::HistoryEvent;
        const auto kinds = [](const piezon::SessionHistory& h) {
            QList<int> out;
            for (const piezon::HistoryMark& m : h.marks())
                out << int(m.kind);
            return out;
        };

        WindowSession s;
        QVERIFY(s.form);
        if (!companionKept)
            QVERIFY(QDir().mkdir(s.companionPath()));
        const piezon::SessionHistory& history = s.form->MSComm1().history();
        s.start();
        QVERIFY(s.running());
        QVERIFY(s.line.write(bytes({100, 255})));
        QTRY_COMPARE(history.readingCount(), qint64(2));
        QCOMPARE(history.latest(), std::optional<int>(800));
        QCOMPARE(history.minimum()->centi, 273);
        // The same offset again is no change; another is.
        s.form->Combo1->setCurrentText(QStringLiteral("     0"));
        s.form->Combo1->setCurrentText(QStringLiteral("     5"));
        s.form->Command2_Click();
        QVERIFY(!s.running());
        QCOMPARE(kinds(history), QList<int>({int(HistoryEvent::Start), int(HistoryEvent::Offset),
                                             int(HistoryEvent::Stop)}));
        QCOMPARE(history.readingCount(), qint64(2));
        QCOMPARE(s.companionEvents(), companionKept ? QStringList({QStringLiteral("СТАРТ"),
                                                                   QStringLiteral("погрешность: 5"),
                                                                   QStringLiteral("СТОП")})
                                                    : QStringList());

        s.start();
        QVERIFY(s.running());
        QCOMPARE(history.readingCount(), qint64(0));
        QCOMPARE(kinds(history), QList<int>({int(HistoryEvent::Start)}));
        s.form->Command2_Click();
        QVERIFY(s.reporter.messages.isEmpty());
    }

    void nextSessionUsesTheNewlyPickedPort()
    {
        WindowSession s;
        QVERIFY(s.form);
        PtyPair second;
        QVERIFY(second.isValid());
        QVERIFY(QFile::link(second.slavePath(), s.dir.filePath(QStringLiteral("COM2"))));

        s.start();
        QVERIFY(s.line.write(bytes({100, 56})));
        QTRY_COMPARE(s.logBytes(), logFor(bytes({100, 56})));
        s.form->Command2_Click();
        QCOMPARE(s.line.readAvailable(2000, 100), kStart + kStop + kStop);

        s.form->Combo2->setCurrentText(QStringLiteral("   2"));
        s.start();
        QVERIFY(s.running());
        QVERIFY(!s.form->Combo2->isEnabled());
        QCOMPARE(s.logBytes(), QByteArray()); // emptied again
        QCOMPARE(second.readAvailable(2000), kStart);

        // The old line is no longer listened to.
        QVERIFY(s.line.write(bytes({0})));
        QVERIFY(second.write(bytes({255})));
        QTRY_COMPARE(s.logBytes(), logFor(bytes({255})));
        QTest::qWait(50);
        QCOMPARE(s.logBytes(), logFor(bytes({255})));

        s.form->Command2_Click();
        QCOMPARE(second.readAvailable(2000, 100), kStop + kStop);
        QCOMPARE(s.line.readAvailable(200), QByteArray());
        QVERIFY(s.reporter.messages.isEmpty());
    }

private:
    // A running session's line whose far end has gone, and what watches it from just before.
    struct LostLine {
        QString com1;
        QString portName;
        std::unique_ptr<QSignalSpy> lost;
        std::unique_ptr<QSignalSpy> runningChanged;
    };

    static void lossColumns()
    {
        QTest::addColumn<QByteArray>("logged");   // readings the program has shown before the loss
        QTest::addColumn<QByteArray>("inFlight"); // readings sent just before the loss
    }

    // START, `logged` shown live and in the log, `inFlight` sent, then the far end closed.
    static void loseTheFarEnd(WindowSession& s, const QByteArray& logged,
                              const QByteArray& inFlight, LostLine* loss)
    {
        QVERIFY(s.form);
        piezon::GaugeSession& session = s.form->MSComm1();
        loss->com1 = s.dir.filePath(QStringLiteral("COM1"));
        loss->portName = QStringLiteral("COM1 (%1)").arg(loss->com1);

        s.start();
        QVERIFY(s.running());
        QCOMPARE(s.line.readAvailable(2000), kStart);
        QVERIFY(s.line.write(logged));
        // Watched closely, so that what follows lands within a frame of the read.
        QDeadlineTimer seen(5000);
        while (s.logBytes() != logFor(logged) && !seen.hasExpired())
            QTest::qWait(1);
        QCOMPARE(s.logBytes(), logFor(logged));
        QVERIFY(s.line.write(inFlight));

        loss->lost = std::make_unique<QSignalSpy>(&session.port(), &piezon::GaugePort::lost);
        loss->runningChanged =
            std::make_unique<QSignalSpy>(&session, &piezon::GaugeSession::runningChanged);
        QVERIFY2(lookOf(*s.form).live(), qPrintable(lookOf(*s.form).describe()));
        s.line.closeMaster();
    }

    // The loss seen: the reading stale, one notice, the session and its log going on; the
    // records shown before it kept whole; tries that fail cost nothing and say nothing. `log` is
    // what the log holds then.
    // The two rows' line lost and the loss borne quietly, as "comes back" and "STOP" both begin;
    // false if a check failed on the way.
    static bool lostAndBorneQuietly(WindowSession& s, LostLine* loss, QByteArray* log)
    {
        QFETCH(QByteArray, logged);
        QFETCH(QByteArray, inFlight);
        loseTheFarEnd(s, logged, inFlight, loss);
        if (QTest::currentTestFailed())
            return false;
        lossIsBorneQuietly(s, *loss, logged, inFlight, log);
        return !QTest::currentTestFailed();
    }

    static void lossIsBorneQuietly(WindowSession& s, const LostLine& loss, const QByteArray& logged,
                                   const QByteArray& inFlight, QByteArray* log)
    {
        piezon::GaugeSession& session = s.form->MSComm1();
        QTRY_VERIFY(session.isReconnecting());
        // A reading nobody is measuring any more must not look like one.
        QVERIFY2(lookOf(*s.form).stale(), qPrintable(lookOf(*s.form).describe()));
        QCOMPARE(s.reporter.notices.size(), 1);
        QVERIFY(s.reporter.noticeShown);
        const QString notice = s.reporter.notices.first();
        QVERIFY2(notice.contains(loss.portName), qPrintable(notice));
        QCOMPARE(headline(notice), headline(piezon::messages::linkLost(loss.portName, {})));
        QVERIFY(s.running());
        QVERIFY(!s.form->Combo2->isEnabled());
        QVERIFY(s.form->Combo1->isEnabled());
        QVERIFY(session.log().isOpen());

        // Readings shown before the loss stay in the log, whole records only.
        *log = s.logBytes();
        const QByteArray all = logFor(logged + inFlight);
        QVERIFY(log->startsWith(logFor(logged)));
        QVERIFY(all.startsWith(*log));
        QVERIFY(log->isEmpty() || log->endsWith("\r\n"));

        // Tries that fail (the old line answers no more) cost nothing and say nothing.
        QVERIFY(loss.lost->size() <= 1);
        const qsizetype lostSoFar = loss.lost->size();
        const double cpuBefore = cpuSeconds();
        QTest::qWait(2500);
        const double cpu = cpuSeconds() - cpuBefore;
        QCOMPARE(loss.lost->size(), lostSoFar);
        QCOMPARE(loss.runningChanged->size(), 0);
        QCOMPARE(s.reporter.notices.size(), 1);
        QVERIFY(s.reporter.messages.isEmpty());
        QCOMPARE(s.logBytes(), *log);
        QVERIFY2(cpu < 0.5, qPrintable(QStringLiteral("%1 s of CPU in 2.5 idle s").arg(cpu)));
    }
};

QTEST_MAIN(GaugeSessionTest)
#include "test_gauge_session.moc"
