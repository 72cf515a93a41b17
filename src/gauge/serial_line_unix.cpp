#include "gauge/serial_line.h"

#include "log/system_reason.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace piezon
{

struct SerialLine::Private {
    QSerialPort* port = nullptr; // a child of the line, so that it moves with it
    // QSerialPort has no call to hold its read notification, but it keeps it in a socket notifier
    // of its own, which it enables again whenever it is read. Found once the line listens.
    QPointer<QSocketNotifier> notifier;
    bool listening = false;
    bool sending = false;
    QString failedWhileSending;
    QByteArray beforeFailure; // read before the line failed, not yet taken
};

namespace
{

int descriptor(const QSerialPort& port)
{
    return port.isOpen() ? static_cast<int>(port.handle()) : -1;
}

// Qt keys its lock file on the name the port is opened by: under our alias (COMn beside the
// program) another program holding the device would go unnoticed, and it would not notice us.
QString deviceToOpen(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

// What an rfcomm device says when its peer does not answer: the gauge is off or out of range.
bool unreachable(const QString& qtReason)
{
    for (const int number : {EHOSTDOWN, EHOSTUNREACH, ETIMEDOUT}) {
        if (qtReason == qt_error_string(number))
            return true;
    }
    return false;
}

QString hangUpReason(const QSerialPort& port)
{
    // A hung-up line reads as end of file, and Qt then names whatever errno was left over
    // ("Inappropriate ioctl for device"). Say what actually happened.
    const int fd = descriptor(port);
    pollfd p{fd, POLLIN, 0};
    if (fd >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)))
        return QStringLiteral("Устройство отключилось, линия разорвана.");
    return port.errorString();
}

} // namespace

SerialLine::SerialLine() : d(std::make_unique<Private>()) {}

SerialLine::~SerialLine()
{
    close();
}

SerialLine::Opened SerialLine::open(const QString& device, const LineSettings& settings)
{
    std::unique_ptr<SerialLine> line(new SerialLine);
    auto* port = new QSerialPort(line.get());
    line->d->port = port;
    port->setBaudRate(settings.baudRate);
    port->setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits));
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    const QString name = deviceToOpen(device);
    port->setPortName(name);
    if (!port->open(QIODevice::ReadWrite)) {
        Opened failed;
        failed.reason = port->errorString();
        switch (port->error()) {
        case QSerialPort::DeviceNotFoundError:
            failed.failure = OpenFailure::NotFound;
            break;
        case QSerialPort::PermissionError:
            // Qt reports a port that another program holds the same way as one we may not use:
            // if we could open it ourselves, what stopped Qt was someone else's lock.
            failed.failure = ::access(QFile::encodeName(name).constData(), R_OK | W_OK) == 0
                                 ? OpenFailure::Busy
                                 : OpenFailure::Permission;
            break;
        case QSerialPort::OpenError:
            failed.failure = OpenFailure::Busy;
            break;
        default:
            failed.failure =
                unreachable(failed.reason) ? OpenFailure::Unreachable : OpenFailure::Other;
            break;
        }
        return failed;
    }
    // Bytes that waited in the device belong to no session of ours.
    port->clear(QSerialPort::Input);
    // Until the window's thread listens, nothing is read.
    if (auto* notifier = port->findChild<QSocketNotifier*>())
        notifier->setEnabled(false);

    SerialLine* self = line.get();
    connect(port, &QSerialPort::readyRead, self, [self] {
        if (self->d->listening && !self->d->sending)
            emit self->readyRead();
    });
    connect(port, &QSerialPort::errorOccurred, self, [self](QSerialPort::SerialPortError error) {
        Private& p = *self->d;
        if (error == QSerialPort::NoError || !p.port->isOpen())
            return;
        // Timeouts come from our own bounded waits; everything else means the line is unusable,
        // and this Qt version repeats the error endlessly until the port is closed.
        if (error == QSerialPort::TimeoutError) {
            p.port->clearError();
            return;
        }
        const QString reason = hangUpReason(*p.port);
        if (p.sending) {
            // send() returns this as its own failure; its caller ends the session with one
            // message, and the readings still unread go with it.
            p.failedWhileSending = reason;
            self->close();
            return;
        }
        // Readings that arrived before the failure are still readings.
        p.beforeFailure += p.port->readAll();
        self->close();
        emit self->failed(reason);
    });
    return {std::move(line), OpenFailure::None, {}};
}

