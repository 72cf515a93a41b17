#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Port numbers and the devices behind them, worked out from what is given: no file is looked at
// here (port_mapping.h asks this machine).
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

// The "COMn" entry in the program's folder by which an operator pins a gauge to a number.
QString comEntryPath(int n, const QString& programDir);

// The device behind port number n (1-16) by the numbering of a system without COM numbers of its
// own: the COMn entry if it exists, otherwise the n-th of numberedDevices(); empty if none.
QString resolveComPort(int n, const QString& programDir, const PortSystem& system);

// How a session finds its gauge: the device behind a number, what that device is, and where the
// device of a given identity is now. A session remembers the identity when it starts and, after
// the line is lost, opens only a device of that identity again. Tests make one up.
struct PortNaming {
    std::function<QString(int n)> resolve;
    std::function<QString(const QString& device)> identify;
    // Where to open the device of this identity now; empty if it is not there.
    std::function<QString(const QString& identity)> locate;
};

// "COM5 (/dev/ttyUSB0)", or "COM5" when no device was found or the device is COM5 itself.
QString describePort(int n, const QString& path);

// The port picker's text ("   1", "  16") as a number; 0 if it is not one.
int parsePortNumber(const QString& text);

} // namespace piezon
