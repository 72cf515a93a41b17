#include "log/log_file.h"

#include "log/system_reason.h"

#include <io.h>
#include <windows.h>

namespace piezon::logfile
{
namespace
{
HANDLE nativeHandle(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// One byte far beyond any log's end: locking it takes nothing from readers or from our own
// writes, and every copy of the program asks for the same byte.
constexpr DWORD kLockOffsetHigh = 0x7fffffff;
} // namespace

Lock lockAsOnlyWriter(int fd, QString* error)
{
    const HANDLE file = nativeHandle(fd);
    if (file == INVALID_HANDLE_VALUE) {
        if (error)
            *error = systemReason(ERROR_INVALID_HANDLE);
        return Lock::Failed;
    }
    OVERLAPPED where{};
    where.OffsetHigh = kLockOffsetHigh;
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where))
        return Lock::Taken;
    const DWORD why = ::GetLastError();
    if (why == ERROR_LOCK_VIOLATION || why == ERROR_SHARING_VIOLATION || why == ERROR_IO_PENDING)
        return Lock::InUse;
    if (why == ERROR_NOT_SUPPORTED || why == ERROR_INVALID_FUNCTION)
        return Lock::Unsupported;
    if (error)
        *error = systemReason(static_cast<int>(why));
    return Lock::Failed;
}

void keepAppending(QFile& file)
{
    // The lock keeps every other copy of the program from writing; only a shortening (an
    // operator's editor) can move the end, and never in the middle of our write.
    const qint64 end = file.size();
    if (file.pos() != end)
        file.seek(end);
}

bool canNoticeDeletion(int)
{
    // The log is opened without FILE_SHARE_DELETE: Windows refuses to delete it while it is open.
    return false;
}

bool wasDeleted(int)
{
    return false;
}

void syncToDisk(int fd)
{
    const HANDLE file = nativeHandle(fd);
    if (file != INVALID_HANDLE_VALUE)
        ::FlushFileBuffers(file);
}

} // namespace piezon::logfile
