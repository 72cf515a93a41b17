#include "window/process_setup.h"

#include <QtGlobal>

#include <csignal>
#include <sched.h>

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

    // A reading wakes us from inside the kernel's worker that hands the line's bytes over; taking
    // the processor from that worker at once means waiting for it to finish when the line is
    // next polled, a second wake-up per reading. Batch scheduling lets a woken thread wait for
    // the running one's turn to end (a few milliseconds at most, well within a frame). Threads
    // started later (the X connection's, the log's sync) inherit it. Refused, nothing changes.
    sched_param param{};
    sched_setscheduler(0, SCHED_BATCH, &param);
}

} // namespace piezon::process
