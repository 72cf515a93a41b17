#pragma once

#include <QString>

#include <functional>

namespace piezon
{

// Does an entry of this name exist? A dangling symbolic link counts: it is still the operator's
// choice of port, and opening it must fail with a message that names it.
using EntryExists = std::function<bool(const QString& path)>;

// The device behind port number n (1-16), or an empty text if there is none.
// First a "COMn" entry in the program's folder (how an operator pins a gauge to a number), then
// on Linux the n-th existing device among ttyS*, ttyUSB*, ttyACM*, rfcomm*, each family counted
// from 0 up to its first missing number. On Windows the system's COMn.
QString resolveComPort(int n, const QString& programDir, const EntryExists& exists);

// The real file system's answer for resolveComPort.
bool entryExistsOnDisk(const QString& path);

// "COM5 (/dev/ttyUSB0)", or "COM5" when no device was found.
QString describePort(int n, const QString& path);

// The port picker's text ("   1", "  16") as a number; 0 if it is not one.
int parsePortNumber(const QString& text);

} // namespace piezon
