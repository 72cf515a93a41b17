#include "record/record_hold.h"

#include "log/companion_row.h"

#include <QRegularExpression>

namespace piezon::record
{
namespace
{

const QString kHoldPrefix = QStringLiteral("испытание: ");
const QString kStartPrefix = QStringLiteral("испытание: начало, ");
const QString kDropPrefix = QStringLiteral("допустимое падение ");
const QString kFloorPrefix = QStringLiteral("не ниже ");
const QString kAbortedPrefix = QStringLiteral("испытание: ПРЕРВАНО, ");

// What a session's own event row does to a hold under way.
std::optional<HoldCause> sessionCause(const QString& text)
{
    namespace ev = companion::event;
    if (text == ev::kStop)
        return HoldCause::Stop;
    if (text == ev::kProgramClosed)
        return HoldCause::ProgramClosed;
    if (text == ev::kAborted)
        return HoldCause::SessionAborted;
    if (text == ev::kLineLost)
        return HoldCause::LineLost;
    if (text.startsWith(ev::kOffset))
        return HoldCause::OffsetChanged;
    return std::nullopt;
}

// "испытание: ПРЕРВАНО, линия потеряна": the cause the live hold was aborted by, found by its
// reason's words (they do not depend on the hold's numbers).
std::optional<HoldCause> abortedCause(const QString& text)
{
    if (!text.startsWith(kAbortedPrefix))
        return std::nullopt;
    const QString reason = text.mid(kAbortedPrefix.size());
    for (const HoldCause cause :
         {HoldCause::OperatorEnded, HoldCause::Stop, HoldCause::LineLost, HoldCause::Silence,
          HoldCause::OffsetChanged, HoldCause::ProgramClosed, HoldCause::SessionAborted}) {
        HoldOutcome outcome;
        outcome.verdict = HoldVerdict::Aborted;
        outcome.cause = cause;
        if (holdReasonText(outcome, HoldSettings(), QLatin1Char(',')) == reason)
            return cause;
    }
    // A reason a later version words otherwise: the hold was ended there all the same.
    return HoldCause::OperatorEnded;
}

} // namespace

std::optional<HoldSettings> holdStartSettings(const QString& text)
{
    if (!text.startsWith(kStartPrefix))
        return std::nullopt;
    const QStringList parts = text.mid(kStartPrefix.size()).split(QStringLiteral(", "));
    if (parts.size() < 2 || !parts[1].startsWith(kDropPrefix))
        return std::nullopt;
    HoldSettings settings;
    const std::optional<qint64> duration = parseHoldDuration(parts[0]);
    const std::optional<int> drop = parseHundredths(parts[1].mid(kDropPrefix.size()));
    if (!duration || !drop)
        return std::nullopt;
    settings.durationMs = *duration;
    settings.allowedDropCenti = *drop;
    // Whatever a later version adds after these is left to it.
    for (qsizetype i = 2; i < parts.size(); ++i) {
        if (parts[i].startsWith(kFloorPrefix))
            settings.floorCenti = parseHundredths(parts[i].mid(kFloorPrefix.size()));
    }
    return settings;
}

bool isHoldEvent(const QString& text)
{
    return text.startsWith(kHoldPrefix);
}

void HoldReplay::sessionBegun(const QDateTime& localStart, qint64, const QString& text, qint64)
{
    ++m_session;
    if (!ours())
        return;
    m_sessionStart = localStart;
    // "СТАРТ COM3", where the record gives the port.
    static const QRegularExpression port(QStringLiteral("^\\S+ (COM\\d+)$"));
    const QRegularExpressionMatch match = port.match(text);
    if (match.hasMatch())
        m_port = match.captured(1);
}

void HoldReplay::readings(const Row* rows, qsizetype count)
{
    if (!ours() || !m_failure.isEmpty() || (m_judge && m_judge->outcome().ended()))
        return;
    for (qsizetype i = 0; i < count; ++i) {
        const Row& r = rows[i];
        m_lastMs = std::max(m_lastMs, r.ms);
        if (!m_judge) {
            if (!m_mark.settings || r.ms <= m_mark.startMs) {
                m_last = r;
                continue;
            }
            beginMarked();
            if (!m_judge)
                return;
        }
        m_last = r;
        if (m_judge->add(HoldStep::reading(r.ms, r.centi)))
            return;
    }
}

void HoldReplay::event(qint64 ms, const QString& text, const QDateTime& local)
{
    if (!ours() || !m_failure.isEmpty() || (m_judge && m_judge->outcome().ended()))
        return;
    m_lastMs = std::max(m_lastMs, ms);
    if (!m_judge) {
        if (m_mark.settings) {
            if (ms > m_mark.startMs)
                beginMarked();
        } else if (ms == m_mark.startMs) {
            if (const std::optional<HoldSettings> settings = holdStartSettings(text))
                begin(ms, local, *settings);
            return;
        }
        if (!m_judge || !m_failure.isEmpty())
            return;
    }
    std::optional<HoldCause> cause = sessionCause(text);
    // A silence is written when it ends; the gauge was last heard at the reading before it.
    qint64 at = ms;
    if (!cause && text.startsWith(QStringLiteral("нет данных "))) {
        cause = HoldCause::Silence;
        at = m_last ? std::max(m_last->ms, m_judge->outcome().startMs) : ms;
    }
    // The hold's own end row, for the hold it ends; a hold marked afterwards is not that one.
    if (!cause && !m_mark.settings)
        cause = abortedCause(text);
    if (cause)
        m_judge->add(HoldStep::happened(at, *cause));
    else
        m_judge->advance(ms);
}

void HoldReplay::ended()
{
    if (!m_failure.isEmpty())
        return;
    if (m_session < m_mark.session) {
        fail(QStringLiteral("в записи нет такого сеанса"));
        return;
    }
    if (!m_judge && m_mark.settings && m_lastMs >= m_mark.startMs)
        beginMarked();
    if (!m_failure.isEmpty())
        return;
    if (!m_judge) {
        fail(m_mark.settings ? QStringLiteral("начало испытания позже конца сеанса")
                             : QStringLiteral("в записи нет строки начала этого испытания"));
        return;
    }
    m_judge->advance(m_lastMs);
    if (!m_judge->outcome().ended())
        fail(QStringLiteral("сеанс в записи кончается раньше конца испытания"));
}

void HoldReplay::beginMarked()
{
    begin(m_mark.startMs, m_sessionStart.addMSecs(m_mark.startMs), *m_mark.settings);
}

void HoldReplay::begin(qint64 ms, const QDateTime& local, const HoldSettings& settings)
{
    // The start pressure is the caption shown when the hold began: the last reading before it.
    if (!m_last) {
        fail(QStringLiteral("до начала испытания нет ни одного показания"));
        return;
    }
    m_judge.emplace(settings, ms, m_last->centi);
    m_localStart = local;
    m_offset = m_last->offset;
}

void HoldReplay::fail(const QString& why)
{
    if (m_failure.isEmpty())
        m_failure = why;
}

} // namespace piezon::record
