#include "hold/hold_verdict.h"

#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace piezon
{
namespace
{

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Digits only, at least one, at most `most`; -1 otherwise.
qint64 wholeNumber(QStringView text, int most)
{
    if (text.isEmpty() || text.size() > most)
        return -1;
    qint64 value = 0;
    for (const QChar c : text) {
        if (!isDigit(c))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// Exactly two digits, as seconds and the minutes of "ч:мм:сс" are written; -1 otherwise.
qint64 twoDigits(QStringView text)
{
    return text.size() == 2 ? wholeNumber(text, 2) : -1;
}

// No field of a row may break it: the record splits on ';' and ends rows with CR LF.
QString rowSafe(QString text)
{
    text.replace(QLatin1Char(';'), QLatin1Char(','));
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

} // namespace

std::optional<int> parseHundredths(QStringView text)
{
    text = text.trimmed();
    bool negative = false;
    if (!text.isEmpty() && (text.front() == QLatin1Char('-') || text.front() == QChar(0x2212))) {
        negative = true;
        text = text.mid(1);
    }
    qsizetype point = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char(',') || text[i] == QLatin1Char('.')) {
            point = i;
            break;
        }
    }
    const QStringView whole = point < 0 ? text : text.left(point);
    const QStringView fraction = point < 0 ? QStringView() : text.mid(point + 1);
    // "2," and ",5" are half-typed numbers, not values.
    if (whole.isEmpty() || (point >= 0 && fraction.isEmpty()))
        return std::nullopt;
    // Far beyond any gauge: the limit only keeps the arithmetic whole.
    const qint64 units = wholeNumber(whole, 6);
    if (units < 0)
        return std::nullopt;
    qint64 hundredths = 0;
    if (!fraction.isEmpty()) {
        const qint64 digits = wholeNumber(fraction, 2);
        if (digits < 0)
            return std::nullopt;
        hundredths = fraction.size() == 1 ? digits * 10 : digits;
    }
    const qint64 value = units * 100 + hundredths;
    return int(negative ? -value : value);
}

std::optional<qint64> parseHoldDuration(QStringView text)
{
    const QStringList parts = text.trimmed().toString().split(QLatin1Char(':'));
    qint64 seconds = 0;
    if (parts.size() == 2) {
        const qint64 minutes = wholeNumber(parts[0], 4);
        const qint64 secs = twoDigits(parts[1]);
        if (minutes < 0 || minutes > 1440 || secs < 0 || secs > 59)
            return std::nullopt;
        seconds = minutes * 60 + secs;
    } else if (parts.size() == 3) {
        const qint64 hours = wholeNumber(parts[0], 2);
        const qint64 minutes = twoDigits(parts[1]);
        const qint64 secs = twoDigits(parts[2]);
        if (hours < 0 || minutes < 0 || minutes > 59 || secs < 0 || secs > 59)
            return std::nullopt;
        seconds = (hours * 60 + minutes) * 60 + secs;
    } else {
        return std::nullopt;
    }
    const qint64 ms = seconds * 1000;
    if (ms < HoldSettings::kShortestMs || ms > HoldSettings::kLongestMs)
        return std::nullopt;
    return ms;
}

QString formatHoldDuration(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    const QLatin1Char zero('0');
    if (seconds < 3600)
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, zero);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, zero)
        .arg(seconds % 60, 2, 10, zero);
}

QString formatHundredths(int centi, QChar separator)
{
    const int magnitude = std::abs(centi);
    return QStringLiteral("%1%2%3%4")
        .arg(centi < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 100)
        .arg(separator)
        .arg(magnitude % 100, 2, 10, QLatin1Char('0'));
}

QString formatMegapascals(int centi, QChar separator)
{
    // Thousandths of MPa: centi * 0.0980665 / 100 * 1000 = centi * 980665 / 1e6, in whole
    // numbers.
    const qint64 scaled = qint64(std::abs(centi)) * 980665;
    const qint64 thousandths = (scaled + 500000) / 1000000;
    return QStringLiteral("%1%2%3%4")
        .arg(centi < 0 && thousandths > 0 ? QStringLiteral("-") : QString())
        .arg(thousandths / 1000)
        .arg(separator)
        .arg(thousandths % 1000, 3, 10, QLatin1Char('0'));
}

HoldJudge::HoldJudge(const HoldSettings& settings, qint64 startMs, int startCenti)
    : m_settings(settings)
{
    m_outcome.startMs = startMs;
    m_outcome.plannedEndMs = startMs + settings.durationMs;
    m_outcome.endMs = startMs;
    m_outcome.startCenti = startCenti;
    m_outcome.endCenti = startCenti;
    m_outcome.minCenti = startCenti;
    m_outcome.maxCenti = startCenti;
    if (settings.floorCenti && startCenti < *settings.floorCenti)
        end(HoldVerdict::NotHeld, HoldCause::BelowFloor, startMs);
}

