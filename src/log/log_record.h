#pragma once

#include <QByteArray>
#include <QString>

namespace piezon
{

// One line of the measurement log, in Windows-1251, ending in CR LF:
// "  Погрешность" + offset text + "    |    " + caption + "     кгс/cм2".
// The offset and caption are ASCII by construction; anything else is written as '?', so the file
// always stays valid Windows-1251.
QByteArray buildLogRecord(const QString& offsetText, const QString& caption);

// The log's file name, "Пьезон_RX418.log".
QString logFileName();

// Where the last session's records go when a new session begins: the same folder and name with
// "_предыдущий" before the extension, "Пьезон_RX418_предыдущий.log".
QString previousLogPath(const QString& logPath);

// The folder in Windows' own spelling followed directly by "\" and the name, with no test for a
// separator already there: "C:\Пьезон\Пьезон_RX418.log", and at a drive root
// "C:\\Пьезон_RX418.log".
QString joinedWithBackslash(const QString& programDir);

// A path as Windows' file functions take it. Backslashes only; and a path too long for MAX_PATH
// in the extended form, which has no length limit where the system allows long paths, but which
// the system takes literally: no "/", no empty, "." or ".." parts. So, when long, "C:\\a\..\b"
// (or "C:/a/../b") becomes "\\?\C:\b", and "\\server\share\x" becomes
// "\\?\UNC\server\share\x". Short and relative paths are only given backslashes; a path
// already in a "\\?\" or "\\.\" form is left as it is.
QString windowsFilePath(const QString& path);

} // namespace piezon
