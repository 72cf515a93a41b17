#include "log/companion_row.h"
#include "log/log_file.h"
#include "log/measurement_log.h"
#include "support/log_opening.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#endif

using piezon::MeasurementLog;
using Lock = piezon::logfile::Lock;

namespace
{

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot read ") + QFile::encodeName(path) + ">";
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QByteArray kFirst("  first record\r\n");
const QByteArray kSecond("  second record\r\n");

// What is at a path: its contents, or that there is a folder or nothing.
QByteArray state(const QString& at)
{
    if (QFileInfo(at).isDir())
        return QByteArray("<folder>");
    return QFileInfo::exists(at) ? contentsOf(at) : QByteArray("<none>");
}

// The system's own handle behind a descriptor, and whether it is still open.
quintptr nativeOf(int fd)
{
#ifdef Q_OS_WIN
    return quintptr(::_get_osfhandle(fd));
#else
    return quintptr(fd);
#endif
}

bool stillOpen(quintptr handle)
{
#ifdef Q_OS_WIN
    DWORD flags = 0;
    return ::GetHandleInformation(HANDLE(handle), &flags);
#else
    return ::fcntl(int(handle), F_GETFD) != -1;
#endif
}

#ifdef Q_OS_WIN
// Another program with the file open for reading, sharing it as `share` says.
HANDLE holdOpen(const QString& path, DWORD share)
{
    return ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                         GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}
#endif

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
    void companionGoesWithTheLog_data();
    void companionGoesWithTheLog();
    void twoCopiesRacingNeverShareTheLog();
    void fileShortenedByOthersGainsNoNulBytes();
    void slowSyncNeverHoldsUpAWrite();
    void recordsSyncedOncePerPeriod_data();
    void recordsSyncedOncePerPeriod();
    void syncHasAHandleOfItsOwn_data();
    void syncHasAHandleOfItsOwn();
    void failedSyncEndsTheSession_data();
    void failedSyncEndsTheSession();
    void recordsKeptAsideByCopy_data();
    void recordsKeptAsideByCopy();
#ifdef Q_OS_WIN
    void logSharedOnlyForReadingIsLeftAlone();
#endif
    void fileSystemsWithoutLocksStillRecord_data();
    void fileSystemsWithoutLocksStillRecord();

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
    QVERIFY2(piezon::support::openLog(log, path(), &error), qPrintable(error));
    QVERIFY(log.isOpen());
    QVERIFY(QFileInfo::exists(path()));
    QCOMPARE(QFileInfo(path()).size(), 0);
}

void TestMeasurementLog::openEmptiesExistingFile()
{
    QVERIFY(writeFile(path(), "records of an earlier session\r\n"));
    MeasurementLog log;
    QString error;
    QVERIFY2(piezon::support::openLog(log, path(), &error), qPrintable(error));
    QCOMPARE(contentsOf(path()), QByteArray());

    QVERIFY(log.write(kFirst, &error));
    log.close();
    QCOMPARE(contentsOf(path()), kFirst);
}

void TestMeasurementLog::eachWriteIsInTheFileAtOnce()
{
    MeasurementLog log;
    QString error;
    QVERIFY(piezon::support::openLog(log, path(), &error));

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
    QVERIFY(!piezon::support::openLog(log, path(relativePath), &error));
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
    QVERIFY2(piezon::support::openLog(log, QStringLiteral("/dev/full"), &error), qPrintable(error));
    QVERIFY(!log.write(kFirst, &error));
    QCOMPARE(error, QStringLiteral("На диске не осталось места"));
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
    QVERIFY2(piezon::support::openLog(log, path(), &error), qPrintable(error));
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
    QVERIFY(piezon::support::openLog(log, path(), &error));
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
    QVERIFY(piezon::support::openLog(log, path(), &error));
    QVERIFY(log.write(kFirst, &error));
    log.close();

    QVERIFY(piezon::support::openLog(log, path(), &error));
    QCOMPARE(contentsOf(path()), QByteArray());
    QVERIFY(log.write(kSecond, &error));
    log.close();
    QCOMPARE(contentsOf(path()), kSecond);
}

