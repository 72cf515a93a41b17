#include "gauge/port_mapping.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace piezon
{

bool builtInPortHasUart(const QString& name)
{
    QFile type(QStringLiteral("/sys/class/tty/%1/type").arg(name));
    // A kernel that does not say is taken at its word that the port is there.
    if (!type.open(QIODevice::ReadOnly))
        return true;
    return type.readAll().trimmed() != "0";
}

PortSystem portSystemOnDisk()
{
    PortSystem system;
    system.exists = entryExistsOnDisk;
    system.deviceNames = [] {
        return QDir(QStringLiteral("/dev")).entryList(QDir::System | QDir::Files);
    };
    system.hasUart = builtInPortHasUart;
    return system;
}

QString deviceIdentity(const QString& device)
{
    // udev names a USB adapter by its maker, product and serial number, whatever ttyUSBn it
    // gets: that name finds the same adapter again, and never another one.
    return identityAmong(device, QStringLiteral("/dev/serial/by-id"));
}

QString locateDevice(const QString& identity)
{
    return entryExistsOnDisk(identity) ? identity : QString();
}

QString comPortDevice(int n, const QString& programDir, const EntryExists& exists)
{
    PortSystem system = portSystemOnDisk();
    system.exists = exists;
    return resolveComPort(n, programDir, system);
}

} // namespace piezon
