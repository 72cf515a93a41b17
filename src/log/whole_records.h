#pragma once

#include <QByteArray>
#include <QFile>

namespace piezon
{

// Writes whole records (each ending in a line feed) at the end of `file` in one write, as the log
// and its companion do. A full disk can take part of them: the torn last one is cut off again,
// so that the file always ends on a whole line. Returns how many bytes of the records stayed;
// when that is not all of them, *why is the system's error number.
qint64 appendWholeRecords(QFile& file, const QByteArray& records, int* why);

} // namespace piezon
