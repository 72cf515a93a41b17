#pragma once

#include <QDeadlineTimer>
#include <QString>

class QSerialPort;
class QSocketNotifier;

// What the serial line needs of the operating system beyond QSerialPort
// (line_control_unix.cpp, line_control_win.cpp).
namespace piezon::linecontrol
{

// The name to open the port by. On Unix a link (COMn beside the program) is followed to the
// device itself: Qt keys its lock file on the name the port is opened by, and under our alias
// another program holding the device would go unnoticed, and it would not notice us.
QString deviceToOpen(const QString& path);

// Qt reports a port that another program holds the same way as one we may not use at all.
// Whether this device is the former.
bool heldByAnotherProgram(const QString& device);

// After QSerialPort has handed the bytes to the device: waits (bounded) until the device has put
// them on the line, so that closing cannot cut them off.
void waitUntilOnTheLine(const QSerialPort& port, const QDeadlineTimer& deadline);

// Before closing: what has not left by now never will; close() must not wait on it.
void discardUnsent(const QSerialPort& port);

// Why the open line failed, where the system can say better than Qt (a hung-up line); empty
// if it cannot.
QString hangUpReason(const QSerialPort& port);

// The port's own read notification, which can be held while bytes gather in the device; null
// where the port has none we may hold (then the line is read as bytes come).
QSocketNotifier* readNotifier(const QSerialPort& port);

} // namespace piezon::linecontrol
