#pragma once

#include "log/background_sync.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

namespace piezon
{

// The log file itself. Records go to the operating system as they are made, those of a batch of
// readings in one write, so a crash loses nothing already recorded; a thread of its own syncs new
// records to disk within about a second, and the file is synced again when it is closed.
//
// While open, the file is locked: a second program (or session) with the same log is refused
// instead of emptying a file that is being written. The lock is the operating system's, held on
// the file itself, so it goes with the process that holds it, however that process ends.
class MeasurementLog
{
public:
    enum class Claim { Ok, InUse, Failed };

    explicit MeasurementLog(BackgroundSync::SyncFunction sync = {});
    MeasurementLog(const MeasurementLog&) = delete;
    MeasurementLog& operator=(const MeasurementLog&) = delete;
    ~MeasurementLog();

    // Opens and locks the file, creating it if need be, without touching what it holds: the
    // session asks for its log before it disturbs the gauge. On failure the reason is in *error.
    Claim claim(const QString& path, QString* error);
    // Empties the claimed file: the session has really begun.
    bool empty(QString* error);
    // claim() and empty() together.
    bool open(const QString& path, QString* error);
    // Lets go of a claimed file that never became a session's log (a file it created is
    // removed again).
    void abandon();

    bool isOpen() const { return m_file.isOpen(); }
    // Writes one or more whole records (each ending in a line feed) in one write, or reports why
    // not. A record is never left half-written by us: after a failure the records that went in
    // whole stay, a torn one is cut off, and *kept (if given) says how many bytes of them stayed.
    // Also fails once the file has been deleted (noticed within a fraction of a second): records
    // would go nowhere anyone can read them.
    bool write(const QByteArray& records, QString* error, qint64* kept = nullptr);
    // Whether the last write failed because the file was deleted while open.
    bool deleted() const { return m_deleted; }
    void close();
    QString path() const { return m_file.fileName(); }

private:
    QFile m_file;
    BackgroundSync m_sync;
    bool m_created = false; // by claim(), so abandon() removes it
    bool m_linked = false;  // has a name in a folder (a file system that tells)
    bool m_deleted = false;
    QElapsedTimer m_sinceLinkCheck;
};

} // namespace piezon
