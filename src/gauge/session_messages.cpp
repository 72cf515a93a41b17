#include "gauge/session_messages.h"

#include "gauge/port_advice.h"
#include "log/log_record.h"
#include "log/system_reason.h"

#include <QDir>

namespace piezon::messages
{
namespace
{
const QString kStopped = QStringLiteral("Чтение данных остановлено.");

QString quoted(const QString& path)
{
    return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path));
}
} // namespace

QString noSuchPort(int number)
{
    return QStringLiteral("Порт COM%1 не найден: в системе нет последовательного порта с этим "
                          "номером.\n%2")
        .arg(QString::number(number), advice::findThePort());
}

QString portNotFound(const QString& port, const QString& reason)
{
    return QStringLiteral("Не удалось открыть порт %1: устройство не найдено.\n%2\n%3")
        .arg(port, russianPortReason(reason), advice::findThePort());
}

QString portBusy(const QString& port, const QString& reason)
{
    return QStringLiteral("Не удалось открыть порт %1: порт занят другой программой.\n%2")
        .arg(port, russianPortReason(reason));
}

QString portNoPermission(const QString& port, const QString& reason)
{
    return QStringLiteral("Нет доступа к порту %1.\n%2\n%3")
        .arg(port, russianPortReason(reason), advice::getAccess());
}

QString portOpenFailed(const QString& port, const QString& reason)
{
    return QStringLiteral("Не удалось открыть порт %1.\n%2").arg(port, russianPortReason(reason));
}

QString gaugeUnreachable(const QString& port, const QString& reason)
{
    return QStringLiteral("Манометр выключен или вне досягаемости (порт %1).\n%2\n"
                          "Включите манометр, поднесите его ближе и нажмите СТАРТ снова.")
        .arg(port, russianPortReason(reason));
}

QString connecting(int number)
{
    return QStringLiteral("Подключение к COM%1…").arg(number);
}

QString sendFailed(const QString& port, const QString& reason)
{
    return QStringLiteral("Не удалось передать команду манометру через порт %1.\n%2\n%3")
        .arg(port, russianPortReason(reason), kStopped);
}

QString linkLost(const QString& port, const QString& reason)
{
    return QStringLiteral("Связь с манометром через порт %1 потеряна.\n%2\n"
                          "Программа восстановит связь сама, как только порт снова станет "
                          "доступен; запись в журнал продолжится в тот же файл.\n"
                          "Чтобы завершить чтение данных, нажмите СТОП (F2).")
        .arg(port, russianPortReason(reason));
}

QString numberLeadsElsewhere(const QString& port, const QString& gauge)
{
    return QStringLiteral(
               "Связь с манометром потеряна, а номер порта теперь ведёт к другому "
               "устройству: %1.\n"
               "Программа не открывает его и ждёт устройство манометра (%2); когда оно "
               "вернётся, запись в журнал продолжится в тот же файл.\n"
               "Чтобы работать с другим устройством, нажмите СТОП (F2), затем СТАРТ (F1).")
        .arg(port, QDir::toNativeSeparators(gauge));
}

QString logInUse(const QString& path)
{
    return QStringLiteral("Файл журнала %1 уже занят: в него записывает данные другая копия "
                          "программы, запущенная из этой же папки.\n"
                          "Чтение данных не начато, команда манометру не отправлена. Завершите "
                          "чтение в другой копии или запустите программу из другой папки.")
        .arg(quoted(path));
}

QString logHeldElsewhere(const QString& path)
{
    return QStringLiteral("Журнал открыт в другой программе (например, в Excel) — закройте его и "
                          "нажмите СТАРТ снова.\nФайл журнала: %1.\nЧтение данных не начато, "
                          "команда манометру не отправлена.")
        .arg(quoted(path));
}

QString logWithoutLock(const QString& path)
{
    return QStringLiteral("Диск или папка журнала %1 не поддерживает блокировку файлов: если "
                          "запустить из этой же папки вторую копию программы, она не будет "
                          "остановлена и запишет данные в тот же журнал.\nИзмерение идёт "
                          "как обычно.")
        .arg(quoted(path));
}

QString logCannotBeCreated(const QString& path, const QString& reason)
{
    return QStringLiteral("Не удалось создать файл журнала %1.\n%2\nЧтение данных не начато.")
        .arg(quoted(path), russianReason(reason));
}

QString logNotAFile(const QString& path)
{
    return QStringLiteral("Файл журнала %1 — не обычный файл, а канал или сокет: запись в него "
                          "могла бы остановить программу.\n"
                          "Чтение данных не начато, команда манометру не отправлена. Удалите или "
                          "переименуйте его и нажмите СТАРТ снова.")
        .arg(quoted(path));
}

QString previousLogNotKept(const QString& path, const QString& previous, const QString& reason)
{
    return QStringLiteral("Не удалось сохранить записи прошлого сеанса: файл журнала %1 не "
                          "переименовать в %2.\n%3\n%4 Журнал прошлого сеанса не изменён.")
        .arg(quoted(path), quoted(previous), russianReason(reason), kStopped);
}

QString logWriteFailed(const QString& path, const QString& reason)
{
    return QStringLiteral("Не удалось записать данные в файл журнала %1.\n%2\n%3 "
                          "Записанные ранее данные сохранены; при следующем нажатии СТАРТ они "
                          "будут перенесены в файл %4.")
        .arg(quoted(path), russianReason(reason), kStopped, quoted(previousLogPath(path)));
}

QString logDeleted(const QString& path)
{
    return QStringLiteral("Файл журнала %1 удалён во время чтения данных.\n%2 "
                          "Нажмите СТАРТ, чтобы начать новый журнал.")
        .arg(quoted(path), kStopped);
}

QString companionNotKept(const QString& path, const QString& reason)
{
    return QStringLiteral("Файл с отметками времени %1 в этом сеансе не ведётся: %2.\n"
                          "Журнал пишется как обычно. Чтобы вести и этот файл, закройте его в "
                          "другой программе, затем нажмите СТОП и СТАРТ.")
        .arg(quoted(path), russianReason(reason));
}

QString companionWriteFailed(const QString& path, const QString& reason)
{
    return QStringLiteral("Не удалось записать данные в файл с отметками времени %1.\n%2\n%3 "
                          "Журнал и записанное ранее сохранены.")
        .arg(quoted(path), russianReason(reason), kStopped);
}

} // namespace piezon::messages
