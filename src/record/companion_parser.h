#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <vector>

// Reading back a companion record (log/companion_row.h) this program wrote: bytes in, as they
// come from the file in chunks of any size, and its sessions, readings and events out, or the
// line at fault. Nothing is held but the line being read, so a record of days reads in the
// memory of a few rows.
namespace piezon::record
{

// One reading's row.
struct Row {
    qint64 ms = 0;    // since its session's START
    qint16 centi = 0; // the caption, in hundredths of kgf/cm2
    quint8 byte = 0;  // the raw byte as received
    qint16 offset = 0;
};

// What the rows of a record tell, in the order of the file.
class RecordConsumer
{
public:
    virtual ~RecordConsumer() = default;
    // A СТАРТ row: a session begins, and every «мс» after it counts from its START. `text` is the
    // row's event as written; `line` is its line in the file.
    virtual void sessionBegun(const QDateTime& localStart, qint64 ms, const QString& text,
                              qint64 line) = 0;
    // Readings of the current session, in order.
    virtual void readings(const Row* rows, qsizetype count) = 0;
    // Any other event row, known to this version or not, with the local time it was written.
    virtual void event(qint64 ms, const QString& text, const QDateTime& local) = 0;
    // The whole record has been read and accepted.
    virtual void ended() {}
};

class CompanionParser
{
public:
    // A line longer than this is no row of ours (and a binary file without line ends is never
    // held whole).
    static constexpr qsizetype kMaxLine = 4096;

    explicit CompanionParser(RecordConsumer& consumer);

    // The next bytes of the file. False once the file is refused; nothing after that is read.
    bool feed(const char* data, qsizetype size);
    bool feed(const QByteArray& data) { return feed(data.constData(), data.size()); }
    // The file has ended. A last line without its line end (a record still being written) is
    // left out. False if the file is refused, an empty file or one without a session included;
    // otherwise the consumer is told it has ended.
    bool finish();

    bool refused() const { return m_refusedLine > 0; }
    // "строка 12: …": the line at fault and why, in Russian.
    QString failure() const;
    qint64 failedLine() const { return m_refusedLine; }
    // Whole lines read so far, the header included.
    qint64 lines() const { return m_line; }
    qint64 readingCount() const { return m_readings; }
    qint64 sessionCount() const { return m_sessions; }
    // After finish(): a torn last line was left out.
    bool leftTornLine() const { return m_torn; }

private:
    void line(const char* begin, const char* end);
    void header(const char* begin, const char* end);
    bool row(const char* begin, const char* end);
    void eventRow(const char* stamp, qint64 ms, const char* text, const char* end);
    void flush();
    void refuse(const QString& reason);

    RecordConsumer& m_consumer;
    QByteArray m_partial; // a line begun in an earlier chunk
    std::vector<Row> m_rows;
    qint64 m_line = 0;
    qint64 m_readings = 0;
    qint64 m_sessions = 0;
    qint64 m_refusedLine = 0;
    QString m_reason;
    bool m_anyBytes = false;
    bool m_torn = false;
    bool m_finished = false;
};

} // namespace piezon::record
