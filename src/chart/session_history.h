#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

namespace piezon
{

// What happened in a session besides its readings, as the chart marks it on the time axis.
enum class HistoryEvent : quint8 {
    Start,    // START (and only at 0 ms)
    LineLost, // opens a gap, closed by LineBack or Stop
    LineBack,
    SilenceBegin, // at the last reading before a declared silence: opens a gap
    SilenceEnd,   // the reading that ended it came (or the session ended)
    LogMode,      // the log mode changed
    Offset,       // «Погрешность» changed
    Stop,         // STOP, an aborted session or the program closed: closes any open gap
    Note,         // any other event, named by its text (notes()): a later version's, read back
};

struct HistoryMark {
    qint64 ms = 0; // since START
    HistoryEvent kind = HistoryEvent::Start;
};

struct HistoryNote {
    qint64 ms = 0;
    QString text;
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
    static constexpr qsizetype kMaxMarks = 20000;

    // A new session: everything forgotten. `localStart` is the wall clock at START, for the
    // local times of the extremes.
    void begin(const QDateTime& localStart);
    bool started() const;
    QDateTime localStart() const;

    // One batch: its arrival since START, and the corrected readings the pipeline took, in
    // hundredths of kgf/cm2, in order. Arrivals never go back in time.
    void addBatch(qint64 ms, const qint16* centi, qsizetype count);
    // An event; the gap-opening and gap-closing ones open and close the gaps. A reading also
    // closes a gap still open (the session missed telling its end).
    void mark(qint64 ms, HistoryEvent kind);
    // An event with no kind of its own: a Note mark, and its text.
    void note(qint64 ms, const QString& text);

    qint64 readingCount() const;
    // The last reading's arrival, or -1 with none.
    qint64 lastReadingMs() const;
    std::optional<int> latest() const;
    // In time order. At most kMaxMarks marks and as many gaps are kept (a line that comes and
    // goes every few seconds for a whole day): beyond that the oldest sixteenth is forgotten.
    const std::vector<HistoryMark>& marks() const;
    const std::vector<HistoryGap>& gaps() const;
    // The Note marks' texts, in time order, bounded as the marks are; the text of one at `ms`.
    const std::vector<HistoryNote>& notes() const { return m_notes; }
    QString noteAt(qint64 ms) const;

    // The min and max of the readings in each of `columns` equal parts of [fromMs, toMs). A
    // bucket belongs to every column it overlaps. A column with no stored point has any=false.
    // Within the last hour a batch belongs to the column of its arrival.
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
    // 24 hours of 1 s buckets; past that, twice as wide each time they would not fit.
    static constexpr qsizetype kMaxBuckets = 24 * 3600;
    // A coarse bucket spans this many buckets, for columns much wider than a bucket.
    static constexpr qsizetype kCoarseOf = 16;
    // Batches closer than this to the fine point before them widen it instead of adding one, so
    // that a line delivering in bursts cannot outgrow the bound.
    static constexpr qint64 kMergeMs = 10;
    static constexpr qint64 kDropEveryMs = 10 * 1000;
    // The fine points in blocks, so that the hour's end is let go a block at a time.
    static constexpr int kBlockShift = 12;
    static constexpr qsizetype kBlockPoints = qsizetype(1) << kBlockShift;

    // Times relative to m_fineBase fit 32 bits: the fine points span an hour.
    struct FinePoint {
        qint32 ms = 0;
        qint16 lo = 0;
        qint16 hi = 0;
    };
    // Empty while lo > hi.
    struct Cell {
        qint16 lo = std::numeric_limits<qint16>::max();
        qint16 hi = std::numeric_limits<qint16>::min();
        bool empty() const { return lo > hi; }
        void widen(qint16 l, qint16 h)
        {
            if (l < lo)
                lo = l;
            if (h > hi)
                hi = h;
        }
        void widen(const Cell& c) { widen(c.lo, c.hi); }
    };

    const FinePoint& fine(qsizetype i) const
    {
        const qsizetype g = m_fineFirst + i;
        return m_blocks[std::size_t(g >> kBlockShift)][std::size_t(g & (kBlockPoints - 1))];
    }
    FinePoint& fine(qsizetype i)
    {
        const qsizetype g = m_fineFirst + i;
        return m_blocks[std::size_t(g >> kBlockShift)][std::size_t(g & (kBlockPoints - 1))];
    }
    qint64 fineMs(qsizetype i) const { return m_fineBase + fine(i).ms; }
    // Where fine points begin: nothing older than this is held at batch resolution.
    qint64 fineFromMs() const { return m_lastMs - kFineMs; }
    qsizetype firstFineFrom(qint64 ms) const;
    void pushFine(qint64 ms, qint16 lo, qint16 hi);
    void dropFineBefore(qint64 ms);
    // Buckets up to the one of `ms`, merged first if they would not fit.
    void growBuckets(qint64 ms);
    void mergeBuckets();
    // Widens `into` by the readings of [fromMs, toMs), fine where fine points hold them.
    void accumulate(qint64 fromMs, qint64 toMs, Cell& into) const;
    void addBuckets(qint64 first, qint64 end, Cell& into) const;
    void addFine(qint64 fromMs, qint64 toMs, Cell& into) const;
    void openGap(qint64 ms, HistoryEvent kind);
    void closeGap(qint64 ms);

    bool m_started = false;
    QDateTime m_localStart;

    std::vector<std::vector<FinePoint>> m_blocks;
    std::vector<FinePoint> m_spare; // a block let go, kept for the next one
    qsizetype m_fineFirst = 0;      // the oldest fine point's place in the first block
    qsizetype m_fineCount = 0;
    qint64 m_fineBase = 0;
    qint64 m_oldestFineMs = 0; // while there are fine points
    qint64 m_newestFineMs = 0;
    bool m_gapSincePoint = false; // no batch is merged across a gap

    std::vector<Cell> m_buckets; // bucket k: [k * m_bucketMs, (k + 1) * m_bucketMs)
    std::vector<Cell> m_coarse;  // kCoarseOf buckets each
    qint64 m_bucketMs = kBucketMs;

    qint64 m_readingCount = 0;
    qint64 m_firstMs = -1;
    qint64 m_lastMs = -1;
    int m_latest = 0;
    std::optional<Extreme> m_maximum;
    std::optional<Extreme> m_minimum;

    std::vector<HistoryMark> m_marks;
    std::vector<HistoryGap> m_gaps;
    std::vector<HistoryNote> m_notes;
    bool m_gapOpen = false;
    HistoryEvent m_gapKind = HistoryEvent::LineLost;
};

} // namespace piezon
