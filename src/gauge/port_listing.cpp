#include "gauge/port_listing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace piezon
{
QStringList listPorts(const QString& programDir, const PortSystem& system, const DeviceFacts& facts)
{
    QStringList lines;
    for (int n = 1; n <= kPortCount; ++n) {
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

QStringList listSystemPorts(QList<SystemPort> ports)
{
    const auto number = [](const SystemPort& port) {
        static const QRegularExpression kCom(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                             QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = kCom.match(port.name);
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    };
    std::stable_sort(ports.begin(), ports.end(), [&](const SystemPort& a, const SystemPort& b) {
        return number(a) < number(b);
    });
    QStringList lines;
    for (const SystemPort& port : ports) {
        const int n = number(port);
        if (n < 1)
            continue;
        QStringList known;
        for (const QString& fact : {port.description, port.manufacturer}) {
            if (!fact.trimmed().isEmpty() && !known.contains(fact.trimmed()))
                known << fact.trimmed();
        }
        if (!port.serialNumber.trimmed().isEmpty())
            known << QStringLiteral("серийный номер %1").arg(port.serialNumber.trimmed());
        QString line = QStringLiteral("COM%1").arg(n).leftJustified(6);
        line += known.isEmpty() ? QStringLiteral("— последовательный порт")
                                : QStringLiteral("— ") + known.join(QStringLiteral(", "));
        if (n > kPortCount)
            line += QStringLiteral(" (номер больше 16: в программе его не выбрать; задайте порту "
                                   "номер 1–16 в Диспетчере устройств)");
        lines << line;
    }
    return lines;
}

} // namespace piezon
