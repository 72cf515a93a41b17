#include "gauge/gauge_port.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace piezon
{
namespace
{
// Two STOP commands take 33 ms at 9600 baud; anything far beyond that is a dead line.
constexpr int kSendTimeoutMs = 2000;

// A line at 9600 baud brings at most 16 bytes in a frame. A read that finds this many is a far
// end faster than any serial line, or a program held up for a while: the next read comes as soon
// as the event loop is round again, so that the device's buffer never fills while we wait.
constexpr qsizetype kReadAgainAtOnce = 512;

// Qt reports a port that another program holds (its lock file, or an exclusive open) as a
// permission error, the same as a device we may not use at all. Only the latter is the
// operator's group membership.
bool heldByAnotherProgram(const QString& device)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#else
    // On Windows a COM port in use by another program is exactly what "access denied" means.
    Q_UNUSED(device);
    return true;
#endif
}
} // namespace

GaugePort::GaugePort(QObject* parent) : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &GaugePort::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &GaugePort::onError);
    m_resume.setSingleShot(true);
    m_resume.setTimerType(Qt::PreciseTimer);
    connect(&m_resume, &QTimer::timeout, this, &GaugePort::resumeReading);
}

GaugePort::~GaugePort()
{
    m_port.disconnect(this);
    if (m_port.isOpen())
        m_port.close();
}

void GaugePort::applyStartupSettings()
{
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
}

bool GaugePort::open(const QString& path, OpenFailure* failure, QString* reason)
{
    m_path = path;
    QString device = path;
#ifdef Q_OS_UNIX
    // Qt keys its lock file on the name the port is opened by; under our COMn alias another
    // program holding the device would go unnoticed, and it would not notice us.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        device = canonical;
#endif
    m_port.setPortName(device);
    m_opening = true;
    const bool ok = m_port.open(QIODevice::ReadWrite);
    m_opening = false;
    if (!ok) {
        OpenFailure kind = OpenFailure::Other;
        switch (m_port.error()) {
        case QSerialPort::DeviceNotFoundError:
            kind = OpenFailure::NotFound;
            break;
        case QSerialPort::PermissionError:
            kind = heldByAnotherProgram(device) ? OpenFailure::Busy : OpenFailure::Permission;
            break;
        case QSerialPort::OpenError:
            kind = OpenFailure::Busy;
            break;
        default:
            break;
        }
        if (failure)
            *failure = kind;
        if (reason)
            *reason = m_port.errorString();
        m_port.clearError();
        return false;
    }
    // Bytes that waited in the device belong to no session of ours.
    m_port.clear(QSerialPort::Input);
    if (failure)
        *failure = OpenFailure::None;
    return true;
}

bool GaugePort::send(const QByteArray& data, QString* reason)
{
    if (!m_port.isOpen()) {
        if (reason)
            *reason = QStringLiteral("порт не открыт");
        return false;
    }
    m_sending = true;
    m_failedWhileSending.clear();
    QString why;
    bool ok = m_port.write(data) == data.size();
    if (!ok)
        why = m_port.errorString();
    else
        ok = waitUntilSent(&why);
    m_sending = false;
    if (!m_failedWhileSending.isEmpty()) {
        ok = false;
        why = m_failedWhileSending;
        m_failedWhileSending.clear();
    }
    // Qt's wait reads the line too; what it read waits for the event loop like any reading.
    if (m_port.isOpen() && m_port.bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &GaugePort::onReadyRead, Qt::QueuedConnection);
    if (!ok && reason)
        *reason = why;
    return ok;
}

