#pragma once

#include "gauge/port_numbering.h"

#include <QString>

// Port numbers on this machine: its COMn entries, /dev and the kernel's facts (Linux), its own COM
// ports (Windows).
namespace piezon
{

// Whether this machine's built-in port `name` ("ttyS2") has a UART behind it, as its kernel says
// (Linux; a port whose type cannot be read counts as there).
bool builtInPortHasUart(const QString& name);

// The device behind COM n on this machine (port_mapping_unix.cpp, port_mapping_win.cpp), with
// `exists` answering for the COMn entry. On Windows COM n is the system's own COMn and the
// folder is not looked at: there that name is the device itself.
QString comPortDevice(int n, const QString& programDir, const EntryExists& exists);

// What /dev and the kernel show of this machine's serial devices (none on Windows).
PortSystem portSystemOnDisk();

// The real file system's answer for comPortDevice().
bool entryExistsOnDisk(const QString& path);

// What a device is, as opposed to the number it has today: its /dev/serial/by-id name where it
// has one (a USB adapter with a serial number), otherwise its path (port_mapping_unix.cpp); on
// Windows the COM port itself (port_mapping_win.cpp).
QString deviceIdentity(const QString& device);
// Where to open the device of this identity now; empty if it is surely not there. On Unix a
// device that is gone has no entry (port_mapping_unix.cpp). On Windows the COM port's name
// stays while the device is away (a paired wireless port even while the gauge is off), so only
// opening it tells: the identity itself (port_mapping_win.cpp).
QString locateDevice(const QString& identity);
// The link in namesFolder that leads to the same device, else the device as given.
QString identityAmong(const QString& device, const QString& namesFolder);

// This machine's, for the program in programDir.
PortNaming portNamingOnDisk(const QString& programDir);

} // namespace piezon
