#pragma once

#include <QString>

namespace piezon
{

// The operating system's reason for a failed operation, in Russian for the failures an operator
// meets with a port or a log (a device that is not there, no permission, busy, I/O error, a full
// disk, a read-only file system, a quota). Other reasons stay as the system words them.
QString systemReason(int errorNumber);
// The same for a reason already put in words (Qt's error texts are the system's): a known
// system text is replaced by its Russian, anything else is returned unchanged.
QString russianReason(const QString& reason);

} // namespace piezon
