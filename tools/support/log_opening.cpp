#include "support/log_opening.h"

namespace piezon::support
{

bool openLog(MeasurementLog& log, const QString& path, QString* error)
{
    if (log.claim(path, error) != MeasurementLog::Claim::Ok) {
        if (log.isOpen())
            log.abandon();
        if (error && error->isEmpty())
            *error = QStringLiteral("файл журнала открыт другой программой");
        return false;
    }
    MeasurementLog::Begun begun = log.begin(error);
    if (begun == MeasurementLog::Begun::Busy)
        begun = log.beginByCopy(error);
    if (begun != MeasurementLog::Begun::Ok) {
        log.close();
        if (error && error->isEmpty())
            *error = QStringLiteral("файл журнала открыт другой программой");
        return false;
    }
    return true;
}

} // namespace piezon::support
