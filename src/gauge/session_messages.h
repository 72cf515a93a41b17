#pragma once

#include <QString>

namespace piezon
{

// The operator-facing texts of the gauge session. Every text about a port names its number and,
// where known, its device ("COM5 (/dev/ttyUSB0)").
namespace messages
{

QString noSuchPort(int number);
QString portNotFound(const QString& port, const QString& reason);
QString portBusy(const QString& port, const QString& reason);
QString portNoPermission(const QString& port, const QString& reason);
QString portOpenFailed(const QString& port, const QString& reason);
// A wireless gauge whose link could not be made: it is off or too far away.
QString gaugeUnreachable(const QString& port, const QString& reason);
// The port is being opened, which can take seconds (a wireless link is made meanwhile).
QString connecting(int number);
QString sendFailed(const QString& port, const QString& reason);
// The link dropped during a session; the program is getting it back by itself.
QString linkLost(const QString& port, const QString& reason);
QString numberLeadsElsewhere(const QString& port, const QString& gauge);
QString logInUse(const QString& path);
// Another program has the log open and lets nobody else write to it (a spreadsheet program).
QString logHeldElsewhere(const QString& path);
// The log's file system keeps no locks: a second copy of the program would not be kept out.
QString logWithoutLock(const QString& path);
QString logCannotBeCreated(const QString& path, const QString& reason);
QString logNotAFile(const QString& path);
QString previousLogNotKept(const QString& path, const QString& previous, const QString& reason);
QString logWriteFailed(const QString& path, const QString& reason);
QString logDeleted(const QString& path);
// The companion record (readings with their times) cannot be kept this session; the log is.
QString companionNotKept(const QString& path, const QString& reason);
QString companionWriteFailed(const QString& path, const QString& reason);

} // namespace messages
} // namespace piezon
