#include "record/record_file.h"

#include "log/log_record.h"
#include "log/system_reason.h"

#include <algorithm>
#include <windows.h>

namespace piezon
{
namespace
{

HANDLE handleOf(qintptr h)
{
    return reinterpret_cast<HANDLE>(h);
}

} // namespace

RecordFile::~RecordFile()
{
    close();
}

bool RecordFile::open(const QString& path, QString* error)
{
    close();
    const QString native = windowsFilePath(path);
    const auto* name = reinterpret_cast<const wchar_t*>(native.utf16());
    const DWORD attributes = ::GetFileAttributesW(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = QStringLiteral("Это папка, а не файл");
        return false;
    }
    // Sharing deletion too, unlike QFile: the session moves its record aside by renaming it, and
    // Windows refuses that while any handle to it does not share deleting.
    const HANDLE h = ::CreateFileW(
        name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = systemReason(int(::GetLastError()));
        return false;
    }
    LARGE_INTEGER size = {};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size)) {
        *error = QStringLiteral("Это не файл");
        ::CloseHandle(h);
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(h);
    m_size = qint64(size.QuadPart);
    return true;
}

qint64 RecordFile::read(char* into, qint64 most, QString* error)
{
    DWORD got = 0;
    const auto want = DWORD(std::min<qint64>(most, 1 << 30));
    if (!::ReadFile(handleOf(m_handle), into, want, &got, nullptr)) {
        *error = systemReason(int(::GetLastError()));
        return -1;
    }
    return qint64(got);
}

void RecordFile::close()
{
    if (m_handle == kClosed)
        return;
    ::CloseHandle(handleOf(m_handle));
    m_handle = kClosed;
    m_size = 0;
}

} // namespace piezon
