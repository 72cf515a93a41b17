#include "log/measurement_log.h"

#include "log/log_file.h"
#include "log/log_record.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace piezon
{
namespace
{
// Asking the file system after every record would double the system calls per reading at line
// rate; a deleted log only needs to be noticed soon, not at the very record.
constexpr qint64 kLinkCheckMs = 200;
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
        // A file system without locks (some network shares) must not keep the operator from
        // recording; there is nobody to be refused on it that we could tell of anyway.
        break;
    case logfile::Lock::Failed:
        m_file.close();
        m_created = false;
        return Claim::Failed;
    }
    noteFileIdentity();
    return Claim::Ok;
}

void MeasurementLog::noteFileIdentity()
{
    m_linked = logfile::canNoticeDeletion(m_file.handle());
    m_sinceLinkCheck.start();
}

MeasurementLog::Begun MeasurementLog::begin(QString* error)
{
    if (!m_file.isOpen()) {
        if (error)
            *error = QStringLiteral("файл журнала не открыт");
        return Begun::Failed;
    }
    const QFileInfo entry(m_path);
    if (entry.isSymLink()) {
        // The operator chose where the log goes: it is emptied there, in place (a device such
        // as /dev/full has nothing of its own to throw away).
        if (entry.isFile() && m_file.size() > 0 && !m_file.resize(0)) {
            if (error)
                *error = m_file.errorString();
            return Begun::Failed;
        }
    } else if (entry.isFile() && m_file.size() > 0) {
        // The last session's records are kept, under the other name; a session that recorded
        // nothing leaves the one before it where it is.
        switch (logfile::moveAside(m_file, m_path, previousLogPath(m_path), error)) {
        case logfile::Moved::Done:
            noteFileIdentity();
            break;
        case logfile::Moved::InUse:
            m_created = false;
            return Begun::InUse;
        case logfile::Moved::Failed:
            return Begun::NotMoved;
        }
    }
    m_created = false;
    m_sync.start(m_file.handle());
    return Begun::Ok;
}

bool MeasurementLog::open(const QString& path, QString* error)
{
    if (claim(path, error) != Claim::Ok) {
        if (m_file.isOpen())
            abandon();
        if (error && error->isEmpty())
            *error = QStringLiteral("файл журнала открыт другой программой");
        return false;
    }
    if (begin(error) != Begun::Ok) {
        close();
        if (error && error->isEmpty())
            *error = QStringLiteral("файл журнала открыт другой программой");
        return false;
    }
    return true;
}

void MeasurementLog::abandon()
{
    if (!m_file.isOpen())
        return;
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
    logfile::keepAppending(m_file);
    errno = 0;
    const qint64 written = m_file.write(records);
    if (written != records.size()) {
        const int cause = errno;
        // A full disk can take part of the records; cut off the torn one so that the file ends
        // on a whole line. Measured from the file's end as it is now, so a file that someone
        // else shortened is never lengthened (with NUL bytes) by the cut.
        const qint64 whole = written > 0 ? records.lastIndexOf('\n', written - 1) + 1 : 0;
        if (error) {
            // After a short write Qt reports nothing; the system still says why.
            *error = m_file.error() != QFileDevice::NoError || cause == 0
                         ? m_file.errorString()
                         : QString::fromLocal8Bit(std::strerror(cause));
        }
        if (written > whole) {
            const qint64 end = m_file.size();
            if (end >= written - whole)
                m_file.resize(end - (written - whole));
        }
        if (whole > 0)
            m_sync.noteWritten();
        if (kept)
            *kept = whole;
        return false;
    }
    if (kept)
        *kept = written;
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

void MeasurementLog::close()
{
    if (!m_file.isOpen())
        return;
    m_sync.stop();
    if (m_file.handle() >= 0)
        BackgroundSync::syncNow(m_file.handle());
    m_file.close();
    m_created = false;
}

} // namespace piezon
