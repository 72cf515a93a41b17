#pragma once

#include <QFile>
#include <QString>

// What the log needs of the operating system's files, one implementation per platform
// (log_file_unix.cpp, log_file_win.cpp). `fd` is the C run-time descriptor QFile::handle() gives.
// Error numbers are the platform's own (errno, or a Windows error code), for systemReason().
namespace piezon
{
// The log's full path in the program's folder, as the platform joins it.
QString logFilePath(const QString& programDir);
} // namespace piezon

namespace piezon::logfile
{

// HeldElsewhere: another program has the file open and lets nobody else write to it (a
// spreadsheet program that shares it only for reading); only that program can let go of it.
enum class Opened { Ok, NotAFile, HeldElsewhere, Failed };

// Opens (creating it if need be) the log at `path` for appending records, into `file`, without
// ever blocking: a FIFO or a socket at the path (after links are followed) is NotAFile, and is
// never waited on. A regular file, or a device the operator linked there, is Ok. On Windows the
// file is opened so that it can be renamed (and so deleted) while open. Failed: reason in *error.
Opened openForRecords(QFile& file, const QString& path, QString* error);

enum class Lock { Taken, InUse, Unsupported, Failed };

// Makes this open file the only writer of its log, without a non-blocking wait: another
// process, or another open of it in this one, that asks the same gets InUse. Other programs can
// still read the file (an operator opens it in a text editor). The lock goes with the process,
// however it ends. Unsupported: the file system keeps no locks. Failed: the reason is in *error.
Lock lockAsOnlyWriter(int fd, QString* error);
// What the system's answer to asking for that lock means: 0 is Taken, and an error number that
// says this file system keeps no locks at all is Unsupported.
Lock lockOutcome(int errorNumber);

// Busy: another program has the log (or the previous log) open and does not let it be renamed
// right now (a log viewer, an antivirus or backup program); nothing changed, and it is likely to
// let go soon. Only Windows refuses a rename for that.
enum class Moved { Done, InUse, Busy, Failed };

// Moves the log held open and locked in `held` (at `path`) to `previous`, replacing whatever file
// is there, and puts a new empty log, open and locked, in its place: `held` is then the new log
// and the old one's lock is let go. A rename, so it needs no disk space. Another copy of the
// program never gets hold of `path` meanwhile; where the file system cannot promise that and
// one did, InUse, and `held` has let go of everything. Busy and Failed: nothing changed, reason
// in *error.
Moved moveAside(QFile& held, const QString& path, const QString& previous, QString* error);

// Gives the file at `from` the name `to`, replacing a file there; 0, or the error number.
int replaceFile(const QString& from, const QString& to);
// Cuts the open file down to `size` bytes through this descriptor; 0, or the error number.
int setSize(int fd, qint64 size);

// Writes `size` bytes at the file's end as it is now, even if someone else has shortened the
// file (else the gap would fill with NUL bytes); returns how many went in. When not all did,
// *why is the error number.
qint64 writeAtEnd(int fd, const char* data, qint64 size, int* why);

// Whether the open file is a plain file with a name in a folder, whose deletion
// wasDeleted() can notice. False where that cannot happen or cannot be told.
bool canNoticeDeletion(int fd);
// Whether the open file's last name (`path`) has gone: records would go nowhere anyone can read.
bool wasDeleted(int fd, const QString& path);

// A second descriptor of the same open log for the thread that syncs it, or -1 with *why set.
// On Windows every call on one handle waits for the call before it, so a sync on the writer's own
// handle would hold up each record behind it.
int openForSync(int fd, int* why);
void closeForSync(int syncFd);

// Starts putting the file's written data on the disk without waiting for it (nothing where the
// system has no such call): a sync after it finds the data on its way.
void startWriteback(int fd);
// The file's data and size on the disk now, blocking until they are. 0, or the error number; a
// device that keeps nothing to sync (a null device, a terminal) counts as synced.
int syncToDisk(int fd);

} // namespace piezon::logfile
