#include "gauge/device_open.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace piezon::deviceopen
{

Result tryOpen(const QString& device)
{
    const int fd =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return {fd >= 0, fd >= 0 ? Handle(fd) : kNone};
}

void close(Handle handle)
{
    if (handle >= 0)
        ::close(static_cast<int>(handle));
}

} // namespace piezon::deviceopen
