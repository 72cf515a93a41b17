#include "window/console_text.h"

#include <windows.h>

namespace piezon::console
{
namespace
{

bool isUsable(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void writeToConsole(HANDLE console, const QString& text)
{
    // The console's own wide-character call: Cyrillic shows whatever its code page is.
    DWORD written = 0;
    ::WriteConsoleW(console, reinterpret_cast<const wchar_t*>(text.utf16()),
                    static_cast<DWORD>(text.size()), &written, nullptr);
}

void writeToFile(HANDLE file, const QString& text)
{
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    const QByteArray utf8 = lines.toUtf8();
    DWORD written = 0;
    ::WriteFile(file, utf8.constData(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// The console of the command line that started us, once asked for.
HANDLE parentConsole()
{
    static const HANDLE console = [] {
        if (!::AttachConsole(ATTACH_PARENT_PROCESS))
            return INVALID_HANDLE_VALUE;
        return ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    }();
    return console;
}

// To the stream we were given, if any: a console, or a file or pipe we were redirected to.
bool writeToStream(DWORD stream, const QString& text)
{
    const HANDLE handle = ::GetStdHandle(stream);
    if (!isUsable(handle))
        return false;
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode))
        writeToConsole(handle, text);
    else
        writeToFile(handle, text);
    return true;
}

void write(DWORD stream, const QString& text, UINT icon)
{
    if (writeToStream(stream, text))
        return;
    const HANDLE console = parentConsole();
    if (isUsable(console)) {
        // The command prompt did not wait for us and has shown its prompt: start on a line of
        // our own.
        writeToConsole(console, QLatin1Char('\n') + text);
        return;
    }
    ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.trimmed().utf16()),
                  L"Пьезон для RX418", MB_OK | icon);
}

} // namespace

void print(const QString& text)
{
    write(STD_OUTPUT_HANDLE, text, MB_ICONINFORMATION);
}

void printError(const QString& text)
{
    write(STD_ERROR_HANDLE, text, MB_ICONWARNING);
}

void diagnostic(const QString& line)
{
    writeToStream(STD_ERROR_HANDLE, line + QLatin1Char('\n'));
}

} // namespace piezon::console
