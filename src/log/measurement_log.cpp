#include "log/measurement_log.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#endif

namespace piezon
{
namespace
{
// Asking the file system after every record would double the system calls per reading at line
// rate; a deleted log only needs to be noticed soon, not at the very record.
constexpr qint64 kLinkCheckMs = 200;
} // namespace

MeasurementLog::~MeasurementLog()
{
    close();
}

bool MeasurementLog::open(const QString& path, QString* error)
{
    close();
    m_deleted = false;
    m_file.setFileName(path);
    // Unbuffered: each write() below is one system call, so a record is in the OS when we return.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    struct stat info {
    };
    m_linked = ::fstat(m_file.handle(), &info) == 0 && info.st_nlink > 0;
    m_sinceLinkCheck.start();
#endif
    return true;
}

bool MeasurementLog::write(const QByteArray& records, QString* error, qint64* kept)
{
    if (kept)
        *kept = 0;
    if (!m_file.isOpen()) {
        if (error)
            *error = QStringLiteral("log is not open");
        return false;
    }
    const qint64 before = m_file.pos();
    errno = 0;
    const qint64 written = m_file.write(records);
    if (written != records.size()) {
        const int cause = errno;
        // A full disk can take part of the records; cut off the torn one so that the file ends
        // on a whole line.
        const qint64 whole = written > 0 ? records.lastIndexOf('\n', written - 1) + 1 : 0;
        if (error) {
            // After a short write Qt reports nothing; the system still says why.
            *error = m_file.error() != QFileDevice::NoError || cause == 0
                         ? m_file.errorString()
                         : QString::fromLocal8Bit(std::strerror(cause));
        }
        m_file.resize(before + whole);
        if (kept)
            *kept = whole;
        return false;
    }
    if (kept)
        *kept = written;
#ifdef Q_OS_UNIX
    // An open file that is deleted takes every write without complaint and vanishes at close;
    // the operator would find no log at all. (Windows does not let an open log be deleted.)
    if (!m_linked || m_sinceLinkCheck.elapsed() < kLinkCheckMs)
        return true;
    m_sinceLinkCheck.start();
    struct stat info {
    };
    if (::fstat(m_file.handle(), &info) == 0 && info.st_nlink == 0) {
        m_deleted = true;
        if (error)
            *error = QStringLiteral("the file was deleted");
        return false;
    }
#endif
    return true;
}

void MeasurementLog::close()
{
    if (!m_file.isOpen())
        return;
    const int fd = m_file.handle();
    if (fd >= 0) {
#ifdef Q_OS_UNIX
        ::fsync(fd);
#elif defined(Q_OS_WIN)
        ::_commit(fd);
#endif
    }
    m_file.close();
}

} // namespace piezon
