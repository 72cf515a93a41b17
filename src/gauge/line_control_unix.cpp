#include "gauge/line_control.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QThread>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace piezon::linecontrol
{
namespace
{
int descriptor(const QSerialPort& port)
{
    return port.isOpen() ? static_cast<int>(port.handle()) : -1;
}
} // namespace

QString deviceToOpen(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

bool heldByAnotherProgram(const QString& device)
{
    // We could open it ourselves: what stopped Qt was someone else's lock.
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
}

void waitUntilOnTheLine(const QSerialPort& port, const QDeadlineTimer& deadline)
{
    // Polled, not tcdrain(): a line whose far end is gone would block tcdrain() for good.
    const int fd = descriptor(port);
    while (fd >= 0 && !deadline.hasExpired()) {
        int pending = 0;
        if (::ioctl(fd, TIOCOUTQ, &pending) != 0 || pending <= 0)
            break;
        QThread::msleep(1);
    }
}

void discardUnsent(const QSerialPort& port)
{
    const int fd = descriptor(port);
    int pending = 0;
    if (fd >= 0 && ::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0)
        ::tcflush(fd, TCOFLUSH);
}

QString hangUpReason(const QSerialPort& port)
{
    // A hung-up line reads as end of file, and Qt then names whatever errno was left over
    // ("Inappropriate ioctl for device"). Say what actually happened.
    const int fd = descriptor(port);
    pollfd p{fd, POLLIN, 0};
    if (fd >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)))
        return QStringLiteral("Устройство отключилось, линия разорвана.");
    return {};
}

QSocketNotifier* readNotifier(const QSerialPort& port)
{
    // QSerialPort has no call to hold its read notification, but it keeps it in a socket notifier
    // of its own, which it enables again whenever it is read.
    const int fd = descriptor(port);
    const auto notifiers = port.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier* notifier : notifiers) {
        if (fd >= 0 && notifier->type() == QSocketNotifier::Read && notifier->socket() == fd)
            return notifier;
    }
    return nullptr;
}

} // namespace piezon::linecontrol
