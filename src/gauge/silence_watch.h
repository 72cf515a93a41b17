#pragma once

#include <QtGlobal>

#include <array>

namespace piezon
{

// When a gauge whose line is open has gone silent: out of range, flat or switched off, it often
// keeps the port open and simply stops sending. Silent means no reading for longer than the
// limit, which follows the gauge's own pace: ten intervals at the recent pace (the median of the
// last 16 intervals between reads that brought readings), but never less than 2 s; and 3 s after
// START, until the first reading. Times are milliseconds on one monotonic clock.
class SilenceWatch
{
public:
    static constexpr qint64 kLeastLimitMs = 2000;
    static constexpr qint64 kFirstReadingMs = 3000;
    static constexpr int kPaceIntervals = 10;
    static constexpr int kKeptIntervals = 16;

    // A session begins: its gauge's pace is not known yet.
    void start(qint64 now);
    // START again on a line that came back: the same gauge, the same pace, but the time without
    // readings before it is the lost line's, not a pace.
    void restart(qint64 now);
    // A read that brought readings (all of a batch count as one arrival).
    void reading(qint64 now);

    // How long no reading may come now before the gauge counts as silent.
    qint64 limitMs() const;
    // The last reading, or the START since which none has come.
    qint64 lastMs() const { return m_last; }
    // The median interval between readings, or 0 if none is known.
    qint64 paceMs() const;

private:
    qint64 m_last = 0;
    bool m_hadReading = false; // since the last START
    std::array<qint64, kKeptIntervals> m_intervals{};
    int m_count = 0; // intervals kept, at most kKeptIntervals
    int m_next = 0;  // where the next one goes
};

} // namespace piezon
