#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace piezon
{

// The serial line to the gauge. Every byte that arrives is handed on unchanged and in order;
// nothing is ever made up from an empty read. A lost line is closed at once and reported once.
// A busy line is read in batches: once a read finds several bytes, or follows the one before
// within two frames, the line gathers what follows for one frame before it is read again, so it
// wakes the program about once a frame instead of once a byte. A lone byte after a quiet spell
// (a real gauge's few readings a second) is read as it comes and the line stays listened to:
// resting after it would cost a wake-up of its own and gather nothing.
class GaugePort : public QObject
{
    Q_OBJECT
public:
    enum class OpenFailure { None, NotFound, Busy, Permission, Other };

    explicit GaugePort(QObject* parent = nullptr);
    ~GaugePort() override;

    // 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control of any kind, so that every
    // byte value (XON and XOFF included) is a reading. The port stays closed.
    void applyStartupSettings();

    bool isOpen() const { return m_port.isOpen(); }
    QString path() const { return m_path; }

    // Opens the device by path, then throws away whatever waited in it before the session.
    // A link (COMn beside the program) is followed to the device itself, so that the device's
    // lock is shared with every other program that opens it.
    bool open(const QString& path, OpenFailure* failure, QString* reason);

    // Puts the bytes on the line and waits until they have left (bounded: a dead line cannot
    // hang the program). False with a reason if they could not be sent; if the line failed
    // meanwhile it is closed and that is the reason, with no lost() of its own. Readings that
    // arrive during the wait are handed on after the caller's step, never from inside it.
    bool send(const QByteArray& data, QString* reason);

    // Hands on at once whatever readings wait in the device (the line may be resting between
    // batches): a session that ends must not drop readings that arrived before its end.
    void takeWaiting();

    // Closes the port; output already sent has left by then (see send).
    void close();

    // How long a busy line gathers bytes after a read: about a screen frame.
    static constexpr int kGatherMs = 15;
    // A read this soon after the one before means a busy line. Two frames, not one: the read
    // after a rest comes a frame and a little after the one before it, and a line read every
    // frame must stay busy, or its reads (and so its pictures) would come at uneven times.
    static constexpr int kBusyGapMs = 2 * kGatherMs;

    // Whether the line is gathering a batch (its notification off until the frame is over).
    bool resting() const { return m_resume.isActive(); }

signals:
    // One or more bytes, in the order they arrived.
    void received(const QByteArray& bytes);
    // The line failed while open: the port is already closed when this is emitted.
    void lost(const QString& reason);

private:
    void onReadyRead();
    void pauseReading();
    void resumeReading();
    void onError(QSerialPort::SerialPortError error);
    bool waitUntilSent(QString* reason);
    QString failureReason() const;

    QSerialPort m_port;
    QString m_path;
    bool m_opening = false;
    bool m_sending = false;
    QString m_failedWhileSending;
    // The port's own read notification, found once per opening; while it is off the bytes wait
    // in the device.
    QPointer<QSocketNotifier> m_readNotifier;
    QTimer m_resume;
    // Since the last read that found bytes: a read soon after it means the line is busy.
    QElapsedTimer m_sinceRead;
};

} // namespace piezon
