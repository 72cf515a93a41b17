#include "log/log_file.h"

#include "log/log_record.h"
#include "log/system_reason.h"

#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace piezon
{
QString logFilePath(const QString& programDir)
{
    return joinedWithBackslash(programDir);
}
} // namespace piezon

namespace piezon::logfile
{
namespace
{
constexpr QIODevice::OpenMode kRecords =
    QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;

HANDLE nativeHandle(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

// Shared for deleting too: without it Windows refuses to rename the open log when the next
// session moves it aside. It can then be deleted while open as well, which wasDeleted() notices.
HANDLE openShared(const QString& path, DWORD disposition)
{
    return ::CreateFileW(wide(windowsFilePath(path)), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The handle as the descriptor QFile works with; -1 (handle closed) if it cannot be had.
int descriptor(HANDLE handle)
{
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        ::CloseHandle(handle);
    return fd;
}

// One byte far beyond any log's end: locking it takes nothing from readers or from our own
// writes, and every copy of the program asks for the same byte.
constexpr DWORD kLockOffsetHigh = 0x7fffffff;
} // namespace

Opened openForRecords(QFile& file, const QString& path, QString* error)
{
    // No FIFO can stand in a folder here; a device name (COM1, NUL) is the operator's choice.
    const HANDLE handle = openShared(path, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD why = ::GetLastError();
        // Another program has it open and shares it only for reading (a spreadsheet program
        // does): nobody else may write to it while it is open there.
        if (why == ERROR_SHARING_VIOLATION)
            return Opened::HeldElsewhere;
        if (error)
            *error = systemReason(static_cast<int>(why));
        return Opened::Failed;
    }
    const int fd = descriptor(handle);
    if (fd < 0 || !file.open(fd, kRecords, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::_close(fd);
        if (error)
            *error = systemReason(ERROR_INVALID_HANDLE);
        return Opened::Failed;
    }
    return Opened::Ok;
}

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
    const int why = static_cast<int>(::GetLastError());
    const Lock outcome = lockOutcome(why);
    if (outcome == Lock::Failed && error)
        *error = systemReason(why);
    return outcome;
}

Lock lockOutcome(int errorNumber)
{
    switch (errorNumber) {
    case ERROR_SUCCESS:
        return Lock::Taken;
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
    case ERROR_IO_PENDING:
        return Lock::InUse;
    // What network shares, virtual and cloud drives answer when they keep no locks.
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return Lock::Unsupported;
    default:
        return Lock::Failed;
    }
}

Moved moveAside(QFile& held, const QString& path, const QString& previous, QString* error)
{
    // Windows cannot exchange two names: the old log moves away, then the new one is created
    // only if nobody has made one at its name meanwhile.
    if (!::MoveFileExW(wide(windowsFilePath(path)), wide(windowsFilePath(previous)),
                       MOVEFILE_REPLACE_EXISTING)) {
        const DWORD why = ::GetLastError();
        if (error)
            *error = systemReason(static_cast<int>(why));
        // Someone has one of the two files open without sharing it for deleting (log viewers,
        // antivirus, backup and sync programs do, mostly for a moment).
        if (why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION ||
            why == ERROR_ACCESS_DENIED)
            return Moved::Busy;
        return Moved::Failed;
    }
    const HANDLE handle = openShared(path, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD why = ::GetLastError();
        if (why == ERROR_FILE_EXISTS || why == ERROR_ALREADY_EXISTS) {
            held.close();
            return Moved::InUse;
        }
        ::MoveFileExW(wide(windowsFilePath(previous)), wide(windowsFilePath(path)), 0);
        if (error)
            *error = systemReason(static_cast<int>(why));
        return Moved::Failed;
    }
    const int fd = descriptor(handle);
    if (fd < 0) {
        if (error)
            *error = systemReason(ERROR_INVALID_HANDLE);
        return Moved::Failed;
    }
    if (lockAsOnlyWriter(fd, nullptr) == Lock::InUse) {
        ::_close(fd);
        held.close();
        return Moved::InUse;
    }
    held.close(); // the previous session's lock goes with it
    if (!held.open(fd, kRecords, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        if (error)
            *error = held.errorString();
        return Moved::Failed;
    }
    return Moved::Done;
}

int replaceFile(const QString& from, const QString& to)
{
    return ::MoveFileExW(wide(windowsFilePath(from)), wide(windowsFilePath(to)),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : static_cast<int>(::GetLastError());
}

int setSize(int fd, qint64 size)
{
    const HANDLE file = nativeHandle(fd);
    LARGE_INTEGER at{};
    at.QuadPart = size;
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file))
        return static_cast<int>(::GetLastError());
    return 0;
}

qint64 writeAtEnd(int fd, const char* data, qint64 size, int* why)
{
    // Windows has no appending mode for a file that can also be emptied. The lock keeps every
    // other copy of the program from writing; only a shortening (an operator's editor) can move
    // the end, and never in the middle of our write.
    const HANDLE file = nativeHandle(fd);
    LARGE_INTEGER none{};
    if (!::SetFilePointerEx(file, none, nullptr, FILE_END)) {
        if (why)
            *why = static_cast<int>(::GetLastError());
        return 0;
    }
    qint64 done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<qint64>(size - done, 1 << 30));
        DWORD n = 0;
        if (!::WriteFile(file, data + done, chunk, &n, nullptr)) {
            if (why)
                *why = static_cast<int>(::GetLastError());
            return done + n;
        }
        if (n == 0) {
            if (why)
                *why = ERROR_WRITE_FAULT;
            break;
        }
        done += n;
    }
    return done;
}

bool canNoticeDeletion(int fd)
{
    return ::GetFileType(nativeHandle(fd)) == FILE_TYPE_DISK;
}

bool wasDeleted(int fd, const QString& path)
{
    // Deleting a file that is open (shared for deleting) marks it, and it goes at the last close.
    const HANDLE file = nativeHandle(fd);
    FILE_STANDARD_INFO info{};
    if (::GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
        (info.DeletePending || info.NumberOfLinks == 0))
        return true;
    // Not every file system says so of the open file; its name does: it no longer opens (a file
    // waiting to be deleted is refused as "access denied"), or opens another file.
    const HANDLE named = ::CreateFileW(wide(windowsFilePath(path)), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        const DWORD why = ::GetLastError();
        return why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND ||
               why == ERROR_ACCESS_DENIED || why == ERROR_DELETE_PENDING;
    }
    BY_HANDLE_FILE_INFORMATION ours{};
    BY_HANDLE_FILE_INFORMATION theirs{};
    const bool known =
        ::GetFileInformationByHandle(file, &ours) && ::GetFileInformationByHandle(named, &theirs);
    ::CloseHandle(named);
    return known && (ours.dwVolumeSerialNumber != theirs.dwVolumeSerialNumber ||
                     ours.nFileIndexHigh != theirs.nFileIndexHigh ||
                     ours.nFileIndexLow != theirs.nFileIndexLow);
}

int openForSync(int fd, int* why)
{
    // A handle of its own (not a duplicate, which would be the same one): a flush on it waits
    // for the disk without holding up the writer's next record. Made after each move, so that
    // it is always the log's own.
    const HANDLE handle = ::ReOpenFile(nativeHandle(fd), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        if (why)
            *why = static_cast<int>(::GetLastError());
        return -1;
    }
    const int syncFd = descriptor(handle);
    if (syncFd < 0 && why)
        *why = ERROR_INVALID_HANDLE;
    return syncFd;
}

void closeForSync(int syncFd)
{
    if (syncFd >= 0)
        ::_close(syncFd);
}

void startWriteback(int)
{
    // Windows has only the whole flush.
}

int syncToDisk(int fd)
{
    const HANDLE file = nativeHandle(fd);
    if (file == INVALID_HANDLE_VALUE)
        return ERROR_INVALID_HANDLE;
    if (::FlushFileBuffers(file))
        return 0;
    const DWORD why = ::GetLastError();
    // A device (NUL, a port) keeps nothing to flush.
    if (why == ERROR_SUCCESS || why == ERROR_INVALID_FUNCTION || why == ERROR_NOT_SUPPORTED)
        return 0;
    return static_cast<int>(why);
}

} // namespace piezon::logfile
