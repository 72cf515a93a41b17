#include "gauge/silence_watch.h"

#include <algorithm>

namespace piezon
{

void SilenceWatch::start(qint64 now)
{
    m_count = 0;
    m_next = 0;
    restart(now);
}

void SilenceWatch::restart(qint64 now)
{
    m_last = now;
    m_hadReading = false;
}

void SilenceWatch::reading(qint64 now)
{
    if (m_hadReading) {
        m_intervals[m_next] = now - m_last;
        m_next = (m_next + 1) % kKeptIntervals;
        m_count = std::min(m_count + 1, kKeptIntervals);
    }
    m_hadReading = true;
    m_last = now;
}

qint64 SilenceWatch::paceMs() const
{
    if (m_count == 0)
        return 0;
    std::array<qint64, kKeptIntervals> sorted = m_intervals;
    const auto end = sorted.begin() + m_count;
    // The upper of the two middle values when there are an even number: a gauge that slows down
    // is followed one interval sooner.
    const auto middle = sorted.begin() + m_count / 2;
    std::nth_element(sorted.begin(), middle, end);
    return *middle;
}

qint64 SilenceWatch::limitMs() const
{
    if (!m_hadReading)
        return kFirstReadingMs;
    return std::max(kLeastLimitMs, kPaceIntervals * paceMs());
}

} // namespace piezon
