#include "log/measurement_log.h"
#include "log/system_reason.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using piezon::MeasurementLog;

namespace
{

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot read ") + QFile::encodeName(path) + ">";
    return file.readAll();
}

// The system's own words for an error number, as Qt's file and port classes report them.
QString systemWords(int number)
{
#ifdef Q_OS_WIN
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(number), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString words = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    ::LocalFree(text);
    return words.isEmpty() ? QStringLiteral("Системная ошибка %1").arg(number) : words;
#else
    return QString::fromLocal8Bit(std::strerror(number));
#endif
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QByteArray kFirst("  first record\r\n");
const QByteArray kSecond("  second record\r\n");

} // namespace

class TestMeasurementLog : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void openCreatesEmptyFile();
    void openEmptiesExistingFile();
    void eachWriteIsInTheFileAtOnce();

    void openFails_data();
    void openFails();

    void writeToFullDeviceFails();
    void writeWhenClosedFails();
    void deletedFileIsNoticedSoon();
    void closeIsIdempotent();
    void reopenStartsEmpty();
    void openingAnotherFileLeavesTheFirstIntact();

    void secondClaimOfAnOpenLogIsRefused();
    void othersCanReadTheLogWhileItIsWritten();
    void beginKeepsTheLastSessionsRecords_data();
    void beginKeepsTheLastSessionsRecords();
    void twoCopiesRacingNeverShareTheLog();
    void fileShortenedByOthersGainsNoNulBytes();
    void slowSyncNeverHoldsUpAWrite();
    void recordsSyncedOncePerPeriod_data();
    void recordsSyncedOncePerPeriod();

    void systemReasonsInRussian_data();
    void systemReasonsInRussian();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name = QStringLiteral("m.log")) const
    {
        return m_dir->filePath(name);
    }
};

void TestMeasurementLog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestMeasurementLog::openCreatesEmptyFile()
{
    MeasurementLog log;
    QVERIFY(!log.isOpen());
    QString error;
    QVERIFY2(log.open(path(), &error), qPrintable(error));
    QVERIFY(log.isOpen());
    QVERIFY(QFileInfo::exists(path()));
    QCOMPARE(QFileInfo(path()).size(), 0);
}

void TestMeasurementLog::openEmptiesExistingFile()
{
    QVERIFY(writeFile(path(), "records of an earlier session\r\n"));
    MeasurementLog log;
    QString error;
    QVERIFY2(log.open(path(), &error), qPrintable(error));
    QCOMPARE(contentsOf(path()), QByteArray());

    QVERIFY(log.write(kFirst, &error));
    log.close();
    QCOMPARE(contentsOf(path()), kFirst);
}

void TestMeasurementLog::eachWriteIsInTheFileAtOnce()
{
    MeasurementLog log;
    QString error;
    QVERIFY(log.open(path(), &error));

    QVERIFY2(log.write(kFirst, &error), qPrintable(error));
    QCOMPARE(contentsOf(path()), kFirst);
    QVERIFY2(log.write(kSecond, &error), qPrintable(error));
    QCOMPARE(contentsOf(path()), kFirst + kSecond);

    log.close();
    QCOMPARE(contentsOf(path()), kFirst + kSecond);
}

void TestMeasurementLog::openFails_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("path is a folder") << "folder";
    QTest::newRow("folder does not exist") << "missing/m.log";
}

void TestMeasurementLog::openFails()
{
    QFETCH(QString, relativePath);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder")));

    MeasurementLog log;
    QString error;
    QVERIFY(!log.open(path(relativePath), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!log.isOpen());
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));

    error.clear();
    QVERIFY(!log.write(kFirst, &error));
    QVERIFY(!error.isEmpty());
}

void TestMeasurementLog::writeToFullDeviceFails()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full on this system");
    MeasurementLog log;
    QString error;
    QVERIFY2(log.open(QStringLiteral("/dev/full"), &error), qPrintable(error));
    QVERIFY(!log.write(kFirst, &error));
    QVERIFY(!error.isEmpty());
    log.close();
    QVERIFY(!log.isOpen());
}

void TestMeasurementLog::writeWhenClosedFails()
{
    MeasurementLog log;
    QString error;
    QVERIFY(!log.write(kFirst, &error));
    QVERIFY(!error.isEmpty());
}

