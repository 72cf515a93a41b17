#include "gauge/port_numbering.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <utility>
#include <vector>

namespace piezon
{
namespace
{

// In numbering order. "ttyS" must match whole: ttySAC0 is another driver's port.
const QRegularExpression
    kSerialDevice(QStringLiteral("^(?:(ttyS)|(ttyUSB)|(ttyACM)|(rfcomm))(0|[1-9][0-9]{0,5})$"));

} // namespace

QStringList numberedDevices(const PortSystem& system)
{
    struct Device {
        int family;
        int number;
        QString name;
    };
    std::vector<Device> devices;
    for (const QString& name : system.deviceNames()) {
        const QRegularExpressionMatch match = kSerialDevice.match(name);
        if (!match.hasMatch())
            continue;
        int family = 0;
        while (!match.hasCaptured(family + 1))
            ++family;
        if (family == 0 && !system.hasUart(name))
            continue;
        devices.push_back({family, match.captured(5).toInt(), name});
    }
    std::sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
        return std::pair(a.family, a.number) < std::pair(b.family, b.number);
    });

    QStringList paths;
    for (const Device& device : devices)
        paths << QStringLiteral("/dev/") + device.name;
    return paths;
}

QString comEntryPath(int n, const QString& programDir)
{
    return QDir(programDir).filePath(QStringLiteral("COM%1").arg(n));
}

QString resolveComPort(int n, const QString& programDir, const PortSystem& system)
{
    if (n < 1)
        return {};
    const QString pinned = comEntryPath(n, programDir);
    if (system.exists(pinned))
        return pinned;
    const QStringList devices = numberedDevices(system);
    return n <= devices.size() ? devices.at(n - 1) : QString();
}

QString describePort(int n, const QString& path)
{
    const QString name = QStringLiteral("COM%1").arg(n);
    if (path.isEmpty() || path == name)
        return name;
    return QStringLiteral("%1 (%2)").arg(name, QDir::toNativeSeparators(path));
}

int parsePortNumber(const QString& text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok ? n : 0;
}

} // namespace piezon