void TestMeasurementLog::openingAnotherFileLeavesTheFirstIntact()
{
    MeasurementLog log;
    QString error;
    QVERIFY(piezon::support::openLog(log, path(QStringLiteral("a.log")), &error));
    QVERIFY(log.write(kFirst, &error));
    QVERIFY(piezon::support::openLog(log, path(QStringLiteral("b.log")), &error));
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
    QVERIFY2(piezon::support::openLog(first, path(), &error), qPrintable(error));
    QVERIFY(first.write(kFirst, &error));

    MeasurementLog second;
    QCOMPARE(second.claim(path(), &error), MeasurementLog::Claim::InUse);
    QVERIFY(!second.isOpen());
    QVERIFY(!piezon::support::openLog(second, path(), &error));
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
    QVERIFY2(piezon::support::openLog(log, path(), &error), qPrintable(error));
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
    // Windows refuses to rename onto a folder as it refuses a file another program holds.
#ifdef Q_OS_WIN
    const int refused = int(MeasurementLog::Begun::Busy);
#else
    const int refused = int(MeasurementLog::Begun::NotMoved);
#endif
    QTest::newRow("a folder in the previous log's place: nothing emptied")
        << kFirst << folder << false << refused << kFirst << folder;
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

// The companion record beside the log: kept aside with the log when it holds readings, continued
// when it holds only events (never pushing out a previous record that holds readings), and a
// session without it, never a refused one, when it cannot be had.
void TestMeasurementLog::companionGoesWithTheLog_data()
{
    const QByteArray none("<none>");
    const QByteArray folder("<folder>");
    const QByteArray header = piezon::companion::header();
    const QByteArray events =
        header + "2026-12-08 10:00:00.000;0;;;;" + QStringLiteral("СТАРТ").toUtf8() + "\r\n";
    const QByteArray readings = events + "2026-12-08 10:00:00.100;100;17;15;0;0.47;\r\n";
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("previous");
    QTest::addColumn<bool>("kept"); // the session keeps a companion record
    QTest::addColumn<QByteArray>("recordAfter");
    QTest::addColumn<QByteArray>("previousAfter");
    QTest::newRow("first session: a new record with its header")
        << none << none << none << true << header << none;
    QTest::newRow("both hold readings: both kept aside")
        << kFirst << readings << events << true << header << readings;
    QTest::newRow("a record without readings goes on, the previous one stays")
        << kFirst << events << readings << true << events << readings;
    QTest::newRow("readings in the record alone: kept aside all the same")
        << QByteArray() << readings << none << true << header << readings;
    QTest::newRow("a folder in the record's place: the session goes on without it")
        << kFirst << folder << none << false << folder << none;
    QTest::newRow("the previous record cannot be replaced: the record is left as it is")
        << kFirst << readings << folder << false << readings << folder;
}

void TestMeasurementLog::companionGoesWithTheLog()
{
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, previous);
    QFETCH(bool, kept);
    QFETCH(QByteArray, recordAfter);
    QFETCH(QByteArray, previousAfter);
    const QString recordPath = path(QStringLiteral("m.csv"));
    const QString previousPath = path(QStringLiteral("m_предыдущий.csv"));
    const auto place = [](const QString& at, const QByteArray& what) {
        if (what == "<folder>")
            return QDir().mkdir(at);
        return what == "<none>" || writeFile(at, what);
    };
    if (log != "<none>")
        QVERIFY(writeFile(path(), log));
    QVERIFY(place(recordPath, record));
    QVERIFY(place(previousPath, previous));

    MeasurementLog first;
    first.keepCompanion(true);
    QString error;
    // Given up before it began, a claim leaves both files as they were.
    QCOMPARE(first.claim(path(), &error), MeasurementLog::Claim::Ok);
    first.abandon();
    QCOMPARE(state(recordPath), record);
    QCOMPARE(state(previousPath), previous);

    QCOMPARE(first.claim(path(), &error), MeasurementLog::Claim::Ok);
    QCOMPARE(first.begin(&error), MeasurementLog::Begun::Ok);
    QCOMPARE(first.companion() != nullptr, kept);
    QCOMPARE(first.companionMissing().isEmpty(), kept);
    QCOMPARE(state(recordPath), recordAfter);
    QCOMPARE(state(previousPath), previousAfter);
    // The log is as it would be without the record beside it.
    QVERIFY(first.write(kSecond, &error));
    QByteArray row = "2026-12-08 10:00:01.000;0;;;;x\r\n";
    if (kept)
        QVERIFY(first.companion()->write(row, &error));
    first.close();
    QCOMPARE(state(path()), kSecond);
    QCOMPARE(state(recordPath), kept ? recordAfter + row : recordAfter);
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
    QVERIFY(piezon::support::openLog(log, path(), &error));
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
        return 0;
    });
    QString error;
    QVERIFY(piezon::support::openLog(log, path(), &error));
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
        return 0;
    });
    QString error;
    QVERIFY(piezon::support::openLog(log, path(), &error));
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

void TestMeasurementLog::syncHasAHandleOfItsOwn_data()
{
    QTest::addColumn<QByteArray>("before"); // the log before the session
    QTest::addColumn<bool>("byCopy");
    QTest::newRow("a new log") << QByteArray() << false;
    QTest::newRow("records moved aside") << kFirst + kSecond << false;
    QTest::newRow("records copied aside") << kFirst + kSecond << true;
}

