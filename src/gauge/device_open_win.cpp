#include "gauge/device_open.h"

#include <windows.h>

namespace piezon::deviceopen
{

Result tryOpen(const QString& device)
{
    // "COM10" and above open only by the device namespace; it serves every number.
    const QString path = QStringLiteral("\\\\.\\") + device;
    const HANDLE handle =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                      0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    // A COM port takes one handle at a time: ours must be gone before the port opens it.
    ::CloseHandle(handle);
    return {true, kNone};
}

void close(Handle handle)
{
    if (handle != kNone)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

} // namespace piezon::deviceopen
