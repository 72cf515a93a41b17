#pragma once

#include <QFile>
#include <QString>

// What the log needs of the operating system's files, one implementation per platform
// (log_file_unix.cpp, log_file_win.cpp). `fd` is the C run-time descriptor QFile::handle() gives.
namespace piezon::logfile
{

enum class Lock { Taken, InUse, Unsupported, Failed };

// Makes this open file the only writer of its log, without a non-blocking wait: another
// process, or another open of it in this one, that asks the same gets InUse. Other programs can
// still read the file (an operator opens it in a text editor). The lock goes with the process,
// however it ends. Unsupported: the file system keeps no locks. Failed: the reason is in *error.
Lock lockAsOnlyWriter(int fd, QString* error);

// Before a write: the next record goes to the file's end as it is now, even if someone else has
// shortened the file (else the gap would fill with NUL bytes). Unix opens the log for appending,
// which does this in the write itself; Windows has no such mode for a file that can also be
// emptied, so the write position is moved to the end.
void keepAppending(QFile& file);

// Whether the open file is a plain file with a name in a folder, whose deletion
// wasDeleted() can notice. False where that cannot happen or cannot be told.
bool canNoticeDeletion(int fd);
// Whether the open file's last name has gone: records would go nowhere anyone can read them.
bool wasDeleted(int fd);

// The file's data and size on the disk now, blocking until they are.
void syncToDisk(int fd);

} // namespace piezon::logfile
