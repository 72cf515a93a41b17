#include "gauge/reading_pipeline.h"

#include "log/companion_row.h"
#include "log/log_record.h"

#include <algorithm>

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
        if (w.reading) {
            w.record = buildLogRecord(offsetText, w.reading->caption);
            w.row = companion::readingFields(byte, static_cast<int>(w.reading->corrected),
                                             *parseOffset(offsetText), w.reading->caption);
            w.centi = static_cast<qint16>(qRound(w.reading->pressure * 100));
        }
        w.done = true;
    }
    return w;
}

ReadingPipeline::Result ReadingPipeline::process(quint8 byte, const QString& offsetText,
                                                 bool allData, RecordSink* log, QString* error)
{
    const char c = static_cast<char>(byte);
    return process(&c, 1, offsetText, allData, log, error);
}

ReadingPipeline::Result ReadingPipeline::process(const char* bytes, qsizetype count,
                                                 const QString& offsetText, bool allData,
                                                 RecordSink* log, QString* error)
{
    Sinks sinks;
    sinks.log = log;
    return process(bytes, count, offsetText, allData, sinks, error);
}

ReadingPipeline::Result ReadingPipeline::process(const char* bytes, qsizetype count,
                                                 const QString& offsetText, bool allData,
                                                 const Sinks& sinks, QString* error)
{
    RecordSink* const log = sinks.log;
    m_lastBatch.clear();
    if (count <= 0)
        return Result::Rejected;
    // The offset text is the same for the whole batch: if one byte cannot be read with it, none
    // can.
    if (!work(static_cast<quint8>(bytes[0]), offsetText).reading)
        return Result::Rejected;

    // First what each reading records, decided against a copy: a failed write must leave the
    // previous caption as the last reading in the file left it.
    m_records.clear();
    m_recordEnds.clear();
    RecordPolicy policy = m_policy;
    for (qsizetype i = 0; i < count; ++i) {
        const Worked& worked = work(static_cast<quint8>(bytes[i]), offsetText);
        if (policy.decide(allData, worked.reading->caption) && log)
            m_records += worked.record;
        m_recordEnds.push_back(m_records.size());
    }

    // Then the records, all in one write.
    qsizetype done = count;
    bool written = true;
    if (!m_records.isEmpty()) {
        qint64 kept = 0;
        written = log->write(m_records, error, &kept);
        if (!written) {
            // The first reading whose record is not whole in the file is the one that failed;
            // if all are there (the file was found deleted afterwards), the last one recorded.
            done = 0;
            while (done < count && m_recordEnds[done] <= kept)
                ++done;
            if (done == count) {
                while (done > 0 && m_recordEnds[done - 1] == m_recordEnds[count - 1])
                    --done;
            }
        }
    }

    // Then the companion's rows of the readings that are whole in the log: every reading has
    // one, whatever the log mode.
    bool rowsWritten = true;
    if (sinks.companion && done > 0) {
        m_rows.clear();
        m_rowEnds.clear();
        for (qsizetype i = 0; i < done; ++i) {
            m_rows += sinks.stamp;
            m_rows += m_worked[static_cast<quint8>(bytes[i])].row;
            m_rowEnds.push_back(m_rows.size());
        }
        qint64 kept = 0;
        rowsWritten = sinks.companion->write(m_rows, error, &kept);
        if (!rowsWritten) {
            qsizetype whole = 0;
            while (whole < done && m_rowEnds[whole] <= kept)
                ++whole;
            // The reading whose row failed ends the batch, as one whose record failed does.
            done = std::min(whole, count - 1);
        }
    }
    const bool logWritten = written;
    written = logWritten && rowsWritten;

    // Then the state the window shows, reading by reading up to where the batch ended.
    if (written)
        m_policy = policy;
    for (qsizetype i = 0; i < done; ++i) {
        const Worked& worked = m_worked[static_cast<quint8>(bytes[i])];
        if (!written)
            m_policy.decide(allData, worked.reading->caption);
        m_needleReading = worked.reading->corrected;
        double angle = -m_needleReading;
        RotationLine(m_line, angle);
        m_lastBatch.push_back(worked.centi);
    }
    m_caption = m_worked[static_cast<quint8>(bytes[written ? count - 1 : done])].reading->caption;
    if (!logWritten)
        return Result::LogFailed;
    return rowsWritten ? Result::Shown : Result::CompanionFailed;
}

} // namespace piezon
