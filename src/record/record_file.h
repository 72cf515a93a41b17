#pragma once

#include <QString>
#include <QtGlobal>

namespace piezon
{

// A saved record opened for reading only, one implementation per platform (record_file_unix.cpp,
// record_file_win.cpp). Every other program may go on writing, renaming and deleting it meanwhile:
// the live session's own record is read while rows go on being added to it, and a START must
// still be able to move it aside. Reasons are in Russian.
class RecordFile
{
public:
    RecordFile() = default;
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // A folder, a device, a FIFO or a socket is refused: only a plain file is a record (a FIFO
    // would hold the reader until someone writes into it).
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_handle != kClosed; }
    // The size when it was opened.
    qint64 size() const { return m_size; }
    // Up to `most` bytes: 0 at the end, -1 with the reason.
    qint64 read(char* into, qint64 most, QString* error);
    void close();

private:
    static constexpr qintptr kClosed = -1;
    qintptr m_handle = kClosed; // a descriptor, or a HANDLE
    qint64 m_size = 0;
};

} // namespace piezon