void TestMeasurementLog::deletedFileIsNoticedSoon()
{
    MeasurementLog log;
    QString error;
    QVERIFY2(log.open(path(), &error), qPrintable(error));
    QVERIFY2(log.write(kFirst, &error), qPrintable(error));
    QVERIFY(!log.deleted());
#ifdef Q_OS_WIN
    // Wine 8 deletes such a file only at its last close and tells nobody before: neither the
    // open file nor its name shows anything. Windows marks it, or takes the name away at once.
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        QSKIP("Wine does not report a file deleted while it is open");
#endif
    QVERIFY(QFile::remove(path()));
    // Writes go on succeeding until the next look at the file system, which is due soon.
    QElapsedTimer waited;
    waited.start();
    int accepted = 0;
    while (log.write(kSecond, &error) && waited.elapsed() < 5000) {
        ++accepted;
        QTest::qSleep(10);
    }
    QVERIFY2(log.deleted(), qPrintable(QStringLiteral("%1 writes accepted").arg(accepted)));
    QVERIFY(!error.isEmpty());
    log.close();
    QVERIFY(!QFileInfo::exists(path()));
}

void TestMeasurementLog::closeIsIdempotent()
{
    MeasurementLog log;
    log.close(); // never opened

    QString error;
    QVERIFY(log.open(path(), &error));
    QVERIFY(log.write(kFirst, &error));
    log.close();
    QVERIFY(!log.isOpen());
    log.close();
    QVERIFY(!log.isOpen());
    QCOMPARE(contentsOf(path()), kFirst);

    error.clear();
    QVERIFY(!log.write(kSecond, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(contentsOf(path()), kFirst);
}

void TestMeasurementLog::reopenStartsEmpty()
{
    MeasurementLog log;
    QString error;
    QVERIFY(log.open(path(), &error));
    QVERIFY(log.write(kFirst, &error));
    log.close();

    QVERIFY(log.open(path(), &error));
    QCOMPARE(contentsOf(path()), QByteArray());
    QVERIFY(log.write(kSecond, &error));
    log.close();
    QCOMPARE(contentsOf(path()), kSecond);
}

void TestMeasurementLog::openingAnotherFileLeavesTheFirstIntact()
{
    MeasurementLog log;
    QString error;
    QVERIFY(log.open(path(QStringLiteral("a.log")), &error));
    QVERIFY(log.write(kFirst, &error));
    QVERIFY(log.open(path(QStringLiteral("b.log")), &error));
    QVERIFY(log.write(kSecond, &error));
    log.close();

    QCOMPARE(contentsOf(path(QStringLiteral("a.log"))), kFirst);
    QCOMPARE(contentsOf(path(QStringLiteral("b.log"))), kSecond);
}

// Two programs from one folder: the second must neither empty nor write the first one's log, and
// the lock must go with the first log (no lock file to clean up after a crash).
void TestMeasurementLog::secondClaimOfAnOpenLogIsRefused()
{
    MeasurementLog first;
    QString error;
    QVERIFY2(first.open(path(), &error), qPrintable(error));
    QVERIFY(first.write(kFirst, &error));

    MeasurementLog second;
    QCOMPARE(second.claim(path(), &error), MeasurementLog::Claim::InUse);
    QVERIFY(!second.isOpen());
    QVERIFY(!second.open(path(), &error));
    QVERIFY(first.write(kSecond, &error));
    QCOMPARE(contentsOf(path()), kFirst + kSecond);

    first.close();
    QCOMPARE(second.claim(path(), &error), MeasurementLog::Claim::Ok);
    QCOMPARE(contentsOf(path()), kFirst + kSecond); // claimed, not yet emptied
    second.abandon();
    QCOMPARE(contentsOf(path()), kFirst + kSecond);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("m.log")});
}

// An operator opens the log in a text editor while the gauge is read: the one-writer lock must
// not keep anyone from reading the records, nor from reading the newest ones.
void TestMeasurementLog::othersCanReadTheLogWhileItIsWritten()
{
    MeasurementLog log;
    QString error;
    QVERIFY2(log.open(path(), &error), qPrintable(error));
    QVERIFY(log.write(kFirst, &error));
    QFile reader(path());
    QVERIFY2(reader.open(QIODevice::ReadOnly), qPrintable(reader.errorString()));
    QCOMPARE(reader.readAll(), kFirst);
    QVERIFY(log.write(kSecond, &error));
    QCOMPARE(reader.readAll(), kSecond);
    reader.close();
    QCOMPARE(contentsOf(path()), kFirst + kSecond);
}

