#include "gauge/line_control.h"

#include <QSerialPort>

namespace piezon::linecontrol
{

QString deviceToOpen(const QString& path)
{
    return path;
}

bool heldByAnotherProgram(const QString&)
{
    // Windows answers "access denied" for a COM port that another program has open; a port
    // nobody may use at all does not exist there.
    return true;
}

void waitUntilOnTheLine(const QSerialPort&, const QDeadlineTimer&)
{
    // Qt's Windows port reports bytes written only when the driver has completed the write.
}

void discardUnsent(const QSerialPort&)
{
    // Qt's close() cancels what is still pending on Windows.
}

QString hangUpReason(const QSerialPort&)
{
    return {};
}

QSocketNotifier* readNotifier(const QSerialPort&)
{
    // Qt's Windows port waits on the system's completion of its reads, not on a notifier: the
    // line is read plainly, as each read completes.
    return nullptr;
}

} // namespace piezon::linecontrol
