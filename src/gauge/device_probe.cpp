#include "gauge/device_probe.h"

#include <QFile>

#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace piezon
{

// Shared by the window's thread and the try's: whichever is last lets it go. Once abandoned,
// the try closes what it opened and tells nobody.
struct DeviceProbe::Attempt {
    std::mutex mutex;
    bool abandoned = false;
    int fd = -1;
};

DeviceProbe::DeviceProbe(QObject* parent) : QObject(parent) {}

DeviceProbe::~DeviceProbe()
{
    cancel();
}

void DeviceProbe::start(const QString& path)
{
    if (m_busy)
        return;
    release();
    m_busy = true;
    auto attempt = std::make_shared<Attempt>();
    m_attempt = attempt;
    const QByteArray device = QFile::encodeName(path);
    std::thread([this, attempt, device] {
#ifdef Q_OS_UNIX
        const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
#else
        const int fd = -1;
#endif
        std::lock_guard<std::mutex> lock(attempt->mutex);
        if (attempt->abandoned) {
#ifdef Q_OS_UNIX
            if (fd >= 0)
                ::close(fd);
#endif
            return;
        }
        attempt->fd = fd;
        // Posted while the window's thread cannot be abandoning us (it takes the same lock),
        // and dropped with this object if it is destroyed before the event is delivered.
        QMetaObject::invokeMethod(
            this, [this, attempt] { onDone(attempt); }, Qt::QueuedConnection);
    }).detach();
}

void DeviceProbe::onDone(const std::shared_ptr<Attempt>& attempt)
{
    if (attempt != m_attempt)
        return;
    m_attempt.reset();
    m_busy = false;
    {
        std::lock_guard<std::mutex> lock(attempt->mutex);
        m_held = attempt->fd;
        attempt->fd = -1;
    }
    emit finished(m_held >= 0);
}

void DeviceProbe::cancel()
{
    if (m_attempt) {
        std::lock_guard<std::mutex> lock(m_attempt->mutex);
        m_attempt->abandoned = true;
#ifdef Q_OS_UNIX
        if (m_attempt->fd >= 0)
            ::close(m_attempt->fd);
#endif
        m_attempt->fd = -1;
    }
    m_attempt.reset();
    m_busy = false;
    release();
}

void DeviceProbe::release()
{
#ifdef Q_OS_UNIX
    if (m_held >= 0)
        ::close(m_held);
#endif
    m_held = -1;
}

} // namespace piezon
