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
    if (m_timer.isActive())
        return;
    const qint64 since = m_sinceLast.isValid() ? m_sinceLast.elapsed() : kFrameMs;
    m_timer.start(static_cast<int>(qMax<qint64>(0, kFrameMs - since)));
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