bool SerialLine::isOpen() const
{
    return d->port && d->port->isOpen();
}

void SerialLine::listen(bool on)
{
    d->listening = on;
    if (!isOpen())
        return;
    if (!d->notifier) {
        const int fd = descriptor(*d->port);
        const auto notifiers = d->port->findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
        for (QSocketNotifier* notifier : notifiers) {
            if (notifier->type() == QSocketNotifier::Read && notifier->socket() == fd)
                d->notifier = notifier;
        }
    }
    // Where the port's notifier cannot be had, the line is simply read as bytes come.
    if (d->notifier)
        d->notifier->setEnabled(on);
    // Bytes Qt already holds (read while START was sent) would wake no notifier.
    if (on && d->port->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SerialLine::readyRead, Qt::QueuedConnection);
}

QByteArray SerialLine::takeAll()
{
    QByteArray bytes = std::exchange(d->beforeFailure, {});
    if (isOpen())
        bytes += d->port->readAll();
    return bytes;
}

QByteArray SerialLine::takeWaiting()
{
    if (isOpen() && !d->sending) {
        // Qt's wait reads the device into its buffer (announcing it, which we keep to ourselves).
        const bool listening = std::exchange(d->listening, false);
        d->port->waitForReadyRead(0);
        d->listening = listening;
    }
    return takeAll();
}

bool SerialLine::send(const QByteArray& bytes, int timeoutMs, QString* reason)
{
    if (!isOpen()) {
        if (reason)
            *reason = QStringLiteral("порт не открыт");
        return false;
    }
    QSerialPort& port = *d->port;
    d->sending = true;
    d->failedWhileSending.clear();
    QString why;
    const QDeadlineTimer deadline(timeoutMs);
    bool ok = port.write(bytes) == bytes.size();
    if (!ok)
        why = port.errorString();
    // write() only queues; the bytes must be in the device before anything may close it.
    while (ok && port.isOpen() && port.bytesToWrite() > 0) {
        if (!port.waitForBytesWritten(static_cast<int>(deadline.remainingTime())) ||
            deadline.hasExpired())
            break;
    }
    if (ok && (!port.isOpen() || port.bytesToWrite() > 0)) {
        ok = false;
        why = port.isOpen() ? port.errorString() : QStringLiteral("порт закрыт");
    }
    // Then until the device has put them on the line. Polled, not tcdrain(): a line whose far
    // end is gone would block tcdrain() for good.
    const int fd = descriptor(port);
    while (ok && fd >= 0 && !deadline.hasExpired()) {
        int pending = 0;
        if (::ioctl(fd, TIOCOUTQ, &pending) != 0 || pending <= 0)
            break;
        QThread::msleep(1);
    }
    d->sending = false;
    if (!d->failedWhileSending.isEmpty()) {
        ok = false;
        why = std::exchange(d->failedWhileSending, {});
    }
    if (!ok) {
        close();
        if (reason)
            *reason = why;
        return false;
    }
    // Qt's wait reads the line too; what it read is announced once the line is listened to.
    if (d->listening)
        listen(true);
    return true;
}

void SerialLine::close()
{
    if (!isOpen())
        return;
    QSerialPort& port = *d->port;
    // What has not left by now never will; close() must not wait on it.
    const int fd = descriptor(port);
    int pending = 0;
    if (fd >= 0 && ::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0)
        ::tcflush(fd, TCOFLUSH);
    port.close();
    port.clearError();
    d->notifier = nullptr;
}

} // namespace piezon
