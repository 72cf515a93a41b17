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
    // NotAFile: a FIFO or a socket stands at the path; writing to it could block for ever.
    enum class Claim { Ok, InUse, NotAFile, Failed };
    // InUse: another copy of the program got hold of the log's name while the last session's
    // log was being moved aside (only where the file system cannot rule that out). NotMoved:
    // the last session's log could not be moved aside, and is left as it was.
    enum class Begun { Ok, InUse, NotMoved, Failed };

    explicit MeasurementLog(BackgroundSync::SyncFunction sync = {});
    MeasurementLog(const MeasurementLog&) = delete;
    MeasurementLog& operator=(const MeasurementLog&) = delete;
    ~MeasurementLog();

    // Opens and locks the file, creating it if need be, without touching what it holds: the
    // session asks for its log before it disturbs the gauge. On failure the reason is in *error.
    Claim claim(const QString& path, QString* error);
    // The session has really begun: the claimed file becomes its empty log. A file that holds
    // records is first moved aside under previousLogPath() (replacing the one there), and a new
    // file takes its place; if that cannot be done the file is left as it is and nothing is
    // emptied. A symbolic link is emptied in place. On failure the reason is in *error.
    Begun begin(QString* error);
    // claim() and begin() together.
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
    QString path() const { return m_path; }

private:
    void noteFileIdentity();

    QString m_path;
    QFile m_file;
    BackgroundSync m_sync;
    bool m_created = false; // by claim(), so abandon() removes it
    bool m_linked = false;  // has a name in a folder (a file system that tells)
    bool m_deleted = false;
    QElapsedTimer m_sinceLinkCheck;
};

} // namespace piezon
