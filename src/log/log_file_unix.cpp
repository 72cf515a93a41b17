#include "log/log_file.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace piezon::logfile
{

Lock lockAsOnlyWriter(int fd, QString* error)
{
    // flock, not fcntl: it belongs to this open of the file, so a second open in the same
    // process is refused as well, and it is not dropped when some other descriptor of the file
    // is closed.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Lock::Taken;
    const int why = errno;
    if (why == EWOULDBLOCK)
        return Lock::InUse;
    // Some network shares keep no locks.
    if (why == ENOLCK || why == EOPNOTSUPP || why == EINVAL)
        return Lock::Unsupported;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(why));
    return Lock::Failed;
}

void keepAppending(QFile&)
{
    // O_APPEND already puts every write at the end.
}

bool canNoticeDeletion(int fd)
{
    struct stat info {
    };
    return ::fstat(fd, &info) == 0 && info.st_nlink > 0 && S_ISREG(info.st_mode);
}

bool wasDeleted(int fd)
{
    // An open file that is deleted takes every write without complaint and vanishes at close.
    struct stat info {
    };
    return ::fstat(fd, &info) == 0 && info.st_nlink == 0;
}

void syncToDisk(int fd)
{
    ::fdatasync(fd);
}

} // namespace piezon::logfile
