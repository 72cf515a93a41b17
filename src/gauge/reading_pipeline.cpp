#include "gauge/reading_pipeline.h"

#include "log/log_record.h"
#include "log/measurement_log.h"

namespace piezon
{

ReadingPipeline::ReadingPipeline(QChar separator) : m_separator(separator) {}

const ReadingPipeline::Worked& ReadingPipeline::work(quint8 byte, const QString& offsetText)
{
    if (offsetText != m_workedOffset) {
        m_worked = {};
        m_workedOffset = offsetText;
    }
    Worked& w = m_worked[byte];
    if (!w.done) {
        w.reading = computeReading(byte, offsetText, m_separator);
        if (w.reading)
            w.record = buildLogRecord(offsetText, w.reading->caption);
        w.done = true;
    }
    return w;
}

ReadingPipeline::Result ReadingPipeline::process(quint8 byte, const QString& offsetText,
                                                 bool allData, MeasurementLog* log, QString* error)
{
    const Worked& worked = work(byte, offsetText);
    const std::optional<Reading>& reading = worked.reading;
    if (!reading)
        return Result::Rejected;

    m_caption = reading->caption;

    // Decide against a copy: a failed write must leave the previous caption as it was.
    RecordPolicy policy = m_policy;
    if (policy.decide(allData, m_caption) && log) {
        if (!log->write(worked.record, error))
            return Result::LogFailed;
    }
    m_policy = policy;

    m_needleReading = reading->corrected;
    double angle = -m_needleReading;
    RotationLine(m_line, angle);
    return Result::Shown;
}

} // namespace piezon
