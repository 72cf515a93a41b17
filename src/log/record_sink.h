#pragma once

#include <QByteArray>
#include <QString>

namespace piezon
{

// Where a batch of readings' records go: the log, the companion record, a test's buffer.
class RecordSink
{
public:
    virtual ~RecordSink() = default;
    // Writes one or more whole records (each ending in a line feed) in one write, or reports why
    // not. After a failure the records that went in whole stay, a torn one is cut off, and *kept
    // (if given) says how many bytes of them stayed.
    virtual bool write(const QByteArray& records, QString* error, qint64* kept = nullptr) = 0;
};

} // namespace piezon
