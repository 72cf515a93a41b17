#include "gauge/gauge_port.h"

#include "gauge/line_control.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

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
    const QString device = linecontrol::deviceToOpen(path);
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
            kind = linecontrol::heldByAnotherProgram(device) ? OpenFailure::Busy
                                                             : OpenFailure::Permission;
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
    m_sinceRead.invalidate();
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
    // Then until the device has put them on the line.
    linecontrol::waitUntilOnTheLine(m_port, deadline);
    return true;
}

void GaugePort::close()
{
    if (!m_port.isOpen())
        return;
    linecontrol::discardUnsent(m_port);
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
    const bool busy =
        bytes.size() > 1 || (m_sinceRead.isValid() && m_sinceRead.elapsed() < kBusyGapMs);
    m_sinceRead.start();
    if (busy && bytes.size() < kReadAgainAtOnce)
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
    // Where the port's notifier cannot be had, the line is simply read as bytes come.
    if (!m_readNotifier)
        m_readNotifier = linecontrol::readNotifier(m_port);
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
    const QString hungUp = linecontrol::hangUpReason(m_port);
    if (!hungUp.isEmpty())
        return hungUp;
    return m_port.errorString();
}

} // namespace piezon
