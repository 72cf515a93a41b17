#pragma once

#include "dial/needle_geometry.h"
#include "gauge/reading_chain.h"
#include "log/record_policy.h"
#include "log/record_sink.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace piezon
{

// What one received byte does to the window's state: the caption, the log and the needle, in that
// order. Holds the state the window shows; painting it is someone else's business.
class ReadingPipeline
{
public:
    enum class Result {
        Shown,           // caption set, recorded as the mode asks, needle turned
        Rejected,        // the offset text is not a number (or there was no byte): nothing changed
        LogFailed,       // caption set but the record could not be written; needle not turned
        CompanionFailed, // as LogFailed, for the reading's row in the companion record
    };

    // Where a batch goes: the log's records as the log mode asks, and a row for every reading
    // in the companion record, each row beginning with `stamp` (the batch's arrival).
    struct Sinks {
        RecordSink* log = nullptr;
        RecordSink* companion = nullptr;
        QByteArray stamp;
    };

    explicit ReadingPipeline(QChar separator);

    // With no log (no session, as when the window is driven directly) nothing is recorded.
    Result process(quint8 byte, const QString& offsetText, bool allData, RecordSink* log,
                   QString* error);

    // A batch of bytes, each one reading in arrival order, with the same outcome as feeding them
    // one by one, except that the batch's records reach the log in one write before anything of
    // the batch is shown. If that write fails, the batch ends at the first reading whose record
    // is not in the file whole, exactly as a single reading's failure would: that reading's
    // caption set, the needle and the previous caption as the reading before left them.
    Result process(const char* bytes, qsizetype count, const QString& offsetText, bool allData,
                   RecordSink* log, QString* error);
    // The same with the companion record too: its rows are written after the log's records, in
    // one write, and the batch ends at the first reading that is not whole in both.
    Result process(const char* bytes, qsizetype count, const QString& offsetText, bool allData,
                   const Sinks& sinks, QString* error);

    // A new log starts: its first reading is recorded whatever was shown before.
    void startNewLog() { m_policy.reset(); }

    // The corrected readings the last batch took (those shown and recorded; none if it was
    // rejected), in hundredths of kgf/cm2, in order.
    const std::vector<qint16>& lastBatch() const { return m_lastBatch; }

    const QString& caption() const { return m_caption; }
    const Line& needle() const { return m_line; }
    double needleReading() const { return m_needleReading; }

private:
    // What the chain and the record make of one byte at one offset, worked out once.
    struct Worked {
        bool done = false;
        std::optional<Reading> reading;
        QByteArray record;
        QByteArray row;   // the companion's fields after the stamp
        qint16 centi = 0; // the pressure in hundredths
    };
    const Worked& work(quint8 byte, const QString& offsetText);

    QChar m_separator;
    // For the offset text last seen: at full speed the same few bytes recur thousands of times a
    // second, and formatting their captions and records would be most of the work per reading.
    QString m_workedOffset;
    std::array<Worked, 256> m_worked;
    RecordPolicy m_policy;
    // Kept between batches so that their memory is reused.
    QByteArray m_records;
    std::vector<qsizetype> m_recordEnds; // per reading: the end of the records up to it
    QByteArray m_rows;
    std::vector<qsizetype> m_rowEnds;
    std::vector<qint16> m_lastBatch;
    QString m_caption = QStringLiteral("0.00");
    Line m_line = kLine1AtRest;
    double m_needleReading = 0;
};

} // namespace piezon
