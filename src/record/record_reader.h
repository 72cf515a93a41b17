#pragma once

#include "record/record_sessions.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QThread;

namespace piezon
{

// Reads a saved record on a thread of its own, so that the live session's readings never wait
// for the disk or the parsing: the thread only reads the file's bytes and parses them into the
// sessions' histories, and hands them whole to the window's thread at the end.
class RecordReader : public QObject
{
    Q_OBJECT
public:
    struct Outcome {
        enum class Kind { Read, Refused, Failed, Cancelled };
        Kind kind = Kind::Cancelled;
        QString path;
        // Refused: "строка N: …"; Failed: the system's reason.
        QString reason;
        std::unique_ptr<record::RecordSessions> sessions; // Read, by start(path)
        std::unique_ptr<record::RecordConsumer> consumer; // Read, by start(path, consumer)
        qint64 readings = 0;
        bool leftTornLine = false;
    };

    static constexpr qint64 kChunk = 1 << 20;

    explicit RecordReader(QObject* parent = nullptr);
    ~RecordReader() override;

    // Begins reading `path` into its sessions; false while another is being read.
    bool start(const QString& path);
    // The same into `consumer`, which the thread has to itself until finished().
    bool start(const QString& path, std::unique_ptr<record::RecordConsumer> consumer);
    bool busy() const { return m_thread != nullptr; }
    // The reading stops at its next chunk; finished() comes with Cancelled.
    void cancel();
    // How far it is, from any thread: bytes read, and the file's size at its opening.
    qint64 bytesRead() const { return m_done.load(std::memory_order_relaxed); }
    qint64 bytesTotal() const { return m_total.load(std::memory_order_relaxed); }
    // After finished(): what came of it, once.
    Outcome take();

signals:
    void finished();

private:
    void run(const QString& path, std::unique_ptr<record::RecordConsumer> consumer, bool sessions);
    void onThreadDone();

    QThread* m_thread = nullptr;
    Outcome m_outcome; // the thread's alone until it has finished
    std::atomic<bool> m_cancel{false};
    std::atomic<qint64> m_done{0};
    std::atomic<qint64> m_total{0};
};

} // namespace piezon
