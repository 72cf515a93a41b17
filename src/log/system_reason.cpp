#include "log/system_reason.h"

#include <cerrno>
#include <cstring>

namespace piezon
{
namespace
{
struct Known {
    int number;
    const char* text;
};

const Known kKnown[] = {
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
    {EISDIR, "Это папка, а не файл"},
    {ENOTDIR, "Часть пути не является папкой"},
    {ETXTBSY, "Файл занят"},
    {EAGAIN, "Ресурс временно недоступен"},
    {ETIMEDOUT, "Время ожидания истекло"},
};

QString systemText(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}
} // namespace

QString systemReason(int errorNumber)
{
    for (const Known& k : kKnown) {
        if (k.number == errorNumber)
            return QString::fromUtf8(k.text);
    }
    return systemText(errorNumber);
}

QString russianReason(const QString& reason)
{
    const QString trimmed = reason.trimmed();
    for (const Known& k : kKnown) {
        if (trimmed.compare(systemText(k.number), Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(k.text);
    }
    return reason;
}

} // namespace piezon
