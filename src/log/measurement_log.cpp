#include "log/measurement_log.h"

#include "log/companion_row.h"
#include "log/log_file.h"
#include "log/log_record.h"
#include "log/system_reason.h"
#include "log/whole_records.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace piezon
{
namespace
{
// Asking the file system after every record would double the system calls per reading at line
// rate; a deleted log only needs to be noticed soon, not at the very record.
constexpr qint64 kLinkCheckMs = 200;

QString naming(const QString& path, const QString& reason)
{
    return QStringLiteral("«%1»: %2").arg(QDir::toNativeSeparators(path), reason);
}

// Copies the file at `from` into a new file `to` and puts the copy on the disk. On failure
// *failed names the file at fault (with the reason). Both files are closed on return, so that
// the copy can be renamed or removed even on Windows.
bool copyToDisk(const QString& from, const QString& to, QString* failed)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *failed = naming(from, russianReason(source.errorString()));
        return false;
    }
    QFile target(to);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *failed = naming(to, russianReason(target.errorString()));
        return false;
    }
    // A day's log is megabytes: a piece at a time, not all of it in memory.
    QByteArray piece(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = source.read(piece.data(), piece.size());
        if (n < 0) {
            *failed = naming(from, russianReason(source.errorString()));
            return false;
        }
        if (n == 0)
            break;
        if (target.write(piece.constData(), n) != n) {
            *failed = naming(to, russianReason(target.errorString()));
            return false;
        }
    }
    // On the disk before it takes the previous log's place: a power cut must not leave an empty
    // previous log where the old one was.
    if (const int why = logfile::syncToDisk(target.handle())) {
        *failed = naming(to, systemReason(why));
        return false;
    }
    return true;
}
// Whether the companion record at `path` holds a reading's row: read a piece at a time, and only
// as far as the first one (a day's record is gigabytes; one without readings is a few lines).
bool companionHoldsReading(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray text;
    for (;;) {
        const QByteArray piece = file.read(1 << 16);
        if (piece.isEmpty())
            return companion::holdsReading(text);
        text += piece;
        const qsizetype lastLine = text.lastIndexOf('\n');
        if (lastLine < 0)
            continue;
        if (companion::holdsReading(text.left(lastLine + 1)))
            return true;
        text.remove(0, lastLine + 1);
    }
}

// Keeps the records of `path`, open in `held`, as `previous` by copying them there and emptying
// the file in place: what a program that holds the file open cannot prevent.
bool copyAsideInPlace(QFile& held, const QString& path, const QString& previous, QString* failed)
{
    const QString copy =
        QStringLiteral("%1.%2.new").arg(path).arg(QCoreApplication::applicationPid());
    if (!copyToDisk(path, copy, failed)) {
        QFile::remove(copy);
        return false;
    }
    if (const int why = logfile::replaceFile(copy, previous)) {
        QFile::remove(copy);
        *failed = naming(previous, systemReason(why));
        return false;
    }
    if (const int why = logfile::setSize(held.handle(), 0)) {
        *failed = naming(path, systemReason(why));
        return false;
    }
    return true;
}
} // namespace

MeasurementLog::MeasurementLog(BackgroundSync::SyncFunction sync) : m_sync(std::move(sync)) {}

MeasurementLog::~MeasurementLog()
{
    close();
}

MeasurementLog::Claim MeasurementLog::claim(const QString& path, QString* error)
{
    close();
    m_deleted = false;
    m_withoutLock = false;
    m_path = path;
    m_created = !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
    // Appending: should anyone else shorten the file, our next record goes to its new end
    // instead of leaving a hole of NUL bytes before it. Unbuffered: each write() below is one
    // system call, so a record is in the OS when we return.
    switch (logfile::openForRecords(m_file, path, error)) {
    case logfile::Opened::Ok:
        break;
    case logfile::Opened::NotAFile:
        m_created = false;
        return Claim::NotAFile;
    case logfile::Opened::HeldElsewhere:
        m_created = false;
        return Claim::HeldElsewhere;
    case logfile::Opened::Failed:
        m_created = false;
        return Claim::Failed;
    }
    switch (logfile::lockAsOnlyWriter(m_file.handle(), error)) {
    case logfile::Lock::Taken:
        break;
    case logfile::Lock::InUse:
        m_file.close();
        m_created = false;
        return Claim::InUse;
    case logfile::Lock::Unsupported:
        // A file system without locks (some network shares, virtual drives) must not keep the
        // operator from recording; there is nobody to be refused on it that we could tell of.
        m_withoutLock = true;
        break;
    case logfile::Lock::Failed:
        m_file.close();
        m_created = false;
        return Claim::Failed;
    }
    noteFileIdentity();
    claimCompanion();
    return Claim::Ok;
}

