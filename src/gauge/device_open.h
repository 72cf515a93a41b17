#pragma once

#include <QString>
#include <QtGlobal>

// Opening a serial device the way the port will, to see whether it answers
// (device_open_unix.cpp, device_open_win.cpp). Called off the window's thread: it blocks for as
// long as the device takes.
namespace piezon::deviceopen
{

using Handle = qintptr;
constexpr Handle kNone = -1;

struct Result {
    bool answered = false;
    // Held open until the port has opened the device too, where the system lets two opens
    // share it; kNone where it does not (a Windows COM port is opened by one handle at a time).
    Handle held = kNone;
};

Result tryOpen(const QString& device);
void close(Handle handle);

} // namespace piezon::deviceopen