// What a new session finds, and what it leaves: the last records under the previous name, byte
// for byte, or the file untouched when they cannot be kept.
void TestMeasurementLog::beginKeepsTheLastSessionsRecords_data()
{
    const QByteArray none("<none>");
    const QByteArray folder("<folder>");
    QTest::addColumn<QByteArray>("log");      // the log before (none: no file)
    QTest::addColumn<QByteArray>("previous"); // the previous log before
    QTest::addColumn<bool>("throughLink");    // the log is a link to a file elsewhere
    QTest::addColumn<int>("begun");
    QTest::addColumn<QByteArray>("logAfter");
    QTest::addColumn<QByteArray>("previousAfter");
    const int ok = int(MeasurementLog::Begun::Ok);
    QTest::newRow("records moved aside")
        << kFirst + kSecond << none << false << ok << QByteArray() << kFirst + kSecond;
    QTest::newRow("an older previous log is replaced")
        << kSecond << kFirst << false << ok << QByteArray() << kSecond;
    QTest::newRow("no log yet") << none << kFirst << false << ok << QByteArray() << kFirst;
    QTest::newRow("a session without records pushes nothing out")
        << QByteArray() << kFirst << false << ok << QByteArray() << kFirst;
    QTest::newRow("a folder in the previous log's place: nothing emptied")
        << kFirst << folder << false << int(MeasurementLog::Begun::NotMoved) << kFirst << folder;
#ifndef Q_OS_WIN
    QTest::newRow("a link is emptied where it leads")
        << kFirst << none << true << ok << QByteArray() << none;
#endif
}

void TestMeasurementLog::beginKeepsTheLastSessionsRecords()
{
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, previous);
    QFETCH(bool, throughLink);
    QFETCH(int, begun);
    QFETCH(QByteArray, logAfter);
    QFETCH(QByteArray, previousAfter);
    const QString previousPath = path(QStringLiteral("m_предыдущий.log"));
    const QString target = path(QStringLiteral("chosen.log"));
    const auto state = [](const QString& at) {
        if (QFileInfo(at).isDir())
            return QByteArray("<folder>");
        return QFileInfo::exists(at) ? contentsOf(at) : QByteArray("<none>");
    };
    if (log != "<none>")
        QVERIFY(writeFile(throughLink ? target : path(), log));
    if (throughLink)
        QVERIFY(QFile::link(target, path()));
    if (previous == "<folder>")
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("m_предыдущий.log")));
    else if (previous != "<none>")
        QVERIFY(writeFile(previousPath, previous));

    MeasurementLog first;
    QString error;
    QCOMPARE(first.claim(path(), &error), MeasurementLog::Claim::Ok);
    QCOMPARE(int(first.begin(&error)), begun);
    QCOMPARE(state(throughLink ? target : path()), logAfter);
    QCOMPARE(state(previousPath), previousAfter);
    if (begun == int(MeasurementLog::Begun::Ok)) {
        // The lock went with the new log, and the kept one is nobody's.
        MeasurementLog second;
        QCOMPARE(second.claim(path(), &error), MeasurementLog::Claim::InUse);
        if (previousAfter != "<none>") {
            QCOMPARE(second.claim(previousPath, &error), MeasurementLog::Claim::Ok);
            second.abandon();
        }
        QVERIFY(first.write(kSecond, &error));
        QCOMPARE(state(throughLink ? target : path()), kSecond);
    } else {
        QVERIFY(!error.isEmpty());
    }
    first.close();
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("*.new")}, QDir::Files), QStringList());
}

