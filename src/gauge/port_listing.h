#pragma once

#include "gauge/port_mapping.h"

#include <QList>
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

// A port as a system with COM numbers of its own (Windows) describes it.
struct SystemPort {
    QString name; // "COM3"
    QString description;
    QString manufacturer;
    QString serialNumber;
};

// One line for every COMn among the ports, in number order, with what the system knows of it;
// a number above 16, which the program's picker does not offer, says so.
QStringList listSystemPorts(QList<SystemPort> ports);

// The answer to --list-ports on this machine, ending in a line feed (port_listing_unix.cpp,
// port_listing_win.cpp): the lines above, or a sentence saying that no port leads anywhere.
QString portListText(const QString& programDir);

// For --help: how an operator finds or fixes the number of the gauge's port here.
QString portNumberHint();

} // namespace piezon
