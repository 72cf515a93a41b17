#include "chart/session_history.h"

#include <algorithm>

namespace piezon
{

namespace
{

// Past this, the fine points' times are taken relative to a later base (after some 12 days).
constexpr qint64 kRebaseMs = qint64(1) << 30;

// Room for one more element of a vector that never holds more than `most`: at the limit the
// oldest sixteenth goes (one at a time would move them all for every new one), and its memory
// grows no further than the limit.
template <typename T> void makeRoom(std::vector<T>& v, qsizetype most)
{
    const auto limit = std::size_t(most);
    if (v.size() >= limit)
        v.erase(v.begin(), v.begin() + std::ptrdiff_t(limit / 16));
    else if (v.size() == v.capacity())
        v.reserve(std::min(std::max<std::size_t>(2 * v.capacity(), 16), limit));
}

// Grows a vector of cells to hold index `k`, never past `most` in memory.
template <typename T> void growTo(std::vector<T>& v, qint64 k, qsizetype most)
{
    const auto needed = std::size_t(k + 1);
    if (needed <= v.size())
        return;
    if (needed > v.capacity())
        v.reserve(std::min(std::max<std::size_t>({2 * v.capacity(), needed, 1024}),
                           std::max(needed, std::size_t(most))));
    v.resize(needed);
}

} // namespace

void SessionHistory::begin(const QDateTime& localStart)
{
    *this = SessionHistory();
    m_started = true;
    m_localStart = localStart;
}

bool SessionHistory::started() const
{
    return m_started;
}

QDateTime SessionHistory::localStart() const
{
    return m_localStart;
}

void SessionHistory::addBatch(qint64 ms, const qint16* centi, qsizetype count)
{
    if (!centi || count <= 0)
        return;
    // Up to 64 batches a second for days: plain comparisons, no call per reading.
    if (ms < m_lastMs)
        ms = m_lastMs;
    if (ms < 0)
        ms = 0;
    qint16 lo = centi[0];
    qint16 hi = centi[0];
    for (qsizetype i = 1; i < count; ++i) {
        const qint16 v = centi[i];
        if (v < lo)
            lo = v;
        if (v > hi)
            hi = v;
    }
    // Readings came: whatever kept them away is over.
    if (m_gapOpen)
        closeGap(ms);
    // Strictly beyond: the first time a value was reached stays its time.
    if (!m_maximum || hi > m_maximum->centi)
        m_maximum = Extreme{hi, ms};
    if (!m_minimum || lo < m_minimum->centi)
        m_minimum = Extreme{lo, ms};
    if (m_firstMs < 0)
        m_firstMs = ms;
    m_lastMs = ms;
    m_latest = centi[count - 1];
    m_readingCount += count;

    // Points past the hour are let go some seconds at a time: nothing reads them meanwhile.
    if (m_fineCount > 0 && m_oldestFineMs < fineFromMs() - kDropEveryMs)
        dropFineBefore(fineFromMs());
    // A batch merged into the point before it is filed under that point's time everywhere, so
    // that buckets and fine points never disagree about where a reading is.
    qint64 at = ms;
    if (m_fineCount > 0 && !m_gapSincePoint && ms - m_newestFineMs < kMergeMs) {
        FinePoint& last = fine(m_fineCount - 1);
        if (lo < last.lo)
            last.lo = lo;
        if (hi > last.hi)
            last.hi = hi;
        at = m_newestFineMs;
    } else {
        pushFine(ms, lo, hi);
    }

    qint64 k = at / m_bucketMs;
    if (k >= qint64(m_buckets.size())) {
        growBuckets(at);
        k = at / m_bucketMs;
    }
    Cell& bucket = m_buckets[std::size_t(k)];
    if (lo < bucket.lo)
        bucket.lo = lo;
    if (hi > bucket.hi)
        bucket.hi = hi;
    Cell& coarse = m_coarse[std::size_t(k / kCoarseOf)];
    if (lo < coarse.lo)
        coarse.lo = lo;
    if (hi > coarse.hi)
        coarse.hi = hi;
}

void SessionHistory::pushFine(qint64 ms, qint16 lo, qint16 hi)
{
    if (ms - m_fineBase > kRebaseMs) {
        // The points held span at most an hour, so relative to the oldest they fit again.
        const qint64 base = m_fineCount > 0 ? fineMs(0) : ms;
        const auto shift = qint32(base - m_fineBase);
        for (qsizetype i = 0; i < m_fineCount; ++i)
            fine(i).ms -= shift;
        m_fineBase = base;
    }
    const qsizetype end = m_fineFirst + m_fineCount;
    if (end == qsizetype(m_blocks.size()) * kBlockPoints) {
        std::vector<FinePoint> block = std::move(m_spare);
        m_spare = {};
        block.resize(std::size_t(kBlockPoints));
        m_blocks.push_back(std::move(block));
    }
    m_blocks.back()[std::size_t(end & (kBlockPoints - 1))] =
        FinePoint{qint32(ms - m_fineBase), lo, hi};
    if (m_fineCount == 0)
        m_oldestFineMs = ms;
    m_newestFineMs = ms;
    ++m_fineCount;
    m_gapSincePoint = false;
}

void SessionHistory::dropFineBefore(qint64 ms)
{
    const qsizetype gone = firstFineFrom(ms);
    m_fineFirst += gone;
    m_fineCount -= gone;
    if (m_fineCount > 0)
        m_oldestFineMs = fineMs(0);
    while (m_fineFirst >= kBlockPoints) {
        m_spare = std::move(m_blocks.front());
        m_blocks.erase(m_blocks.begin());
        m_fineFirst -= kBlockPoints;
    }
}

qsizetype SessionHistory::firstFineFrom(qint64 ms) const
{
    qsizetype lo = 0;
    qsizetype hi = m_fineCount;
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (fineMs(mid) < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void SessionHistory::growBuckets(qint64 ms)
{
    qint64 k = ms / m_bucketMs;
    while (k >= kMaxBuckets) {
        mergeBuckets();
        k = ms / m_bucketMs;
    }
    growTo(m_buckets, k, kMaxBuckets);
    growTo(m_coarse, k / kCoarseOf, (kMaxBuckets + kCoarseOf - 1) / kCoarseOf);
}

void SessionHistory::mergeBuckets()
{
    // Pairwise, so every bucket keeps its place on a grid twice as wide and no peak is lost.
    // kCoarseOf is even: the coarse buckets stay kCoarseOf buckets each.
    const auto halve = [](std::vector<Cell>& cells) {
        const std::size_t n = (cells.size() + 1) / 2;
        for (std::size_t i = 0; i < n; ++i) {
            Cell c = cells[2 * i];
            if (2 * i + 1 < cells.size())
                c.widen(cells[2 * i + 1]);
            cells[i] = c;
        }
        cells.resize(n);
    };
    halve(m_buckets);
    halve(m_coarse);
    m_bucketMs *= 2;
}

void SessionHistory::addBuckets(qint64 first, qint64 end, Cell& into) const
{
    first = std::max(first, qint64(0));
    end = std::min(end, qint64(m_buckets.size()));
    if (first >= end)
        return;
    const qint64 coarseFirst = (first + kCoarseOf - 1) / kCoarseOf;
    const qint64 coarseEnd = end / kCoarseOf;
    if (coarseFirst >= coarseEnd) {
        for (qint64 k = first; k < end; ++k)
            into.widen(m_buckets[std::size_t(k)]);
        return;
    }
    for (qint64 k = first; k < coarseFirst * kCoarseOf; ++k)
        into.widen(m_buckets[std::size_t(k)]);
    for (qint64 j = coarseFirst; j < coarseEnd; ++j)
        into.widen(m_coarse[std::size_t(j)]);
    for (qint64 k = coarseEnd * kCoarseOf; k < end; ++k)
        into.widen(m_buckets[std::size_t(k)]);
}

void SessionHistory::addFine(qint64 fromMs, qint64 toMs, Cell& into) const
{
    if (fromMs >= toMs || m_fineCount == 0)
        return;
    qsizetype i = firstFineFrom(fromMs);
    const qint64 end = toMs - m_fineBase;
    qsizetype g = m_fineFirst + i;
    while (i < m_fineCount) {
        const std::vector<FinePoint>& block = m_blocks[std::size_t(g >> kBlockShift)];
        const qsizetype slot = g & (kBlockPoints - 1);
        const qsizetype n = std::min(kBlockPoints - slot, m_fineCount - i);
        for (qsizetype s = slot; s < slot + n; ++s) {
            const FinePoint& p = block[std::size_t(s)];
            if (p.ms >= end)
                return;
            into.widen(p.lo, p.hi);
        }
        i += n;
        g += n;
    }
}

void SessionHistory::accumulate(qint64 fromMs, qint64 toMs, Cell& into) const
{
    fromMs = std::max(fromMs, qint64(0));
    if (fromMs >= toMs || m_readingCount == 0)
        return;
    const qint64 w = m_bucketMs;
    const qint64 split = fineFromMs();
    if (fromMs < split) {
        // Only buckets hold this time: each one that overlaps it, whole.
        const qint64 end = std::min(toMs, split);
        addBuckets(fromMs / w, (end - 1) / w + 1, into);
        fromMs = end;
        if (fromMs >= toMs)
            return;
    }
    // Fine points hold every reading here. A bucket wholly inside holds the same readings as
    // its fine points, already reduced: only the ends need the points themselves.
    const qint64 firstWhole = (fromMs + w - 1) / w;
    const qint64 endWhole = toMs / w;
    if (firstWhole >= endWhole) {
        addFine(fromMs, toMs, into);
        return;
    }
    addFine(fromMs, firstWhole * w, into);
    addBuckets(firstWhole, endWhole, into);
    addFine(endWhole * w, toMs, into);
}

void SessionHistory::mark(qint64 ms, HistoryEvent kind)
{
    ms = std::max(ms, qint64(0));
    makeRoom(m_marks, kMaxMarks);
    // A silence is marked when it is declared, at the reading before it: after later marks.
    const auto at = std::upper_bound(m_marks.begin(), m_marks.end(), ms,
                                     [](qint64 t, const HistoryMark& m) { return t < m.ms; });
    m_marks.insert(at, HistoryMark{ms, kind});

    switch (kind) {
    case HistoryEvent::LineLost:
        if (m_gapOpen && m_gapKind == HistoryEvent::LineLost)
            break;
        // A silence ends where the lost line's gap begins.
        if (m_gapOpen)
            closeGap(ms);
        openGap(ms, kind);
        break;
    case HistoryEvent::LineBack:
        if (m_gapOpen && m_gapKind == HistoryEvent::LineLost)
            closeGap(ms);
        break;
    case HistoryEvent::SilenceBegin:
        if (!m_gapOpen)
            openGap(ms, kind);
        break;
    case HistoryEvent::SilenceEnd:
        if (m_gapOpen && m_gapKind == HistoryEvent::SilenceBegin)
            closeGap(ms);
        break;
    case HistoryEvent::Stop:
        if (m_gapOpen)
            closeGap(ms);
        break;
    case HistoryEvent::Start:
    case HistoryEvent::LogMode:
    case HistoryEvent::Offset:
    case HistoryEvent::Note:
        break;
    }
}

void SessionHistory::note(qint64 ms, const QString& text)
{
    ms = std::max(ms, qint64(0));
    mark(ms, HistoryEvent::Note);
    makeRoom(m_notes, kMaxMarks);
    const auto at = std::upper_bound(m_notes.begin(), m_notes.end(), ms,
                                     [](qint64 t, const HistoryNote& n) { return t < n.ms; });
    m_notes.insert(at, HistoryNote{ms, text});
}

QString SessionHistory::noteAt(qint64 ms) const
{
    const auto at = std::lower_bound(m_notes.begin(), m_notes.end(), ms,
                                     [](const HistoryNote& n, qint64 t) { return n.ms < t; });
    return at != m_notes.end() && at->ms == ms ? at->text : QString();
}

void SessionHistory::openGap(qint64 ms, HistoryEvent kind)
{
    makeRoom(m_gaps, kMaxMarks);
    m_gaps.push_back(HistoryGap{ms, -1});
    m_gapOpen = true;
    m_gapKind = kind;
    m_gapSincePoint = true;
}

void SessionHistory::closeGap(qint64 ms)
{
    HistoryGap& gap = m_gaps.back();
    gap.toMs = std::max(ms, gap.fromMs);
    m_gapOpen = false;
}

qint64 SessionHistory::readingCount() const
{
    return m_readingCount;
}

qint64 SessionHistory::lastReadingMs() const
{
    return m_lastMs;
}

std::optional<int> SessionHistory::latest() const
{
    if (m_readingCount == 0)
        return std::nullopt;
    return m_latest;
}

const std::vector<HistoryMark>& SessionHistory::marks() const
{
    return m_marks;
}

const std::vector<HistoryGap>& SessionHistory::gaps() const
{
    return m_gaps;
}

std::vector<ColumnEnvelope> SessionHistory::envelope(qint64 fromMs, qint64 toMs, int columns) const
{
    std::vector<ColumnEnvelope> out(std::size_t(std::max(columns, 0)));
    if (columns <= 0 || toMs <= fromMs)
        return out;
    const qint64 span = toMs - fromMs;
    qint64 begin = fromMs;
    for (int c = 0; c < columns; ++c) {
        const qint64 end = fromMs + span * (c + 1) / columns;
        Cell cell;
        accumulate(begin, end, cell);
        if (!cell.empty())
            out[std::size_t(c)] = ColumnEnvelope{cell.lo, cell.hi, true};
        begin = end;
    }
    return out;
}

std::optional<ColumnEnvelope> SessionHistory::range(qint64 fromMs, qint64 toMs) const
{
    Cell cell;
    accumulate(fromMs, toMs, cell);
    if (cell.empty())
        return std::nullopt;
    return ColumnEnvelope{cell.lo, cell.hi, true};
}

std::optional<StoredPoint> SessionHistory::nearest(qint64 ms) const
{
    if (m_readingCount == 0)
        return std::nullopt;
    const qint64 split = fineFromMs();
    const auto finePoint = [this](qsizetype i) {
        const FinePoint& p = fine(i);
        const qint64 t = m_fineBase + p.ms;
        return StoredPoint{t, t, p.lo, p.hi};
    };
    // The last batch is always a fine point, so there is one; points before `split` may still
    // be held but are not the last hour's.
    if (ms >= split) {
        const qsizetype i = firstFineFrom(ms);
        if (i == m_fineCount)
            return finePoint(i - 1);
        if (i > 0 && fineMs(i - 1) >= split && ms - fineMs(i - 1) <= fineMs(i) - ms)
            return finePoint(i - 1);
        return finePoint(i);
    }

    // Older: the bucket it falls in, or the nearest one that holds readings, or the first fine
    // point if that is nearer.
    const qint64 w = m_bucketMs;
    const auto bucket = [this, w](qint64 k) {
        const Cell& c = m_buckets[std::size_t(k)];
        return StoredPoint{k * w, (k + 1) * w, c.lo, c.hi};
    };
    const qint64 oldEnd = std::min(qint64(m_buckets.size()), (split + w - 1) / w);
    const qint64 k = std::max(ms, qint64(0)) / w;
    if (k < oldEnd && !m_buckets[std::size_t(k)].empty())
        return bucket(k);
    const qsizetype firstFine = firstFineFrom(split);
    std::optional<StoredPoint> best = finePoint(firstFine);
    qint64 bestDistance = fineMs(firstFine) - ms;
    for (qint64 b = std::min(k, oldEnd) - 1; b >= 0; --b) {
        if (!m_buckets[std::size_t(b)].empty()) {
            const qint64 distance = ms - ((b + 1) * w - 1);
            if (distance <= bestDistance) {
                best = bucket(b);
                bestDistance = distance;
            }
            break;
        }
    }
    for (qint64 b = k + 1; b < oldEnd && b * w - ms < bestDistance; ++b) {
        if (!m_buckets[std::size_t(b)].empty()) {
            best = bucket(b);
            break;
        }
    }
    return best;
}

std::optional<Extreme> SessionHistory::maximum() const
{
    return m_maximum;
}

std::optional<Extreme> SessionHistory::minimum() const
{
    return m_minimum;
}

void SessionHistory::resetExtremes()
{
    m_maximum.reset();
    m_minimum.reset();
}

std::optional<double> SessionHistory::slopePerMinute(qint64 nowMs) const
{
    const qint64 from = nowMs - kSlopeMs; // the window is (from, nowMs]
    if (m_firstMs < 0 || m_firstMs > from || from + 1 < fineFromMs())
        return std::nullopt;
    // Gaps are in order and do not overlap: the first that ended before the window ends the
    // search.
    for (auto g = m_gaps.rbegin(); g != m_gaps.rend(); ++g) {
        if (g->toMs >= 0 && g->toMs <= from + 1)
            break;
        if (g->fromMs <= nowMs)
            return std::nullopt;
    }
    const qsizetype first = firstFineFrom(from + 1);
    qsizetype end = first;
    double sumX = 0;
    double sumY = 0;
    for (; end < m_fineCount && fineMs(end) <= nowMs; ++end) {
        const FinePoint& p = fine(end);
        sumX += double(fineMs(end) - nowMs);
        sumY += (p.lo + p.hi) / 2.0;
    }
    const qsizetype n = end - first;
    if (n < 2)
        return std::nullopt;
    const double meanX = sumX / double(n);
    const double meanY = sumY / double(n);
    double sxx = 0;
    double sxy = 0;
    for (qsizetype i = first; i < end; ++i) {
        const FinePoint& p = fine(i);
        const double dx = double(fineMs(i) - nowMs) - meanX;
        sxx += dx * dx;
        sxy += dx * ((p.lo + p.hi) / 2.0 - meanY);
    }
    if (sxx <= 0)
        return std::nullopt;
    // Hundredths per millisecond to kgf/cm2 per minute.
    return sxy / sxx * 60000.0 / 100.0;
}

std::size_t SessionHistory::memoryBytes() const
{
    std::size_t bytes = sizeof(*this);
    for (const std::vector<FinePoint>& block : m_blocks)
        bytes += block.capacity() * sizeof(FinePoint);
    bytes += m_spare.capacity() * sizeof(FinePoint);
    bytes += m_blocks.capacity() * sizeof(std::vector<FinePoint>);
    bytes += (m_buckets.capacity() + m_coarse.capacity()) * sizeof(Cell);
    bytes += m_marks.capacity() * sizeof(HistoryMark);
    bytes += m_gaps.capacity() * sizeof(HistoryGap);
    bytes += m_notes.capacity() * sizeof(HistoryNote);
    for (const HistoryNote& n : m_notes)
        bytes += std::size_t(n.text.capacity()) * sizeof(QChar);
    return bytes;
}

} // namespace piezon
