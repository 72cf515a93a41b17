#pragma once

#include <QString>

namespace piezon
{

// The operating system's reason for a failed operation, in Russian for the failures an operator
// meets with a port or a log (a device that is not there, no permission, busy, I/O error, a full
// disk, a read-only file system, a quota). Other reasons stay as the system words them.
// The number is the platform's own: errno, or a Windows error code.
QString systemReason(int errorNumber);
// The same for a reason already put in words (Qt's error texts are the system's): a known
// system text is replaced by its Russian, anything else is returned unchanged.
QString russianReason(const QString& reason);

// The same for the reason a port could not be opened: where the port's name leads to something
// that is not a serial line (a folder, a plain file, a link loop), it says so.
QString russianPortReason(const QString& reason);

// A reason the system has words for, and its Russian. Each platform lists its own
// (system_reason_unix.cpp, system_reason_win.cpp).
struct KnownReason {
    int number;
    const char* russian;
    // Said of a port instead, where it differs.
    const char* ofAPort = nullptr;
    // Where Qt words this number otherwise than the system does (its own English), those words.
    const char* qtWords = nullptr;
};
struct KnownReasons {
    const KnownReason* begin;
    const KnownReason* end;
};
KnownReasons knownReasons();
// The system's own words for the number, as Qt and the C library give them.
QString systemText(int errorNumber);

} // namespace piezon