void MeasurementLog::noteFileIdentity()
{
    m_linked = logfile::canNoticeDeletion(m_file.handle());
    m_sinceLinkCheck.start();
}

MeasurementLog::Begun MeasurementLog::begin(QString* error)
{
    return beginSession(false, error);
}

MeasurementLog::Begun MeasurementLog::beginByCopy(QString* error)
{
    return beginSession(true, error);
}

MeasurementLog::Begun MeasurementLog::beginSession(bool byCopy, QString* error)
{
    if (!m_file.isOpen()) {
        if (error)
            *error = QStringLiteral("файл журнала не открыт");
        return Begun::Failed;
    }
    stopSync();
    const QFileInfo entry(m_path);
    if (entry.isSymLink()) {
        // The operator chose where the log goes: it is emptied there, in place (a device such
        // as /dev/full has nothing of its own to throw away).
        if (entry.isFile() && m_file.size() > 0) {
            if (const int why = logfile::setSize(m_file.handle(), 0)) {
                if (error)
                    *error = systemReason(why);
                return Begun::Failed;
            }
        }
    } else if (entry.isFile() && m_file.size() > 0) {
        // The last session's records are kept, under the other name; a session that recorded
        // nothing leaves the one before it where it is.
        if (byCopy) {
            const Begun copied = copyAside(error);
            if (copied != Begun::Ok)
                return copied;
        } else {
            switch (logfile::moveAside(m_file, m_path, previousLogPath(m_path), error)) {
            case logfile::Moved::Done:
                noteFileIdentity();
                break;
            case logfile::Moved::InUse:
                m_created = false;
                return Begun::InUse;
            case logfile::Moved::Busy:
                return Begun::Busy;
            case logfile::Moved::Failed:
                return Begun::NotMoved;
            }
        }
    }
    m_created = false;
    beginCompanion();
    // The sync thread's own descriptor, of the log as it is now (after a move, the new file).
    int why = 0;
    m_syncFd = logfile::openForSync(m_file.handle(), &why);
    if (m_syncFd < 0) {
        // A device has nothing to sync; a file that cannot be synced could lose its records.
        if (!logfile::canNoticeDeletion(m_file.handle()))
            return Begun::Ok;
        if (error)
            *error = systemReason(why);
        return Begun::Failed;
    }
    m_sync.start(m_syncFd, m_companionSyncFd);
    return Begun::Ok;
}

MeasurementLog::Begun MeasurementLog::copyAside(QString* error)
{
    // In this order, so that at every step the records are whole somewhere: the log is emptied
    // only once their copy is the previous log, on the disk. The log is never let go of, so no
    // second copy of the program can take it meanwhile.
    QString failed;
    if (!copyAsideInPlace(m_file, m_path, previousLogPath(m_path), &failed)) {
        if (error)
            *error = failed;
        return Begun::NotMoved;
    }
    return Begun::Ok;
}

QString MeasurementLog::companionPath() const
{
    return companion::pathBeside(m_path);
}

void MeasurementLog::claimCompanion()
{
    m_companionBegun = false;
    m_companionMissing.clear();
    if (!m_keepCompanion)
        return;
    const QString path = companionPath();
    m_companionCreated = !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
    QString reason;
    switch (logfile::openForRecords(m_companion.file(), path, &reason)) {
    case logfile::Opened::Ok:
        return;
    case logfile::Opened::HeldElsewhere:
        m_companionMissing = QStringLiteral("файл открыт в другой программе (например, в Excel), "
                                            "которая не даёт в него писать");
        break;
    case logfile::Opened::NotAFile:
        m_companionMissing = QStringLiteral("это не обычный файл");
        break;
    case logfile::Opened::Failed:
        m_companionMissing = reason;
        break;
    }
    m_companionCreated = false;
}

