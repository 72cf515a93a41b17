#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <cstddef>
#include <optional>
#include <vector>

namespace piezon
{

// What happened in a session besides its readings, as the chart marks it on the time axis.
enum class HistoryEvent : quint8 {
    Start,         // START (and only at 0 ms)
    LineLost,      // opens a gap, closed by LineBack or Stop
    LineBack,
    SilenceBegin,  // at the last reading before a declared silence: opens a gap
    SilenceEnd,    // the reading that ended it came (or the session ended)
    LogMode,       // the log mode changed
    Offset,        // «Погрешность» changed
    Stop,          // STOP, an aborted session or the program closed: closes any open gap
};

struct HistoryMark {
    qint64 ms = 0; // since START
    HistoryEvent kind = HistoryEvent::Start;
};

// A stretch with no readings the chart must not join across: a lost line or a silence.
// toMs < 0: still open (the chart takes it to "now").
struct HistoryGap {
    qint64 fromMs = 0;
    qint64 toMs = -1;
};

// The readings of one pixel column, in hundredths of kgf/cm2 (the caption's own digits).
struct ColumnEnvelope {
    int lo = 0;
    int hi = 0;
    bool any = false;
};

// One stored point: a batch (fromMs == toMs, its arrival) within the last hour, or a bucket of
// older time [fromMs, toMs).
struct StoredPoint {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    int lo = 0;
    int hi = 0;
};

struct Extreme {
    int centi = 0; // hundredths of kgf/cm2
    qint64 ms = 0; // since START
};

// The session's readings since START, for the chart and the numbers beside it. Bounded: the last
// hour at batch resolution, older time as min/max buckets (1 s up to 24 hours; past that the
// buckets are merged pairwise, so a peak is never dropped). Pure: times are given, never read.
class SessionHistory
{
public:
    static constexpr qint64 kFineMs = 3600 * 1000; // the last hour: one point per batch
    static constexpr qint64 kBucketMs = 1000;      // older: one min/max per second
    static constexpr qint64 kSlopeMs = 60 * 1000;

    // A new session: everything forgotten. `localStart` is the wall clock at START, for the
    // local times of the extremes.
    void begin(const QDateTime& localStart);
    bool started() const;
    QDateTime localStart() const;

    // One batch: its arrival since START, and the corrected readings the pipeline took, in
    // hundredths of kgf/cm2, in order. Arrivals never go back in time.
    void addBatch(qint64 ms, const qint16* centi, qsizetype count);
    // An event; the gap-opening and gap-closing ones open and close the gaps.
    void mark(qint64 ms, HistoryEvent kind);

    qint64 readingCount() const;
    // The last reading's arrival, or -1 with none.
    qint64 lastReadingMs() const;
    std::optional<int> latest() const;
    const std::vector<HistoryMark>& marks() const;
    const std::vector<HistoryGap>& gaps() const;

    // The min and max of the readings in each of `columns` equal parts of [fromMs, toMs). A
    // bucket belongs to every column it overlaps. A column with no stored point has any=false.
    std::vector<ColumnEnvelope> envelope(qint64 fromMs, qint64 toMs, int columns) const;
    // The min and max of the readings within [fromMs, toMs), if any.
    std::optional<ColumnEnvelope> range(qint64 fromMs, qint64 toMs) const;
    // The stored point nearest to `ms`.
    std::optional<StoredPoint> nearest(qint64 ms) const;

    // Since START or since the last resetExtremes(); the first time a value was reached.
    std::optional<Extreme> maximum() const;
    std::optional<Extreme> minimum() const;
    void resetExtremes();

    // The least-squares slope of the readings of the 60 s before `nowMs`, in kgf/cm2 a minute;
    // none before 60 s of readings, or when a gap falls within those 60 s.
    std::optional<double> slopePerMinute(qint64 nowMs) const;

    // What the history holds in memory, for the bound.
    std::size_t memoryBytes() const;

private:
    // Left to the implementation.
};

} // namespace piezon