// Two copies of the program in one folder press START over and over: at no moment may both
// have a session, whatever happens while a log is being moved aside.
void TestMeasurementLog::twoCopiesRacingNeverShareTheLog()
{
    std::atomic<int> inSession{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> sessions{0};
    const auto copy = [&](const QByteArray& record) {
        for (int i = 0; i < 100; ++i) {
            MeasurementLog log;
            QString error;
            if (log.claim(path(), &error) != MeasurementLog::Claim::Ok)
                continue;
            if (log.begin(&error) != MeasurementLog::Begun::Ok)
                continue;
            if (inSession.fetch_add(1) != 0)
                ++overlaps;
            ++sessions;
            log.write(record, &error);
            inSession.fetch_sub(1);
        }
    };
    std::thread a(copy, QByteArray("  copy A\r\n"));
    std::thread b(copy, QByteArray("  copy B\r\n"));
    a.join();
    b.join();
    QCOMPARE(overlaps.load(), 0);
    QVERIFY(sessions.load() > 0);
    // Each session wrote one record into a log of its own.
    for (const QString& name : {QStringLiteral("m.log"), QStringLiteral("m_предыдущий.log")}) {
        const QByteArray bytes = contentsOf(path(name));
        QVERIFY2(bytes == "  copy A\r\n" || bytes == "  copy B\r\n", bytes.constData());
    }
}

// Someone empties the file under us (a second program of an older make, an operator's editor):
// the next record must land at the new end, not after a hole of NUL bytes.
void TestMeasurementLog::fileShortenedByOthersGainsNoNulBytes()
{
    MeasurementLog log;
    QString error;
    QVERIFY(log.open(path(), &error));
    QVERIFY(log.write(kFirst, &error));
    QVERIFY(log.write(kFirst, &error));
    QVERIFY(QFile::resize(path(), 0));
    QVERIFY(log.write(kSecond, &error));
    log.close();
    QCOMPARE(contentsOf(path()), kSecond);
}

void TestMeasurementLog::slowSyncNeverHoldsUpAWrite()
{
    std::atomic<int> syncs{0};
    std::atomic<bool> slow{true};
    MeasurementLog log([&](int) {
        ++syncs;
        while (slow) // a disk that takes its time
            QThread::msleep(5);
    });
    QString error;
    QVERIFY(log.open(path(), &error));
    QVERIFY(log.write(kFirst, &error));
    QTRY_COMPARE_WITH_TIMEOUT(syncs.load(), 1, 5000); // it does come, without a close
    // The sync is stuck in the disk; records go on reaching the file meanwhile.
    for (int i = 0; i < 100; ++i)
        QVERIFY(log.write(kSecond, &error));
    QCOMPARE(contentsOf(path()).size(), kFirst.size() + 100 * kSecond.size());
    slow = false;
    QTRY_COMPARE_WITH_TIMEOUT(syncs.load(), 2, 5000); // and the records after it get theirs
    log.close();
}

void TestMeasurementLog::recordsSyncedOncePerPeriod_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("pauseMs"); // between two records

    QTest::newRow("a slow gauge, steady") << 60 << 50;
    // The second record comes after a whole period without any: the sync thread has gone to
    // sleep until the next record, which must wake it.
    QTest::newRow("records further apart than two periods")
        << 2 << 2 * piezon::BackgroundSync::kDelayMs + 200;
}

// However records come, the thread syncs at most once a period, and every record reaches the
// disk without waiting for the log to close.
void TestMeasurementLog::recordsSyncedOncePerPeriod()
{
    QFETCH(int, records);
    QFETCH(int, pauseMs);

    std::mutex mutex;
    std::vector<std::pair<qint64, qint64>> syncs; // when (ms), and the file's size then
    QElapsedTimer clock;
    clock.start();
    MeasurementLog log([&](int fd) {
        const qint64 size = QFileInfo(path()).size();
        std::lock_guard<std::mutex> lock(mutex);
        syncs.emplace_back(clock.elapsed(), size);
        (void)fd;
    });
    QString error;
    QVERIFY(log.open(path(), &error));
    for (int i = 0; i < records; ++i) {
        QVERIFY(log.write(kFirst, &error));
        QThread::msleep(pauseMs);
    }
    const qint64 size = QFileInfo(path()).size();
    QCOMPARE(size, records * kFirst.size());
    const auto lastSynced = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return syncs.empty() ? qint64(-1) : syncs.back().second;
    };
    QTRY_COMPARE_WITH_TIMEOUT(lastSynced(), size, 5000);

    std::lock_guard<std::mutex> lock(mutex);
    // A gauge that never pauses long is synced while it runs, not only at the end.
    QVERIFY2(syncs.size() >= 2, qPrintable(QString::number(syncs.size())));
    for (size_t i = 1; i < syncs.size(); ++i) {
        QVERIFY2(syncs[i].first - syncs[i - 1].first >= piezon::BackgroundSync::kDelayMs - 5,
                 qPrintable(QStringLiteral("syncs at %1 and %2 ms")
                                .arg(syncs[i - 1].first)
                                .arg(syncs[i].first)));
    }
}

void TestMeasurementLog::systemReasonsInRussian_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("russian"); // empty: the system's own words
    QTest::addColumn<QString>("ofAPort"); // said of a port instead; empty: the same
    QTest::addColumn<QByteArray>("locale");
