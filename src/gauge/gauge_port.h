#pragma once

#include "gauge/line_opener.h"
#include "gauge/serial_line.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace piezon
{

// The serial line to the gauge. Every byte that arrives is handed on unchanged and in order;
// nothing is ever made up from an empty read. A lost line is closed at once and reported once.
// A busy line is read in batches: once a read finds several bytes, or follows the one before
// within two frames, the line gathers what follows for one frame before it is read again, so it
// wakes the program about once a frame instead of once a byte. A lone byte after a quiet spell
// (a real gauge's few readings a second) is read as it comes and the line stays listened to:
// resting after it would cost a wake-up of its own and gather nothing.
//
// The line is opened off this object's thread (opening can take seconds) and everything else
// happens on it.
class GaugePort : public QObject
{
    Q_OBJECT
public:
    using OpenFailure = SerialLine::OpenFailure;

    explicit GaugePort(QObject* parent = nullptr);
    ~GaugePort() override;

    // 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control of any kind: the settings
    // every later open uses. The port stays closed.
    void applyStartupSettings();

    bool isOpen() const { return m_line && m_line->isOpen(); }
    // An open is under way (opened() follows).
    bool opening() const { return m_opener.busy(); }

    // Starts opening the device; opened() follows, and on success the line is open, emptied of
    // what waited in it before, and not yet read (see startReading()). Ignored while open or
    // opening.
    void beginOpen(const QString& path);
    // Forgets the open under way: opened() does not follow, and a line it opens after all is
    // closed at once.
    void cancelOpen();
    // From now on every byte that arrives is handed on.
    void startReading();

    // Puts the bytes on the line and waits until they have left (bounded: a dead line cannot
    // hang the program). False with a reason if they could not be sent; the line is closed then,
    // with no lost() of its own. Readings that arrive during the wait are handed on after the
    // caller's step, never from inside it.
    bool send(const QByteArray& data, QString* reason);

    // Hands on at once whatever readings wait in the device (the line may be resting between
    // batches): a session that ends must not drop readings that arrived before its end.
    void takeWaiting();

    // Closes the port; output already sent has left by then (see send). An open under way is
    // forgotten.
    void close();

    // How long a busy line gathers bytes after a read: about a screen frame.
    static constexpr int kGatherMs = 15;
    // A read this soon after the one before means a busy line. Two frames, not one: the read
    // after a rest comes a frame and a little after the one before it, and a line read every
    // frame must stay busy, or its reads (and so its pictures) would come at uneven times.
    static constexpr int kBusyGapMs = 2 * kGatherMs;
    // Two STOP commands take 33 ms at 9600 baud; anything far beyond that is a dead line.
    static constexpr int kSendTimeoutMs = 2000;

    // Whether the line is gathering a batch (not listened to until the frame is over).
    bool resting() const { return m_resume.isActive(); }

signals:
    // The open begun by beginOpen() is over: the line is open, or why not.
    void opened(bool ok, GaugePort::OpenFailure failure, const QString& reason);
    // One or more bytes, in the order they arrived.
    void received(const QByteArray& bytes);
    // The line failed while open: the port is already closed when this is emitted.
    void lost(const QString& reason);

private:
    void onOpened(SerialLine::Opened& opened);
    void onReadyRead();
    void onFailed(const QString& reason);
    void resumeReading();
    void dropLine();

    struct InLineSignal {
        explicit InLineSignal(int& depth) : m_depth(depth) { ++m_depth; }
        ~InLineSignal() { --m_depth; }
        int& m_depth;
    };

    LineSettings m_settings;
    LineOpener m_opener;
    std::unique_ptr<SerialLine> m_line;
    int m_inLineSignal = 0; // calls of ours under way from inside the line
    QTimer m_resume;
    // Since the last read that found bytes: a read soon after it means the line is busy.
    QElapsedTimer m_sinceRead;
};

} // namespace piezon