bool GaugePort::waitUntilSent(QString* reason)
{
    // write() only queues; the bytes must be in the device before anything may close it.
    QDeadlineTimer deadline(kSendTimeoutMs);
    while (m_port.isOpen() && m_port.bytesToWrite() > 0) {
        if (!m_port.waitForBytesWritten(static_cast<int>(deadline.remainingTime())) ||
            deadline.hasExpired())
            break;
    }
    if (!m_port.isOpen() || m_port.bytesToWrite() > 0) {
        if (reason)
            *reason = m_port.isOpen() ? m_port.errorString() : QStringLiteral("порт закрыт");
        return false;
    }
#ifdef Q_OS_UNIX
    // Then until the device has put them on the line. Polled, not tcdrain(): a line whose far
    // end is gone would block tcdrain() for good.
    const int fd = static_cast<int>(m_port.handle());
    while (fd >= 0 && !deadline.hasExpired()) {
        int pending = 0;
        if (::ioctl(fd, TIOCOUTQ, &pending) != 0 || pending <= 0)
            break;
        QThread::msleep(1);
    }
#endif
    return true;
}

void GaugePort::close()
{
    if (!m_port.isOpen())
        return;
#ifdef Q_OS_UNIX
    // Whatever has not left by now never will; do not let close() wait on it.
    const int fd = static_cast<int>(m_port.handle());
    int pending = 0;
    if (fd >= 0 && ::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0)
        ::tcflush(fd, TCOFLUSH);
#endif
    m_port.close();
    m_port.clearError();
}

void GaugePort::onReadyRead()
{
    // Inside send() the caller is mid-step (START has not opened the log yet); send() hands the
    // bytes on once it is done.
    if (m_sending || !m_port.isOpen())
        return;
    const QByteArray bytes = m_port.readAll();
    if (bytes.isEmpty())
        return;
    if (bytes.size() < kReadAgainAtOnce)
        pauseReading();
    emit received(bytes);
}

void GaugePort::takeWaiting()
{
    if (!m_port.isOpen() || m_sending)
        return;
    m_resume.stop();
    resumeReading();
    // Qt's wait reads the device into its buffer and announces it through readyRead.
    m_port.waitForReadyRead(0);
    if (m_port.isOpen() && m_port.bytesAvailable() > 0)
        onReadyRead();
}

void GaugePort::pauseReading()
{
    // QSerialPort has no call to hold its read notification, but it keeps it in a socket notifier
    // of its own, which it enables again whenever it is read. Where that notifier cannot be
    // found, the line is simply read as bytes come.
    if (!m_readNotifier) {
        const auto notifiers = m_port.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
        for (QSocketNotifier* notifier : notifiers) {
            if (notifier->type() == QSocketNotifier::Read &&
                notifier->socket() == static_cast<qintptr>(m_port.handle()))
                m_readNotifier = notifier;
        }
    }
    if (!m_readNotifier)
        return;
    m_readNotifier->setEnabled(false);
    m_resume.start(kGatherMs);
}

void GaugePort::resumeReading()
{
    // What waited is read as soon as the event loop polls again; a line that went quiet or died
    // meanwhile is watched (and its failure reported) as before.
    if (m_port.isOpen() && m_readNotifier)
        m_readNotifier->setEnabled(true);
}

void GaugePort::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || m_opening || !m_port.isOpen())
        return;
    // Timeouts come from our own bounded waits; everything else means the line is unusable, and
    // this Qt version repeats the error endlessly until the port is closed.
    if (error == QSerialPort::TimeoutError) {
        m_port.clearError();
        return;
    }
    const QString reason = failureReason();
    if (m_sending) {
        // send() returns this as its own failure and its caller ends the session with one
        // message; a lost() as well would make two. Readings still unread are dropped with the
        // session the caller is ending.
        m_failedWhileSending = reason;
        m_port.close();
        m_port.clearError();
        return;
    }
    // Readings that arrived before the failure are still readings.
    const QByteArray rest = m_port.readAll();
    m_port.close();
    m_port.clearError();
    if (!rest.isEmpty())
        emit received(rest);
    emit lost(reason);
}

QString GaugePort::failureReason() const
{
#ifdef Q_OS_UNIX
    // A hung-up line reads as end of file, and Qt then names whatever errno was left over
    // ("Inappropriate ioctl for device"). Say what actually happened.
    const int fd = static_cast<int>(m_port.handle());
    pollfd p{fd, POLLIN, 0};
    if (fd >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)))
        return QStringLiteral("Устройство отключилось, линия разорвана.");
#endif
    return m_port.errorString();
}

} // namespace piezon