#ifdef Q_OS_WIN
    QTest::newRow("missing device")
        << int(ERROR_FILE_NOT_FOUND) << "Нет такого файла или устройства" << QString()
        << QByteArray("C");
    QTest::newRow("port held by another program")
        << int(ERROR_ACCESS_DENIED)
        << "Доступ запрещён: порт или файл занят другой программой, или нет прав" << QString()
        << QByteArray("C");
    QTest::newRow("file held by another program")
        << int(ERROR_SHARING_VIOLATION) << "Файл занят другой программой" << QString()
        << QByteArray("C");
    QTest::newRow("device gone") << int(ERROR_DEVICE_NOT_CONNECTED) << "Устройство не подключено"
                                 << QString() << QByteArray("C");
    QTest::newRow("disk full") << int(ERROR_DISK_FULL) << "На диске не осталось места" << QString()
                               << QByteArray("C");
    QTest::newRow("write-protected")
        << int(ERROR_WRITE_PROTECT) << "Диск защищён от записи" << QString() << QByteArray("C");
    QTest::newRow("quota") << 1295 << "Превышена дисковая квота" << QString() << QByteArray("C");
    QTest::newRow("anything else")
        << int(ERROR_NOT_SAME_DEVICE) << QString() << QString() << QByteArray("C");
#else
    QTest::newRow("missing device")
        << ENOENT << "Нет такого файла или устройства" << QString() << QByteArray("C");
    QTest::newRow("no device") << ENODEV << "Устройство не найдено" << QString() << QByteArray("C");
    QTest::newRow("no permission") << EACCES << "Нет прав доступа" << QString() << QByteArray("C");
    QTest::newRow("busy") << EBUSY << "Устройство занято" << QString() << QByteArray("C");
    QTest::newRow("I/O error") << EIO << "Ошибка ввода-вывода" << QString() << QByteArray("C");
    QTest::newRow("disk full") << ENOSPC << "На диске не осталось места" << QString()
                               << QByteArray("C");
    QTest::newRow("read-only file system")
        << EROFS << "Файловая система доступна только для чтения" << QString() << QByteArray("C");
    QTest::newRow("quota") << EDQUOT << "Превышена дисковая квота" << QString() << QByteArray("C");
    QTest::newRow("anything else") << EXDEV << QString() << QString() << QByteArray("C");
    // What opening something that is not a serial line as a port comes to, in any language.
    for (const QByteArray& locale : {QByteArray("C"), QByteArray("ru_RU.UTF-8")}) {
        QTest::addRow("not a terminal, %s", locale.constData())
            << ENOTTY << "Это не последовательный порт" << QString() << locale;
        QTest::addRow("a folder, %s", locale.constData())
            << EISDIR << "Это папка, а не файл"
            << "Это папка, а не последовательный порт" << locale;
        QTest::addRow("a link loop, %s", locale.constData())
            << ELOOP << "Ссылки замкнуты в кольцо и никуда не ведут" << QString() << locale;
    }
#endif
}

// From the number, and from the text Qt's file and port classes give for it.
void TestMeasurementLog::systemReasonsInRussian()
{
    QFETCH(int, number);
    QFETCH(QString, russian);
    QFETCH(QString, ofAPort);
    QFETCH(QByteArray, locale);
    const QByteArray before = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, locale.constData()))
        QSKIP("this language is not installed here (scripts/test.sh makes it)");
    const QString system = systemWords(number);
    std::setlocale(LC_ALL, before.constData());
    if (locale != "C")
        QVERIFY2(system.contains(QRegularExpression(QStringLiteral("[А-Яа-я]"))),
                 qPrintable(system)); // the system really spoke Russian
    const QString expected = russian.isEmpty() ? system : russian;
    std::setlocale(LC_ALL, locale.constData());
    QCOMPARE(piezon::systemReason(number), expected);
    QCOMPARE(piezon::russianReason(system), expected);
    QCOMPARE(piezon::russianPortReason(system), ofAPort.isEmpty() ? expected : ofAPort);
    std::setlocale(LC_ALL, before.constData());
    QCOMPARE(piezon::russianReason(QStringLiteral("Устройство отключилось")),
             QStringLiteral("Устройство отключилось"));
}

QTEST_GUILESS_MAIN(TestMeasurementLog)
#include "test_measurement_log.moc"
