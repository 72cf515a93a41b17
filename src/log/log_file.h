#pragma once

#include <QFile>
#include <QString>

// What the log needs of the operating system's files, one implementation per platform
// (log_file_unix.cpp, log_file_win.cpp). `fd` is the C run-time descriptor QFile::handle() gives.
namespace piezon::logfile
{

enum class Opened { Ok, NotAFile, Failed };

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

enum class Moved { Done, InUse, Failed };

// Moves the log held open and locked in `held` (at `path`) to `previous`, replacing whatever file
// is there, and puts a new empty log, open and locked, in its place: `held` is then the new log
// and the old one's lock is let go. A rename, so it needs no disk space. Another copy of the
// program never gets hold of `path` meanwhile; where the file system cannot promise that and
// one did, InUse, and `held` has let go of everything. Failed: nothing changed, reason in *error.
Moved moveAside(QFile& held, const QString& path, const QString& previous, QString* error);

// Before a write: the next record goes to the file's end as it is now, even if someone else has
// shortened the file (else the gap would fill with NUL bytes). Unix opens the log for appending,
// which does this in the write itself; Windows has no such mode for a file that can also be
// emptied, so the write position is moved to the end.
void keepAppending(QFile& file);

// Whether the open file is a plain file with a name in a folder, whose deletion
// wasDeleted() can notice. False where that cannot happen or cannot be told.
bool canNoticeDeletion(int fd);
// Whether the open file's last name (`path`) has gone: records would go nowhere anyone can read.
bool wasDeleted(int fd, const QString& path);

// The file's data and size on the disk now, blocking until they are.
void syncToDisk(int fd);

} // namespace piezon::logfile
