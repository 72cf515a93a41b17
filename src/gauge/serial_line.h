#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace piezon
{

// How the line is set up: the gauge's 9600 baud, 8 data bits, no parity, 1 stop bit. No flow
// control of any kind, so that every byte value (XON and XOFF included) is a reading.
struct LineSettings {
    int baudRate = 9600;
    int dataBits = 8;
    int stopBits = 1;
};

// One open serial line to the gauge, read and written by the platform's own means
// (serial_line_unix.cpp: QSerialPort; serial_line_win.cpp: overlapped reads and writes of our
// own). Every byte that arrives is kept, unchanged and in order, until takeAll() hands it on.
//
// A line is opened on a thread of its own (open() blocks for as long as the device takes: a
// Bluetooth link connects inside it) and is then handed to the window's thread, where everything
// else happens.
class SerialLine : public QObject
{
    Q_OBJECT
public:
    enum class OpenFailure {
        None,
        NotFound,    // no such device
        Busy,        // another program holds it
        Permission,  // we may not use it
        Unreachable, // a wireless gauge that does not answer: switched off or out of range
        Other
    };
    struct Opened {
        std::unique_ptr<SerialLine> line; // null if the device could not be opened
        OpenFailure failure = OpenFailure::None;
        QString reason; // the system's words for it
    };

    // Opens the device ("/dev/ttyUSB0", a link to one, "COM3"), sets it up and throws away what
    // waited in it before. Blocks; the line lives on the calling thread until moved. It does not
    // listen yet.
    static Opened open(const QString& device, const LineSettings& settings);

    ~SerialLine() override;

    bool isOpen() const;

    // On: readyRead() follows as soon as bytes wait, at once if they already do (from the event
    // loop, never from inside this call). Off: no readyRead() until on again; bytes wait in the
    // device meanwhile.
    void listen(bool on);
    // What has been received and is ready to hand on, without waiting. After a failure has closed
    // the line: what came before the failure.
    QByteArray takeAll();
    // The same, and also whatever waits in the device while the line is not listened to.
    QByteArray takeWaiting();

    // Puts the bytes on the line and waits until the device has sent them, for at most
    // timeoutMs. A failure closes the line and is returned here (with the system's reason),
    // never as failed(). No readyRead() comes from inside it.
    bool send(const QByteArray& bytes, int timeoutMs, QString* reason);

    // Closes the line; output not yet sent is thrown away. No signal follows.
    void close();

signals:
    void readyRead();
    // The line failed while open (the far end went away, the device was pulled out). The line
    // is closed by the time this is emitted, and it is emitted once.
    void failed(const QString& reason);

private:
    SerialLine();
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace piezon