// A sync on the writer's own handle would make every record wait for the disk on Windows; and a
// handle made before the last session's log was moved aside would sync the wrong file.
void TestMeasurementLog::syncHasAHandleOfItsOwn()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, byCopy);
    QVERIFY(writeFile(path(), before));
    std::atomic<int> synced{-1};
    MeasurementLog log([&](int fd) {
        synced = fd;
        return 0;
    });
    QString error;
    QCOMPARE(log.claim(path(), &error), MeasurementLog::Claim::Ok);
    QCOMPARE(byCopy ? log.beginByCopy(&error) : log.begin(&error), MeasurementLog::Begun::Ok);
    QVERIFY(log.write(kFirst, &error));
    QTRY_VERIFY_WITH_TIMEOUT(synced.load() >= 0, 5000);
    const quintptr handle = nativeOf(synced);
    QVERIFY(handle != nativeOf(log.descriptor()));
    QFile syncedFile;
    QVERIFY(syncedFile.open(synced, QIODevice::WriteOnly, QFileDevice::DontCloseHandle));
    QCOMPARE(syncedFile.size(), kFirst.size()); // the new log, not the kept one
    syncedFile.close();
    log.close();
    QVERIFY(!stillOpen(handle)); // a handle left behind by each session would pile up
}

void TestMeasurementLog::failedSyncEndsTheSession_data()
{
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("reason");
#ifdef Q_OS_WIN
    QTest::newRow("disk full") << int(ERROR_DISK_FULL) << "На диске не осталось места";
    QTest::newRow("stick pulled out")
        << int(ERROR_FILE_INVALID) << "Диск с файлом отключён или заменён";
#else
    QTest::newRow("disk full") << ENOSPC << "На диске не осталось места";
    QTest::newRow("network folder gone") << ESTALE << "Сетевая папка больше недоступна";
#endif
}

// Records the disk did not take may be gone after a power cut: the session must end as if a
// write had failed, saying why, and the next one must start afresh.
void TestMeasurementLog::failedSyncEndsTheSession()
{
    QFETCH(int, failure);
    QFETCH(QString, reason);
    std::atomic<bool> failing{true};
    MeasurementLog log([&](int) { return failing ? failure : 0; });
    QString error;
    QVERIFY(piezon::support::openLog(log, path(), &error));
    QVERIFY(log.write(kFirst, &error));
    // Writing nothing adds no record: it only asks whether the log still takes records.
    QTRY_VERIFY_WITH_TIMEOUT(!log.write(QByteArray(), &error), 5000);
    QCOMPARE(error, reason);
    QVERIFY(!log.write(kSecond, &error));
    QCOMPARE(contentsOf(path()), kFirst);
    log.close();
    failing = false;
    QVERIFY(piezon::support::openLog(log, path(), &error));
    QVERIFY2(log.write(kSecond, &error), qPrintable(error));
}

void TestMeasurementLog::recordsKeptAsideByCopy_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QByteArray>("previous"); // <folder> or what it holds
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<int>("begun"); // what begin() says first; -1: not asked
    QTest::addColumn<int>("byCopy");
    QTest::addColumn<QByteArray>("logAfter");
    QTest::addColumn<QByteArray>("previousAfter");
    QTest::addColumn<QString>("blamed"); // the file the reason names
    const QString copy = QStringLiteral("m.log.%1.new").arg(QCoreApplication::applicationPid());
    const QString previous = QStringLiteral("m_предыдущий.log");
    const int ok = int(MeasurementLog::Begun::Ok);
    const int notMoved = int(MeasurementLog::Begun::NotMoved);
    QTest::newRow("records copied, the log emptied in place")
        << kFirst << kSecond << "" << -1 << ok << QByteArray() << kFirst << "";
    QTest::newRow("a folder in the previous log's place")
        << kFirst << QByteArray("<folder>") << "" << -1 << notMoved << kFirst
        << QByteArray("<folder>") << previous;
    QTest::newRow("the copy cannot be made")
        << kFirst << kSecond << copy << -1 << notMoved << kFirst << kSecond << copy;
#ifdef Q_OS_WIN
    const int busy = int(MeasurementLog::Begun::Busy);
    QTest::newRow("the log held by a viewer")
        << kFirst << kSecond << "log held" << busy << ok << QByteArray() << kFirst << "";
    QTest::newRow("the previous log held by a viewer")
        << kFirst << kSecond << "previous held" << busy << notMoved << kFirst << kSecond
        << previous;
    // The copy has become the previous log by then: the records are whole in both.
    QTest::newRow("the log mapped into memory by another program")
        << kFirst << kSecond << "log mapped" << busy << notMoved << kFirst << kFirst << "m.log";
#endif
}