void MeasurementLog::beginCompanion()
{
    QFile& file = m_companion.file();
    if (!file.isOpen())
        return;
    const QString path = companionPath();
    QString reason;
    // A record that holds readings is kept under the other name, as the log is; one that holds
    // only a session's events goes on, so that it never takes the place of a previous record
    // that holds readings.
    if (file.size() > 0 && companionHoldsReading(path)) {
        switch (logfile::moveAside(file, path, previousLogPath(path), &reason)) {
        case logfile::Moved::Done:
            break;
        case logfile::Moved::InUse:
            m_companionMissing = QStringLiteral("его занял другой экземпляр программы");
            closeCompanion(false);
            return;
        case logfile::Moved::Busy:
        case logfile::Moved::Failed:
            if (!copyAsideInPlace(file, path, previousLogPath(path), &reason)) {
                m_companionMissing = reason;
                closeCompanion(false);
                return;
            }
            break;
        }
    }
    m_companionCreated = false;
    if (file.size() == 0) {
        int why = 0;
        const QByteArray header = companion::header();
        if (appendWholeRecords(file, header, &why) != header.size()) {
            m_companionMissing = systemReason(why);
            closeCompanion(false);
            return;
        }
    }
    int why = 0;
    m_companionSyncFd = logfile::openForSync(file.handle(), &why);
    m_companionBegun = true;
}

void MeasurementLog::closeCompanion(bool remove)
{
    m_companionBegun = false;
    logfile::closeForSync(m_companionSyncFd);
    m_companionSyncFd = -1;
    QFile& file = m_companion.file();
    if (!file.isOpen())
        return;
    if (!remove && file.handle() >= 0)
        BackgroundSync::syncNow(file.handle());
    file.close();
    if (remove)
        QFile::remove(companionPath());
}

void MeasurementLog::abandon()
{
    if (!m_file.isOpen())
        return;
    stopSync();
    closeCompanion(m_companionCreated);
    m_companionCreated = false;
    const bool remove = m_created;
    m_file.close();
    if (remove)
        QFile::remove(m_path);
    m_created = false;
}

bool MeasurementLog::write(const QByteArray& records, QString* error, qint64* kept)
{
    if (kept)
        *kept = 0;
    if (!m_file.isOpen()) {
        if (error)
            *error = QStringLiteral("файл журнала не открыт");
        return false;
    }
    if (const int failed = m_sync.failure()) {
        if (error)
            *error = systemReason(failed);
        return false;
    }
    int why = 0;
    const qint64 whole = appendWholeRecords(m_file, records, &why);
    if (whole != records.size()) {
        if (error)
            *error = systemReason(why);
        if (whole > 0)
            m_sync.noteWritten();
        if (kept)
            *kept = whole;
        return false;
    }
    if (kept)
        *kept = whole;
    m_sync.noteWritten();
    // An open file that is deleted takes every write without complaint and vanishes at close;
    // the operator would find no log at all.
    if (!m_linked || m_sinceLinkCheck.elapsed() < kLinkCheckMs)
        return true;
    m_sinceLinkCheck.start();
    if (logfile::wasDeleted(m_file.handle(), m_path)) {
        m_deleted = true;
        if (error)
            *error = QStringLiteral("файл удалён");
        return false;
    }
    return true;
}

void MeasurementLog::stopSync()
{
    m_sync.stop();
    logfile::closeForSync(m_syncFd);
    m_syncFd = -1;
}

void MeasurementLog::close()
{
    if (!m_file.isOpen())
        return;
    stopSync();
    closeCompanion(false);
    if (m_file.handle() >= 0)
        BackgroundSync::syncNow(m_file.handle());
    m_file.close();
    m_created = false;
}

} // namespace piezon
