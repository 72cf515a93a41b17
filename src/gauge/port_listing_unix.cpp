#include "gauge/port_listing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace piezon
{
namespace
{

QString sysfsText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

// A USB serial adapter's tty sits on one of the device's interfaces; the device, a few folders
// up, holds what its maker wrote into it.
QString usbFacts(const QString& name)
{
    QString dir =
        QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(name)).canonicalFilePath();
    while (dir.startsWith(QLatin1String("/sys/devices/")) &&
           !QFileInfo::exists(dir + QStringLiteral("/idVendor")))
        dir = QFileInfo(dir).path();
    if (!dir.startsWith(QLatin1String("/sys/devices/")))
        return QStringLiteral("USB");

    QStringList known;
    for (const char* attribute : {"manufacturer", "product"}) {
        const QString text = sysfsText(dir + QLatin1Char('/') + QLatin1String(attribute));
        if (!text.isEmpty())
            known << text;
    }
    const QString serial = sysfsText(dir + QStringLiteral("/serial"));
    if (!serial.isEmpty())
        known << QStringLiteral("серийный номер %1").arg(serial);
    const QString ids = QStringLiteral("%1:%2").arg(sysfsText(dir + QStringLiteral("/idVendor")),
                                                    sysfsText(dir + QStringLiteral("/idProduct")));
    QString facts = QStringLiteral("USB");
    if (!known.isEmpty())
        facts += QStringLiteral(": ") + known.join(QStringLiteral(", "));
    return facts + QStringLiteral(" (%1)").arg(ids);
}

// The facts as this machine's kernel gives them to any user (sysfs), whatever the permissions
// on the device itself. Follows symbolic links to the device they name.
QString deviceFactsOnDisk(const QString& device)
{
    const QFileInfo info(device);
    const QString target = info.canonicalFilePath();
    if (target.isEmpty())
        return QStringLiteral("устройство не найдено");

    static const QRegularExpression kTty(
        QStringLiteral("^/dev/(?:(ttyS)|(ttyUSB|ttyACM)|(rfcomm)|(pts/))[0-9]+$"));
    const QRegularExpressionMatch match = kTty.match(target);
    const QString name = QFileInfo(target).fileName();
    if (match.hasCaptured(1)) {
        if (!builtInPortHasUart(name))
            return QStringLiteral("встроенный порт без микросхемы порта: к нему ничего не "
                                  "подключить");
        return QStringLiteral("встроенный порт");
    }
    if (match.hasCaptured(2))
        return usbFacts(name);
    if (match.hasCaptured(3))
        return QStringLiteral("Bluetooth");
    if (match.hasCaptured(4))
        return QStringLiteral("псевдотерминал, например имитатор манометра");
    if (info.isFile())
        return QStringLiteral("обычный файл, не порт");
    if (!QFileInfo::exists(QStringLiteral("/sys/class/tty/") + name))
        return QStringLiteral("не последовательный порт");
    return {};
}

} // namespace

QString portListText(const QString& programDir)
{
    const QStringList lines = listPorts(programDir, portSystemOnDisk(), deviceFactsOnDisk);
    if (lines.isEmpty())
        return QStringLiteral("Ни один из портов COM1–COM16 никуда не ведёт: в системе нет "
                              "последовательных устройств,\nа в папке программы «%1» нет "
                              "ссылок COM1–COM16.\n")
            .arg(QDir::toNativeSeparators(programDir));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString portNumberHint()
{
    return QStringLiteral("Номер порта закрепляют за устройством ссылкой COMn в папке программы,\n"
                          "например: ln -s /dev/rfcomm0 COM1\n");
}

} // namespace piezon
