#include "log/system_reason.h"

#include <cerrno>
#include <cstring>
#include <iterator>

namespace piezon
{
namespace
{
const KnownReason kKnown[] = {
    {ENOENT, "Нет такого файла или устройства"},
    {ENODEV, "Устройство не найдено"},
    {ENXIO, "Устройство не найдено или не отвечает"},
    {EACCES, "Нет прав доступа"},
    {EPERM, "Операция не разрешена"},
    {EBUSY, "Устройство занято"},
    {EIO, "Ошибка ввода-вывода"},
    {ENOSPC, "На диске не осталось места"},
    {EROFS, "Файловая система доступна только для чтения"},
    {EDQUOT, "Превышена дисковая квота"},
    {EFBIG, "Файл слишком велик"},
    {EISDIR, "Это папка, а не файл", "Это папка, а не последовательный порт"},
    {ENOTDIR, "Часть пути не является папкой"},
    {ETXTBSY, "Файл занят"},
    {EAGAIN, "Ресурс временно недоступен"},
    {ETIMEDOUT, "Время ожидания истекло"},
    // What a log on a network folder that went away meets.
    {ESTALE, "Сетевая папка больше недоступна"},
    // What opening something that is not a serial line as a port comes to.
    {ENOTTY, "Это не последовательный порт"},
    {ELOOP, "Ссылки замкнуты в кольцо и никуда не ведут"},
};
} // namespace

KnownReasons knownReasons()
{
    return {std::begin(kKnown), std::end(kKnown)};
}

QString systemText(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

} // namespace piezon
