#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace piezon
{

// Does an entry of this name exist? A dangling symbolic link counts: it is still the operator's
// choice of port, and opening it must fail with a message that names it.
using EntryExists = std::function<bool(const QString& path)>;

// What the port numbering sees of the machine. portSystemOnDisk() asks the real one; tests make
// one up, phantom ports and all.
struct PortSystem {
    EntryExists exists;
    // The names in /dev ("ttyS0", "ttyUSB1", "null", ...), in any order.
    std::function<QStringList()> deviceNames;
    // Whether a built-in port ("ttyS2") has a UART behind it. The kernel creates ttyS0-ttyS3, or
    // as many as 32, whether or not there is one; only the kernel's port type tells them apart,
    // and anyone may read it, so the numbering does not change with the user's permissions.
    std::function<bool(const QString& name)> hasUart;
};

// The serial devices that get a number, in numbering order: built-in ports with a UART, then USB
// serial adapters, then USB modems (ACM), then Bluetooth (rfcomm), each family in numeric order,
// with or without gaps. Full paths ("/dev/ttyUSB0").
QStringList numberedDevices(const PortSystem& system);

// The port numbers the program offers: COM1 to COM16.
constexpr int kPortCount = 16;

// Whether this machine's built-in port `name` ("ttyS2") has a UART behind it, as its kernel says
// (Linux; a port whose type cannot be read counts as there).
bool builtInPortHasUart(const QString& name);

// The "COMn" entry in the program's folder by which an operator pins a gauge to a number.
QString comEntryPath(int n, const QString& programDir);

// The device behind port number n (1-16) by the numbering of a system without COM numbers of its
// own: the COMn entry if it exists, otherwise the n-th of numberedDevices(); empty if none.
QString resolveComPort(int n, const QString& programDir, const PortSystem& system);

// The device behind port number n on this machine (port_mapping_unix.cpp, port_mapping_win.cpp),
// with `exists` answering for the COMn entry. On Windows COM n is the system's own COMn and the
// folder is not looked at: there that name is the device itself.
QString resolveComPort(int n, const QString& programDir, const EntryExists& exists);

// What /dev and the kernel show of this machine's serial devices (none on Windows).
PortSystem portSystemOnDisk();

// The real file system's answer for resolveComPort.
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

// How a session finds its gauge: the device behind a number, what that device is, and where the
// device of a given identity is now. A session remembers the identity when it starts and, after
// the line is lost, opens only a device of that identity again. Tests make one up.
struct PortNaming {
    std::function<QString(int n)> resolve;
    std::function<QString(const QString& device)> identify;
    // Where to open the device of this identity now; empty if it is not there.
    std::function<QString(const QString& identity)> locate;
};

// This machine's, for the program in programDir.
PortNaming portNamingOnDisk(const QString& programDir);

// "COM5 (/dev/ttyUSB0)", or "COM5" when no device was found or the device is COM5 itself.
QString describePort(int n, const QString& path);

// The port picker's text ("   1", "  16") as a number; 0 if it is not one.
int parsePortNumber(const QString& text);

} // namespace piezon