// The fallback when another program keeps the log from being renamed: at no step are the
// records anywhere but whole in a file, and the log is never let go of.
void TestMeasurementLog::recordsKeptAsideByCopy()
{
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, previous);
    QFETCH(QString, obstacle);
    QFETCH(int, begun);
    QFETCH(int, byCopy);
    QFETCH(QByteArray, logAfter);
    QFETCH(QByteArray, previousAfter);
    QFETCH(QString, blamed);
    const QString previousPath = path(QStringLiteral("m_предыдущий.log"));
    QVERIFY(writeFile(path(), log));
    QVERIFY(previous == "<folder>" ? QDir().mkdir(previousPath)
                                   : writeFile(previousPath, previous));
    if (obstacle.endsWith(".new")) // a folder where the copy would go
        QVERIFY(QDir().mkdir(path(obstacle)));
#ifdef Q_OS_WIN
    const HANDLE held = obstacle.isEmpty() || obstacle.endsWith(".new")
                            ? INVALID_HANDLE_VALUE
                            : holdOpen(obstacle.startsWith("log") ? path() : previousPath,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE);
    const HANDLE mapping = obstacle == "log mapped"
                               ? ::CreateFileMappingW(held, nullptr, PAGE_READONLY, 0, 0, nullptr)
                               : nullptr;
    void* view = mapping ? ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    const auto release = qScopeGuard([&] {
        ::UnmapViewOfFile(view);
        ::CloseHandle(mapping);
        ::CloseHandle(held);
    });
#endif
    MeasurementLog first;
    QString error;
    QCOMPARE(first.claim(path(), &error), MeasurementLog::Claim::Ok);
    if (begun >= 0) {
        QCOMPARE(int(first.begin(&error)), begun);
        QCOMPARE(state(path()), log);
        QCOMPARE(state(previousPath), previous);
    }
    QCOMPARE(int(first.beginByCopy(&error)), byCopy);
    QCOMPARE(state(path()), logAfter);
    QCOMPARE(state(previousPath), previousAfter);
    if (!blamed.isEmpty())
        QVERIFY2(error.contains(QDir::toNativeSeparators(path(blamed))), qPrintable(error));
    MeasurementLog second;
    QCOMPARE(second.claim(path(), &error), MeasurementLog::Claim::InUse);
    if (byCopy == int(MeasurementLog::Begun::Ok)) {
        QVERIFY(first.write(kSecond, &error));
        QCOMPARE(state(path()), kSecond);
    }
    first.close();
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("*.new")}, QDir::Files), QStringList());
}

#ifdef Q_OS_WIN
// A spreadsheet program shares the log only for reading: no START may touch either file.
void TestMeasurementLog::logSharedOnlyForReadingIsLeftAlone()
{
    QVERIFY(writeFile(path(), kFirst));
    QVERIFY(writeFile(path(QStringLiteral("m_предыдущий.log")), kSecond));
    const HANDLE held = holdOpen(path(), FILE_SHARE_READ);
    MeasurementLog log;
    QString error;
    QCOMPARE(log.claim(path(), &error), MeasurementLog::Claim::HeldElsewhere);
    QVERIFY(!piezon::support::openLog(log, path(), &error));
    ::CloseHandle(held);
    QCOMPARE(contentsOf(path()), kFirst);
    QCOMPARE(contentsOf(path(QStringLiteral("m_предыдущий.log"))), kSecond);
    QCOMPARE(log.claim(path(), &error), MeasurementLog::Claim::Ok);
}
#endif

void TestMeasurementLog::fileSystemsWithoutLocksStillRecord_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("outcome");
    QTest::newRow("locked") << 0 << int(Lock::Taken);
#ifdef Q_OS_WIN
    QTest::newRow("another copy has it") << int(ERROR_LOCK_VIOLATION) << int(Lock::InUse);
    QTest::newRow("virtual drive") << int(ERROR_INVALID_PARAMETER) << int(Lock::Unsupported);
    QTest::newRow("network share") << int(ERROR_NOT_SUPPORTED) << int(Lock::Unsupported);
    QTest::newRow("device gone") << int(ERROR_DEVICE_NOT_CONNECTED) << int(Lock::Failed);
#else
    QTest::newRow("another copy has it") << EWOULDBLOCK << int(Lock::InUse);
    QTest::newRow("network share") << ENOLCK << int(Lock::Unsupported);
    QTest::newRow("FUSE without locks") << EOPNOTSUPP << int(Lock::Unsupported);
    QTest::newRow("I/O error") << EIO << int(Lock::Failed);
#endif
}

// A file system that keeps no locks must never cost the operator a START; a real failure must.
void TestMeasurementLog::fileSystemsWithoutLocksStillRecord()
{
    QFETCH(int, number);
    QFETCH(int, outcome);
    QCOMPARE(int(piezon::logfile::lockOutcome(number)), outcome);
}

QTEST_GUILESS_MAIN(TestMeasurementLog)
#include "test_measurement_log.moc"
