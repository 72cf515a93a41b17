#include "window/process_setup.h"

#include "log/system_reason.h"
#include "window/console_text.h"

#include <cstdlib>
#include <string>
#include <windows.h>

namespace piezon::process
{
namespace
{

// Without it the toolkit can draw no window at all; it lives in the program's own folder.
constexpr wchar_t kPlatformPlugin[] = L"platforms\\qwindows.dll";
constexpr int kStartFailed = 1;

// The folder the running program was started from, with a backslash at its end; as long as the
// system reports it (a folder nested deep enough is longer than MAX_PATH).
std::wstring programFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (got == 0)
            return {};
        if (got < path.size()) {
            path.resize(got);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Before there is an application object the only way to reach the operator is the system's
// own message box; the console copy is for whoever started the program from a command line.
void tellOperator(const QString& text)
{
    console::diagnostic(text);
    ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.utf16()), L"Пьезон для RX418",
                  MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

QString reinstallAdvice()
{
    return QStringLiteral("Установите программу заново\n"
                          "или распакуйте её архив заново, целиком.");
}

} // namespace

std::optional<int> cannotStart()
{
    const std::wstring plugin = programFolder() + kPlatformPlugin;
    const QString shown = QString::fromWCharArray(plugin.c_str());
    if (::GetFileAttributesW(plugin.c_str()) == INVALID_FILE_ATTRIBUTES) {
        tellOperator(QStringLiteral("Программа не может запуститься: нет файла\n%1\n"
                                    "(модуль, которым она рисует своё окно).\n\n%2")
                         .arg(shown, reinstallAdvice()));
        return kStartFailed;
    }
    // Present is not enough: a damaged or half-copied file, or one whose own DLLs are missing,
    // fails only when the toolkit loads it, and then ends the process without a word.
    const HMODULE loaded = ::LoadLibraryExW(plugin.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!loaded) {
        const QString why = systemReason(int(::GetLastError()));
        tellOperator(QStringLiteral("Программа не может запуститься: не загружается файл\n%1\n"
                                    "(модуль, которым она рисует своё окно): %2.\n\n%3")
                         .arg(shown, why, reinstallAdvice()));
        return kStartFailed;
    }
    ::FreeLibrary(loaded);
    return std::nullopt;
}

void abandonStart(const QString& toolkitMessage)
{
    tellOperator(QStringLiteral("Программа не может открыть своё окно.\n\n"
                                "Сообщение библиотеки окон: %1\n\n%2")
                     .arg(toolkitMessage.trimmed(), reinstallAdvice()));
    std::_Exit(kStartFailed);
}

void prepare()
{
    // A port or a disk that fails must come back to us as an error code, never as the system's
    // own "insert a disk" or "critical error" dialog that holds the program until answered.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // The installer and the uninstaller ask for this name before they touch the program's
    // files. Held for the life of the process; the system lets it go when the process ends.
    ::CreateMutexW(nullptr, FALSE, L"Local\\PiezonRX418.Running");
}

void releaseFreeMemory()
{
    // The system's heap decommits large free blocks of its own accord; nothing measured there
    // calls for more.
}

} // namespace piezon::process
