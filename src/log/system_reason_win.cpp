#include "log/system_reason.h"

#include <iterator>
#include <windows.h>

namespace piezon
{
namespace
{
// ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers do not name.
constexpr int kDiskQuotaExceeded = 1295;

// Windows words these in the language of its own installation, which need not be Russian.
const KnownReason kKnown[] = {
    // Qt takes this number for the C library's ENOENT, which has the same value.
    {ERROR_FILE_NOT_FOUND, "Нет такого файла или устройства", nullptr, "No such file or directory"},
    {ERROR_PATH_NOT_FOUND, "Нет такой папки"},
    {ERROR_INVALID_NAME, "Недопустимое имя файла или устройства"},
    {ERROR_BAD_UNIT, "Устройство не найдено"},
    // What a COM number that leads to no working device answers to being opened.
    {ERROR_INVALID_FUNCTION, "Устройство не отвечает как последовательный порт"},
    {ERROR_DEV_NOT_EXIST, "Устройство не найдено"},
    {ERROR_NOT_READY, "Устройство не готово"},
    // A COM port held by another program, a read-only file or a folder without permission.
    {ERROR_ACCESS_DENIED, "Доступ запрещён: порт или файл занят другой программой, или нет прав"},
    {ERROR_SHARING_VIOLATION, "Файл занят другой программой"},
    {ERROR_LOCK_VIOLATION, "Файл заблокирован другой программой"},
    {ERROR_BUSY, "Устройство занято"},
    {ERROR_GEN_FAILURE, "Устройство не работает"},
    {ERROR_IO_DEVICE, "Ошибка ввода-вывода"},
    {ERROR_DISK_FULL, "На диске не осталось места"},
    {ERROR_HANDLE_DISK_FULL, "На диске не осталось места"},
    {ERROR_WRITE_PROTECT, "Диск защищён от записи"},
    {ERROR_FILE_TOO_LARGE, "Файл слишком велик"},
    {kDiskQuotaExceeded, "Превышена дисковая квота"},
    {ERROR_DIRECTORY, "Это папка, а не файл"},
    {ERROR_SEM_TIMEOUT, "Время ожидания истекло"},
    {ERROR_OPERATION_ABORTED, "Операция прервана: устройство отключилось"},
    {ERROR_DEVICE_NOT_CONNECTED, "Устройство не подключено"},
    // What serial drivers answer for a line whose far end or adapter went away, and for settings
    // the adapter does not take.
    {ERROR_BROKEN_PIPE, "Линия разорвана"},
    {ERROR_BAD_COMMAND, "Устройство не понимает команду"},
    {ERROR_INVALID_PARAMETER, "Неверный параметр"},
    {ERROR_COUNTER_TIMEOUT, "Время ожидания истекло"},
    // What a log's writes and syncs meet: a network folder that went away, a stick pulled out or
    // swapped, a file deleted under us, another program that has the file mapped into memory.
    {ERROR_NETNAME_DELETED, "Сетевая папка больше недоступна"},
    {ERROR_BAD_NETPATH, "Сетевая папка не найдена"},
    {ERROR_UNEXP_NET_ERR, "Непредвиденная ошибка сети"},
    {ERROR_NETWORK_ACCESS_DENIED, "Нет доступа к сетевой папке"},
    {ERROR_NETWORK_UNREACHABLE, "Сеть недоступна"},
    {ERROR_FILE_INVALID, "Диск с файлом отключён или заменён"},
    {ERROR_DELETE_PENDING, "Файл удалён"},
    {ERROR_USER_MAPPED_FILE, "Файл открыт в другой программе, которая не даёт его изменить"},
    {ERROR_WRITE_FAULT, "Ошибка записи на устройство"},
    {ERROR_CRC, "Ошибка данных на диске: носитель повреждён"},
    {ERROR_NOT_SUPPORTED, "Операция не поддерживается"},
    // What loading one of the program's own modules meets when its folder was copied partly or
    // mixed with another version's.
    {ERROR_BAD_EXE_FORMAT, "Файл повреждён или не является модулем Windows"},
    {ERROR_MOD_NOT_FOUND, "Не найден модуль, который нужен этому файлу"},
    {ERROR_PROC_NOT_FOUND, "Файл от другой версии программы"},
    {ERROR_DLL_INIT_FAILED, "Модуль не смог запуститься"},
};
} // namespace

KnownReasons knownReasons()
{
    return {std::begin(kKnown), std::end(kKnown)};
}

QString systemText(int errorNumber)
{
    // As Qt words it (qt_error_string), so that russianReason() recognises Qt's texts.
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(errorNumber), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString words;
    if (length > 0 && text)
        words = QString::fromWCharArray(text, static_cast<int>(length)).trimmed();
    ::LocalFree(text);
    return words.isEmpty() ? QStringLiteral("Системная ошибка %1").arg(errorNumber) : words;
}

} // namespace piezon