bool HoldJudge::add(const HoldStep& step)
{
    if (m_outcome.ended())
        return true;
    // A reading of the planned end's own moment is still the hold's; an event then is not.
    const bool late = step.event == HoldCause::None ? step.ms > m_outcome.plannedEndMs
                                                    : step.ms >= m_outcome.plannedEndMs;
    if (late) {
        complete();
        return true;
    }
    const qint64 ms = std::max(step.ms, m_outcome.endMs);
    if (step.event != HoldCause::None) {
        end(HoldVerdict::Aborted, step.event, ms);
        return true;
    }
    m_outcome.endMs = ms;
    m_outcome.endCenti = step.centi;
    m_outcome.dropCenti = m_outcome.startCenti - step.centi;
    m_outcome.minCenti = std::min(m_outcome.minCenti, step.centi);
    m_outcome.maxCenti = std::max(m_outcome.maxCenti, step.centi);
    ++m_outcome.readings;
    if (m_settings.floorCenti && step.centi < *m_settings.floorCenti)
        end(HoldVerdict::NotHeld, HoldCause::BelowFloor, ms);
    return m_outcome.ended();
}

bool HoldJudge::advance(qint64 nowMs)
{
    if (!m_outcome.ended() && nowMs >= m_outcome.plannedEndMs)
        complete();
    return m_outcome.ended();
}

void HoldJudge::complete()
{
    const bool held = m_outcome.dropCenti <= m_settings.allowedDropCenti;
    end(held ? HoldVerdict::Held : HoldVerdict::NotHeld, HoldCause::Completed,
        m_outcome.plannedEndMs);
}

void HoldJudge::end(HoldVerdict verdict, HoldCause cause, qint64 ms)
{
    m_outcome.verdict = verdict;
    m_outcome.cause = cause;
    m_outcome.endMs = ms;
    m_outcome.dropCenti = m_outcome.startCenti - m_outcome.endCenti;
}

HoldOutcome judgeHold(const HoldSettings& settings, qint64 startMs, int startCenti,
                      const std::vector<HoldStep>& steps, qint64 nowMs)
{
    HoldJudge judge(settings, startMs, startCenti);
    for (const HoldStep& step : steps) {
        if (step.ms > nowMs || judge.add(step))
            break;
    }
    judge.advance(nowMs);
    return judge.outcome();
}

QString holdVerdictText(HoldVerdict verdict)
{
    switch (verdict) {
    case HoldVerdict::Held:
        return QStringLiteral("ВЫДЕРЖАНО");
    case HoldVerdict::NotHeld:
        return QStringLiteral("НЕ ВЫДЕРЖАНО");
    case HoldVerdict::Aborted:
        return QStringLiteral("ПРЕРВАНО");
    case HoldVerdict::Running:
        break;
    }
    return QString();
}

QString holdReasonText(const HoldOutcome& outcome, const HoldSettings& settings, QChar separator)
{
    switch (outcome.cause) {
    case HoldCause::None:
        return QString();
    case HoldCause::Completed:
        if (outcome.verdict == HoldVerdict::Held)
            return QString();
        return QStringLiteral("падение %1 больше допустимого %2")
            .arg(formatHundredths(outcome.dropCenti, separator),
                 formatHundredths(settings.allowedDropCenti, separator));
    case HoldCause::BelowFloor:
        return QStringLiteral("давление %1 ниже %2")
            .arg(formatHundredths(outcome.endCenti, separator),
                 formatHundredths(settings.floorCenti.value_or(0), separator));
    case HoldCause::OperatorEnded:
        return QStringLiteral("остановлено оператором");
    case HoldCause::Stop:
        return QStringLiteral("нажата кнопка СТОП");
    case HoldCause::LineLost:
        return QStringLiteral("линия потеряна");
    case HoldCause::Silence:
        return QStringLiteral("нет данных от манометра");
    case HoldCause::OffsetChanged:
        return QStringLiteral("изменена погрешность");
    case HoldCause::ProgramClosed:
        return QStringLiteral("программа закрыта");
    case HoldCause::SessionAborted:
        return QStringLiteral("сеанс прерван");
    }
    return QString();
}

QString holdStartEvent(const HoldSettings& settings, QChar separator)
{
    QString text = QStringLiteral("испытание: начало, %1, допустимое падение %2")
                       .arg(formatHoldDuration(settings.durationMs),
                            formatHundredths(settings.allowedDropCenti, separator));
    if (settings.floorCenti)
        text += QStringLiteral(", не ниже ") + formatHundredths(*settings.floorCenti, separator);
    return rowSafe(text);
}

QString holdEndEvent(const HoldOutcome& outcome, const HoldSettings& settings, QChar separator)
{
    QString text = QStringLiteral("испытание: ") + holdVerdictText(outcome.verdict);
    const QString reason = holdReasonText(outcome, settings, separator);
    if (!reason.isEmpty())
        text += QStringLiteral(", ") + reason;
    return rowSafe(text);
}

} // namespace piezon
