#include "log/log_file.h"

#include "log/log_record.h"

#include "log/system_reason.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace piezon
{
QString logFilePath(const QString& programDir)
{
    // A file-system root ("/") gets no doubled separator.
    return QDir(programDir).filePath(logFileName());
}
} // namespace piezon

namespace piezon::logfile
{
namespace
{
constexpr QIODevice::OpenMode kRecords =
    QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;

QString reason(int number)
{
    return systemReason(number);
}

bool waitsForAPartner(mode_t mode)
{
    return S_ISFIFO(mode) || S_ISSOCK(mode);
}

// A new file locked at once, for appending; -1 with errno if it cannot be made.
int createLocked(const QByteArray& path)
{
    const int fd =
        ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0)
        ::flock(fd, LOCK_EX | LOCK_NB); // nobody else knows its name yet
    return fd;
}

int exchange(const QByteArray& a, const QByteArray& b)
{
    return ::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE);
}
} // namespace

Opened openForRecords(QFile& file, const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    // Opening a FIFO for writing would wait for a reader, for ever; look before opening, and
    // open without waiting in case it appears in between.
    struct stat info {
    };
    if (::stat(name.constData(), &info) == 0 && waitsForAPartner(info.st_mode))
        return Opened::NotAFile;
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int why = errno;
        if (why == ENXIO) // a socket, or a FIFO without a reader
            return Opened::NotAFile;
        if (error)
            *error = reason(why);
        return Opened::Failed;
    }
    if (::fstat(fd, &info) == 0 && waitsForAPartner(info.st_mode)) {
        ::close(fd);
        return Opened::NotAFile;
    }
    // Records are written whole or not at all, as in a blocking write.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, kRecords, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = file.errorString();
        return Opened::Failed;
    }
    return Opened::Ok;
}

Lock lockAsOnlyWriter(int fd, QString* error)
{
    // flock, not fcntl: it belongs to this open of the file, so a second open in the same
    // process is refused as well, and it is not dropped when some other descriptor of the file
    // is closed.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Lock::Taken;
    const int why = errno;
    const Lock outcome = lockOutcome(why);
    if (outcome == Lock::Failed && error)
        *error = reason(why);
    return outcome;
}

Lock lockOutcome(int errorNumber)
{
    switch (errorNumber) {
    case 0:
        return Lock::Taken;
    case EWOULDBLOCK:
        return Lock::InUse;
    // Some network shares and FUSE file systems keep no locks.
    case ENOLCK:
    case EOPNOTSUPP:
    case EINVAL:
    case ENOSYS:
        return Lock::Unsupported;
    default:
        return Lock::Failed;
    }
}

Moved moveAside(QFile& held, const QString& path, const QString& previous, QString* error)
{
    const QByteArray log = QFile::encodeName(path);
    const QByteArray old = QFile::encodeName(previous);
    const QByteArray fresh = log + '.' + QByteArray::number(::getpid()) + ".new";
    const int fd = createLocked(fresh);
    if (fd < 0) { // a read-only folder, or none left to write in
        if (error)
            *error = reason(errno);
        return Moved::Failed;
    }
    const auto failed = [&](int why) {
        ::unlink(fresh.constData());
        ::close(fd);
        if (error)
            *error = reason(why);
        return Moved::Failed;
    };
    if (exchange(log, fresh) == 0) {
        // The new file took the log's name in the same step as the old one left it: there was
        // no moment without a locked log at the path.
        if (::rename(fresh.constData(), old.constData()) != 0) {
            const int why = errno;
            exchange(log, fresh);
            return failed(why);
        }
    } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        // A file system that cannot exchange two names: move the old log away, then give the new
        // one its name only if nobody has taken it meanwhile.
        if (::rename(log.constData(), old.constData()) != 0)
            return failed(errno);
        if (::link(fresh.constData(), log.constData()) != 0) {
            const int why = errno;
            if (why == EEXIST) {
                ::unlink(fresh.constData());
                ::close(fd);
                held.close();
                return Moved::InUse;
            }
            // No hard links here either (some removable media): the plain rename.
            if (::rename(fresh.constData(), log.constData()) != 0) {
                const int again = errno;
                ::rename(old.constData(), log.constData());
                return failed(again);
            }
        } else {
            ::unlink(fresh.constData());
        }
    } else {
        return failed(errno);
    }
    held.close(); // the previous session's lock goes with it
    if (!held.open(fd, kRecords, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = held.errorString();
        return Moved::Failed;
    }
    return Moved::Done;
}

int replaceFile(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0
               ? 0
               : errno;
}

int setSize(int fd, qint64 size)
{
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

qint64 writeAtEnd(int fd, const char* data, qint64 size, int* why)
{
    // O_APPEND puts every write at the end.
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (why)
                *why = n < 0 ? errno : EIO;
            break;
        }
        done += n;
    }
    return done;
}

bool canNoticeDeletion(int fd)
{
    struct stat info {
    };
    return ::fstat(fd, &info) == 0 && info.st_nlink > 0 && S_ISREG(info.st_mode);
}

bool wasDeleted(int fd, const QString&)
{
    // An open file that is deleted takes every write without complaint and vanishes at close.
    struct stat info {
    };
    return ::fstat(fd, &info) == 0 && info.st_nlink == 0;
}

int openForSync(int fd, int* why)
{
    // fdatasync works on any descriptor of the file; this one is only for the sync thread.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0 && why)
        *why = errno;
    return copy;
}

void closeForSync(int syncFd)
{
    if (syncFd >= 0)
        ::close(syncFd);
}

void startWriteback(int fd)
{
    // A device or a pipe answers with an error that changes nothing: the sync that follows is
    // what counts.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

int syncToDisk(int fd)
{
    for (;;) {
        if (::fdatasync(fd) == 0)
            return 0;
        const int why = errno;
        if (why == EINTR)
            continue;
        // A device the operator linked the log to (/dev/null, a terminal) has nothing to sync.
        if (why == EINVAL || why == EROFS)
            return 0;
        return why;
    }
}

} // namespace piezon::logfile
