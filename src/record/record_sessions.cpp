#include "record/record_sessions.h"

#include "log/companion_row.h"
#include "record/record_hold.h"

namespace piezon::record
{
namespace
{

const QString kSilencePrefix = QStringLiteral("нет данных ");

// The kind of a known event, or Note.
HistoryEvent kindOf(const QString& text)
{
    namespace ev = companion::event;
    if (text == ev::kStop || text == ev::kProgramClosed || text == ev::kAborted)
        return HistoryEvent::Stop;
    if (text == ev::kLineLost)
        return HistoryEvent::LineLost;
    if (text == ev::kLineBack)
        return HistoryEvent::LineBack;
    if (text == ev::kModeAll || text == ev::kModeChanges)
        return HistoryEvent::LogMode;
    if (text.startsWith(ev::kOffset))
        return HistoryEvent::Offset;
    if (text.startsWith(kSilencePrefix))
        return HistoryEvent::SilenceEnd;
    return HistoryEvent::Note;
}

} // namespace

void RecordSessions::sessionBegun(const QDateTime& localStart, qint64 ms, const QString& text,
                                  qint64 line)
{
    flushBatch();
    auto session = std::make_unique<RecordSession>();
    session->localStart = localStart;
    session->startText = text;
    session->line = line;
    session->history.begin(localStart);
    session->history.mark(ms, HistoryEvent::Start);
    m_history = &session->history;
    m_sessions.push_back(std::move(session));
    m_quietSinceMs = ms;
}

void RecordSessions::readings(const Row* rows, qsizetype count)
{
    for (qsizetype i = 0; i < count; ++i) {
        const Row& r = rows[i];
        if (r.ms != m_batchMs) {
            flushBatch();
            m_batchMs = r.ms;
        }
        m_batch.push_back(r.centi);
    }
}

void RecordSessions::event(qint64 ms, const QString& text, const QDateTime& local)
{
    flushBatch();
    std::vector<FoundHold>& holds = m_sessions.back()->holds;
    if (const std::optional<HoldSettings> settings = holdStartSettings(text)) {
        holds.push_back(FoundHold{ms, local, *settings, QString()});
    } else if (isHoldEvent(text) && !holds.empty() && holds.back().endText.isEmpty()) {
        holds.back().endText = text;
    }
    const HistoryEvent kind = kindOf(text);
    switch (kind) {
    case HistoryEvent::SilenceEnd:
        // The row is written when the silence ends; live, its beginning was marked at the last
        // reading before it.
        m_history->mark(m_quietSinceMs, HistoryEvent::SilenceBegin);
        m_history->mark(ms, HistoryEvent::SilenceEnd);
        break;
    case HistoryEvent::LineBack:
        m_history->mark(ms, kind);
        m_quietSinceMs = ms;
        break;
    case HistoryEvent::Note:
        m_history->note(ms, text);
        break;
    default:
        m_history->mark(ms, kind);
        break;
    }
}

void RecordSessions::ended()
{
    flushBatch();
}

void RecordSessions::flushBatch()
{
    if (m_batch.empty())
        return;
    m_history->addBatch(m_batchMs, m_batch.data(), qsizetype(m_batch.size()));
    m_quietSinceMs = m_batchMs;
    m_batch.clear();
    m_batchMs = -1;
}

int RecordSessions::preferred() const
{
    for (int i = int(m_sessions.size()) - 1; i >= 0; --i) {
        if (m_sessions[std::size_t(i)]->history.readingCount() > 0)
            return i;
    }
    return int(m_sessions.size()) - 1;
}

} // namespace piezon::record
