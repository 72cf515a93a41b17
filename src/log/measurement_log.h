#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

namespace piezon
{

// The log file itself. Records go to the operating system as they are made, those of a batch of
// readings in one write, so a crash loses nothing already recorded; the file is synced to disk
// when it is closed.
class MeasurementLog
{
public:
    MeasurementLog() = default;
    MeasurementLog(const MeasurementLog&) = delete;
    MeasurementLog& operator=(const MeasurementLog&) = delete;
    ~MeasurementLog();

    // Creates the file, or empties it if it exists. On failure the reason is in *error.
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    // Writes one or more whole records (each ending in a line feed) in one write, or reports why
    // not. A record is never left half-written by us: after a failure the records that went in
    // whole stay, a torn one is cut off, and *kept (if given) says how many bytes of them stayed.
    // Also fails once the file has been deleted (noticed within a fraction of a second): records
    // would go nowhere anyone can read them.
    bool write(const QByteArray& records, QString* error, qint64* kept = nullptr);
    // Whether the last write failed because the file was deleted while open.
    bool deleted() const { return m_deleted; }
    void close();
    QString path() const { return m_file.fileName(); }

private:
    QFile m_file;
    bool m_linked = false; // has a name in a folder (a file system that tells)
    bool m_deleted = false;
    QElapsedTimer m_sinceLinkCheck;
};

} // namespace piezon
