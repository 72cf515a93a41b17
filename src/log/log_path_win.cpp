#include "log/log_record.h"

namespace piezon
{

QString logFilePath(const QString& programDir)
{
    return joinedWithBackslash(programDir);
}

} // namespace piezon
