#pragma once

#include "gauge/port_mapping.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace piezon
{

// What the system knows of a device, in the operator's words ("встроенный порт", "Bluetooth",
// the maker, product and serial number of a USB adapter); empty if nothing.
using DeviceFacts = std::function<QString(const QString& device)>;

// One line for every port number 1-16 that leads somewhere: the number, the device, what the
// system knows of it, and whether a COMn entry beside the program chose it. Empty if none does.
QStringList listPorts(const QString& programDir, const PortSystem& system,
                      const DeviceFacts& facts);

// The facts as this machine's kernel gives them to any user (sysfs), whatever the permissions
// on the device itself. Follows symbolic links to the device they name.
QString deviceFactsOnDisk(const QString& device);

} // namespace piezon
