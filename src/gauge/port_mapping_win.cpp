#include "gauge/port_mapping.h"

namespace piezon
{

PortSystem portSystemOnDisk()
{
    PortSystem system;
    system.exists = entryExistsOnDisk;
    system.deviceNames = [] { return QStringList(); };
    system.hasUart = [](const QString&) { return false; };
    return system;
}

QString deviceIdentity(const QString& device)
{
    // Windows keeps a device's COM number itself: the number is the identity.
    return device;
}

QString locateDevice(const QString& identity)
{
    // Never asked of the file system: "COM3" there is a file in the current folder.
    return identity;
}

QString comPortDevice(int n, const QString&, const EntryExists&)
{
    // The system numbers its ports itself; a file named COMn beside the program is no port.
    if (n < 1)
        return {};
    return QStringLiteral("COM%1").arg(n);
}

} // namespace piezon
