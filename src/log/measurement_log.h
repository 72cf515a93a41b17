#pragma once

#include "log/background_sync.h"
#include "log/companion_file.h"
#include "log/record_sink.h"

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
//
// Beside it, when asked for, the companion record (companion_row.h): the log's lock guards it
// too, it moves aside with the log, and it is synced with it. A session goes on without it when
// it cannot be had (a spreadsheet program holds it open); the log never waits for it.
class MeasurementLog : public RecordSink
{
public:
    // HeldElsewhere: another program has the log open and lets nobody else write to it (a
    // spreadsheet program does); both files are left as they are. NotAFile: a FIFO or a socket
    // stands at the path; writing to it could block for ever.
    enum class Claim { Ok, InUse, HeldElsewhere, NotAFile, Failed };
    // InUse: another copy of the program got hold of the log's name while the last session's
    // log was being moved aside (only where the file system cannot rule that out). Busy: another
    // program has the log (or the previous log) open and does not let it be renamed right now;
    // nothing changed, the log is still claimed. NotMoved: the last session's log could not be
    // kept aside, and is left as it was.
    enum class Begun { Ok, InUse, Busy, NotMoved, Failed };

    // `sync` stands in for the disk in tests; it is given the sync thread's own descriptor.
    explicit MeasurementLog(BackgroundSync::SyncFunction sync = {});
    MeasurementLog(const MeasurementLog&) = delete;
    MeasurementLog& operator=(const MeasurementLog&) = delete;
    ~MeasurementLog() override;

    // Keeps the companion record from the next claim() on.
    void keepCompanion(bool keep) { m_keepCompanion = keep; }
    // The companion record of the session under way, or null when it keeps none.
    RecordSink* companion() { return m_companionBegun ? &m_companion : nullptr; }
    QString companionPath() const;
    // The bytes the companion record of the session under way holds; -1 while it keeps none.
    qint64 companionSize() const { return m_companionBegun ? m_companion.size() : -1; }
    // Why the session under way keeps no companion record although it was asked to; empty when
    // it keeps one. Known from claim() on, final after begin().
    const QString& companionMissing() const { return m_companionMissing; }

    // Opens and locks the file, creating it if need be, without touching what it holds: the
    // session asks for its log before it disturbs the gauge. On failure the reason is in *error.
    Claim claim(const QString& path, QString* error);
    // The session has really begun: the claimed file becomes its empty log. A file that holds
    // records is first moved aside under previousLogPath() (replacing the one there), and a new
    // file takes its place; if that cannot be done the file is left as it is and nothing is
    // emptied. A symbolic link is emptied in place. On failure the reason is in *error.
    // Never waits: Busy says to ask again shortly (the holder mostly lets go within a second or
    // two), and, if it stays Busy, to keep the records by beginByCopy() instead.
    Begun begin(QString* error);
    // As begin(), but the records are kept by copying instead of renaming, which a program that
    // holds the log open cannot prevent: they are copied to a new file beside the log and put on
    // the disk, that file replaces the previous log, and only then is the log emptied, in
    // place. The log stays locked throughout. Needs room on the disk for the copy. NotMoved,
    // with the file that failed named in *error: the log still holds its records (the previous
    // log holds a copy of them if only the emptying failed).
    Begun beginByCopy(QString* error);
    // Lets go of a claimed file that never became a session's log (a file it created is
    // removed again).
    void abandon();

    bool isOpen() const { return m_file.isOpen(); }
    // The file system keeps no locks: a second copy of the program could take this log too.
    // Known from claim() on; worth telling the operator once, never a reason to refuse.
    bool withoutLock() const { return m_withoutLock; }
    // Writes one or more whole records (each ending in a line feed) in one write, or reports why
    // not. A record is never left half-written by us: after a failure the records that went in
    // whole stay, a torn one is cut off, and *kept (if given) says how many bytes of them stayed.
    // Also fails once the file has been deleted (noticed within a fraction of a second): records
    // would go nowhere anyone can read them; and once a sync has failed, with its reason: records
    // the disk did not take may be gone after a power cut, whatever the writes say.
    bool write(const QByteArray& records, QString* error, qint64* kept = nullptr) override;
    // Whether the last write failed because the file was deleted while open.
    bool deleted() const { return m_deleted; }
    void close();
    // The descriptor records are written through (for tests: the sync thread never shares it).
    int descriptor() const { return m_file.handle(); }

private:
    Begun beginSession(bool byCopy, QString* error);
    Begun copyAside(QString* error);
    void noteFileIdentity();
    void stopSync();
    void claimCompanion();
    void beginCompanion();
    void closeCompanion(bool remove);

    QString m_path;
    QFile m_file;
    BackgroundSync m_sync;
    int m_syncFd = -1;
    bool m_created = false; // by claim(), so abandon() removes it
    bool m_linked = false;  // has a name in a folder (a file system that tells)
    bool m_deleted = false;
    bool m_withoutLock = false;
    QElapsedTimer m_sinceLinkCheck;
    bool m_keepCompanion = false;
    CompanionFile m_companion{m_sync};
    int m_companionSyncFd = -1;
    bool m_companionCreated = false;
    bool m_companionBegun = false;
    QString m_companionMissing;
};

} // namespace piezon
