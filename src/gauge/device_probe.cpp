#include "gauge/device_probe.h"

#include "gauge/device_open.h"

#include <mutex>
#include <thread>

namespace piezon
{

// Shared by the window's thread and the try's: whichever is last lets it go. Once abandoned,
// the try closes what it opened and tells nobody.
struct DeviceProbe::Attempt {
    std::mutex mutex;
    bool abandoned = false;
    deviceopen::Result result;
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
    std::thread([this, attempt, path] {
        const deviceopen::Result result = deviceopen::tryOpen(path);
        std::lock_guard<std::mutex> lock(attempt->mutex);
        if (attempt->abandoned) {
            deviceopen::close(result.held);
            return;
        }
        attempt->result = result;
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
    bool answered = false;
    {
        std::lock_guard<std::mutex> lock(attempt->mutex);
        answered = attempt->result.answered;
        m_held = attempt->result.held;
        attempt->result = {};
    }
    emit finished(answered);
}

void DeviceProbe::cancel()
{
    if (m_attempt) {
        std::lock_guard<std::mutex> lock(m_attempt->mutex);
        m_attempt->abandoned = true;
        deviceopen::close(m_attempt->result.held);
        m_attempt->result = {};
    }
    m_attempt.reset();
    m_busy = false;
    release();
}

void DeviceProbe::release()
{
    deviceopen::close(m_held);
    m_held = deviceopen::kNone;
}

} // namespace piezon
