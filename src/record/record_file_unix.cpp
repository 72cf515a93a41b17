#include "record/record_file.h"

#include "log/system_reason.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace piezon
{

RecordFile::~RecordFile()
{
    close();
}

bool RecordFile::open(const QString& path, QString* error)
{
    close();
    // Without waiting: opening a FIFO for reading would wait for a writer.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = systemReason(errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        *error = systemReason(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? systemReason(EISDIR) : QStringLiteral("Это не файл");
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_handle = fd;
    m_size = qint64(st.st_size);
    return true;
}

qint64 RecordFile::read(char* into, qint64 most, QString* error)
{
    for (;;) {
        const ssize_t n = ::read(int(m_handle), into, std::size_t(most));
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR) {
            *error = systemReason(errno);
            return -1;
        }
    }
}

void RecordFile::close()
{
    if (m_handle == kClosed)
        return;
    ::close(int(m_handle));
    m_handle = kClosed;
    m_size = 0;
}

} // namespace piezon
