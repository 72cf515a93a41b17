#include "log/log_record.h"

#include <QDir>

namespace piezon
{

QString logFilePath(const QString& programDir)
{
    // A file-system root ("/") gets no doubled separator.
    return QDir(programDir).filePath(logFileName());
}

} // namespace piezon
