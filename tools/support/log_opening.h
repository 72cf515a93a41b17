#pragma once

#include "log/measurement_log.h"

#include <QString>

namespace piezon::support
{

// A log claimed and begun in one step, as a test or a bench wants it; a log that stays busy is
// kept by copying at once. On failure the log is let go of and the reason is in *error.
bool openLog(MeasurementLog& log, const QString& path, QString* error);

} // namespace piezon::support
