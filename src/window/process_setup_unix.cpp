#include "window/process_setup.h"

#include <QtGlobal>

#include <csignal>

namespace piezon::process
{

bool displayAvailable()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void prepare()
{
    // A log that reaches the file size limit would otherwise kill us on the spot; ignored, the
    // write fails like on a full disk and the operator gets the same report and a STOP.
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace piezon::process
