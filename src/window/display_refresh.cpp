#include "window/display_refresh.h"

namespace piezon
{

DisplayRefresh::DisplayRefresh(std::function<void()> apply, QObject* parent)
    : QObject(parent), m_apply(std::move(apply))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &DisplayRefresh::fire);
}

void DisplayRefresh::request()
{
    const qint64 since = m_sinceLast.isValid() ? m_sinceLast.elapsed() : kIntervalMs;
    if (since >= kIntervalMs - kEarlyMs) {
        m_timer.start(0);
        return;
    }
    // Shown with the next read of the line that comes late enough; should none come, a little
    // after the interval is up (later than that read would be, so as not to wake for both).
    if (!m_timer.isActive())
        m_timer.start(static_cast<int>(kIntervalMs - since) + kEarlyMs);
}

void DisplayRefresh::flush()
{
    if (m_timer.isActive()) {
        m_timer.stop();
        fire();
    }
}

void DisplayRefresh::fire()
{
    m_sinceLast.start();
    m_apply();
}

} // namespace piezon
