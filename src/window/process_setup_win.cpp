#include "window/process_setup.h"

#include <windows.h>

namespace piezon::process
{

bool displayAvailable()
{
    // Every interactive Windows session has its desktop.
    return true;
}

void prepare()
{
    // A port or a disk that fails must come back to us as an error code, never as the system's
    // own "insert a disk" or "critical error" dialog that holds the program until answered.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

} // namespace piezon::process
