#pragma once

#include "log/record_sink.h"

#include <QFile>

namespace piezon
{

class BackgroundSync;

// The open companion record: rows go to the end of the file in one write each, as the log's
// records do, and the log's sync thread puts them on the disk with the log's.
class CompanionFile : public RecordSink
{
public:
    explicit CompanionFile(BackgroundSync& sync) : m_sync(sync) {}

    QFile& file() { return m_file; }
    bool isOpen() const { return m_file.isOpen(); }
    qint64 size() const { return m_file.size(); }
    bool write(const QByteArray& rows, QString* error, qint64* kept = nullptr) override;

private:
    BackgroundSync& m_sync;
    QFile m_file;
};

} // namespace piezon
