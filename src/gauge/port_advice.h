#pragma once

#include <QString>

// What the operator can do about a port, in the words of the system at hand
// (port_advice_unix.cpp, port_advice_win.cpp).
namespace piezon::advice
{

// After "no such port" or "device not found".
QString findThePort();
// After "no access to the port" (not: another program holds it).
QString getAccess();

} // namespace piezon::advice
