#include "gauge/reading_pipeline.h"

#include "log/log_record.h"
#include "log/measurement_log.h"

namespace piezon
{

ReadingPipeline::ReadingPipeline(QChar separator) : m_separator(separator) {}

ReadingPipeline::Result ReadingPipeline::process(quint8 byte, const QString& offsetText,
                                                 bool allData, MeasurementLog* log, QString* error)
{
    const std::optional<Reading> reading = computeReading(byte, offsetText, m_separator);
    if (!reading)
        return Result::Rejected;

    m_caption = reading->caption;

    // Decide against a copy: a failed write must leave the previous caption as it was.
    RecordPolicy policy = m_policy;
    if (policy.decide(allData, m_caption) && log) {
        if (!log->write(buildLogRecord(offsetText, m_caption), error))
            return Result::LogFailed;
    }
    m_policy = policy;

    m_needleReading = reading->corrected;
    double angle = -m_needleReading;
    RotationLine(m_line, angle);
    return Result::Shown;
}

} // namespace piezon
