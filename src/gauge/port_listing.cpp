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

} // namespace

QStringList listPorts(const QString& programDir, const PortSystem& system, const DeviceFacts& facts)
{
    QStringList lines;
    for (int n = 1; n <= 16; ++n) {
        const QString path = resolveComPort(n, programDir, system);
        if (path.isEmpty())
            continue;
        QString line =
            QStringLiteral("COM%1").arg(n).leftJustified(6) + QDir::toNativeSeparators(path);
        const QFileInfo entry(path);
        if (entry.isSymLink()) {
            // A link to /dev/serial/by-id/... also shows the device that name stands for today.
            const QString target = entry.symLinkTarget();
            const QString device = entry.canonicalFilePath();
            line += QStringLiteral(" → ") + QDir::toNativeSeparators(target);
            if (!device.isEmpty() && device != target)
                line += QStringLiteral(" → ") + QDir::toNativeSeparators(device);
        }
        const QString known = facts(path);
        if (!known.isEmpty())
            line += QStringLiteral(" — ") + known;
        if (path == comEntryPath(n, programDir))
            line += entry.isSymLink()
                        ? QStringLiteral(" (номер задан ссылкой COM%1 в папке программы)").arg(n)
                        : QStringLiteral(" (номер задан файлом COM%1 в папке программы)").arg(n);
        lines << line;
    }
    return lines;
}

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
        if (sysfsText(QStringLiteral("/sys/class/tty/%1/type").arg(name)) == QLatin1String("0"))
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

} // namespace piezon
