#pragma once

#include <QChar>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <optional>
#include <vector>

// The pressure-hold test: the system is brought to its test pressure and held for a set time,
// and the drop is judged against what the norm allows. What is judged here is only what the
// gauge said and what happened meanwhile, with their times: the same judgement serves a hold
// watched live and one read back from a saved record.
//
// Every pressure is in whole hundredths of kgf/cm2, read from its text (a caption, a field), so
// that 2.73 - 2.53 is exactly 0.20 and no binary fraction decides a verdict.
namespace piezon
{

// "2,73", "2.7", "-0,05", "3": hundredths; a comma or a point, at most two decimals, blanks
// around allowed. Nothing else (no exponent, no group separator, no second sign).
std::optional<int> parseHundredths(QStringView text);
// "м:сс" (minutes 0-1440, seconds 00-59) or "ч:мм:сс", in milliseconds, within the limits
// below; nothing otherwise.
std::optional<qint64> parseHoldDuration(QStringView text);
// "10:00" below an hour, "1:30:00" from there.
QString formatHoldDuration(qint64 ms);
// Hundredths of kgf/cm2 as a caption reads: "2,73", "-0,05".
QString formatHundredths(int centi, QChar separator);
// The same pressure in MPa to three decimals (1 kgf/cm2 = 0.0980665 MPa), rounded half away
// from zero: "0,268".
QString formatMegapascals(int centi, QChar separator);

struct HoldSettings {
    static constexpr qint64 kShortestMs = 10 * 1000;
    static constexpr qint64 kLongestMs = 24 * 3600 * 1000;
    // The gauge's step: a smaller allowance could not be told from one step of noise.
    static constexpr int kLeastDropCenti = 3;

    qint64 durationMs = 10 * 60 * 1000;
    int allowedDropCenti = 20;
    std::optional<int> floorCenti; // «Не ниже»
    std::optional<int> targetCenti; // «Испытательное давление»: shown, never judged
};

enum class HoldVerdict { Running, Held, NotHeld, Aborted };

// Why a hold ended (or, for a reading and an event, what happened).
enum class HoldCause : quint8 {
    None,          // still running; or a step that is a reading
    Completed,     // the planned end was reached
    BelowFloor,    // a reading below «Не ниже»
    OperatorEnded, // F8 again, or «Прервать»
    Stop,          // STOP
    LineLost,
    Silence,       // a silence was declared
    OffsetChanged, // «Погрешность» changed: every later reading would be shifted
    ProgramClosed,
    SessionAborted, // the session ended on a fault of its own (a record that could not be written)
};

// One thing that happened during a hold, in the order it happened: a reading (event None) or an
// event. Times are the session's milliseconds, on the record's monotonic clock.
struct HoldStep {
    qint64 ms = 0;
    int centi = 0;
    HoldCause event = HoldCause::None;

    static HoldStep reading(qint64 ms, int centi) { return {ms, centi, HoldCause::None}; }
    static HoldStep happened(qint64 ms, HoldCause event) { return {ms, 0, event}; }
};

struct HoldOutcome {
    HoldVerdict verdict = HoldVerdict::Running;
    HoldCause cause = HoldCause::None;
    qint64 startMs = 0;
    qint64 plannedEndMs = 0;
    // Where it ended: the planned end, or the moment of what ended it; while running, the last
    // moment judged.
    qint64 endMs = 0;
    int startCenti = 0;
    // The last reading at or before the end (the start pressure before any came).
    int endCenti = 0;
    int minCenti = 0;
    int maxCenti = 0;
    // start - end, as the two captions read; negative for a rise.
    int dropCenti = 0;
    qint64 readings = 0; // taken during the hold, the start's caption not counted
    bool ended() const { return verdict != HoldVerdict::Running; }
};

// The judgement of one hold, a step at a time, so that a day-long hold keeps no readings.
// Readings at or before the planned end count; anything later, and any event at or after it,
// comes after a hold that has already ended there. The first cause wins; once ended, nothing
// changes it.
class HoldJudge
{
public:
    // The start pressure is the caption shown when the hold began; it counts as its first
    // reading (a start below «Не ниже» fails at once).
    HoldJudge(const HoldSettings& settings, qint64 startMs, int startCenti);

    // True once the hold has ended.
    bool add(const HoldStep& step);
    // The clock reached `nowMs` with nothing more to tell: ends the hold at its planned end if
    // that has come.
    bool advance(qint64 nowMs);

    const HoldOutcome& outcome() const { return m_outcome; }
    const HoldSettings& settings() const { return m_settings; }

private:
    void complete();
    void end(HoldVerdict verdict, HoldCause cause, qint64 ms);

    HoldSettings m_settings;
    HoldOutcome m_outcome;
};

// The whole judgement of steps in order, as far as `nowMs`.
HoldOutcome judgeHold(const HoldSettings& settings, qint64 startMs, int startCenti,
                      const std::vector<HoldStep>& steps, qint64 nowMs);

// "ВЫДЕРЖАНО", "НЕ ВЫДЕРЖАНО", "ПРЕРВАНО"; empty while running.
QString holdVerdictText(HoldVerdict verdict);
// Why, for any verdict but ВЫДЕРЖАНО: "падение 0,25 больше допустимого 0,20",
// "давление 1,95 ниже 2,00", "остановлено оператором", ...; empty otherwise.
QString holdReasonText(const HoldOutcome& outcome, const HoldSettings& settings, QChar separator);

// The companion record's two event rows of a hold (never a ';', CR or LF in them):
// "испытание: начало, 10:00, допустимое падение 0,20[, не ниже 2,00]"
QString holdStartEvent(const HoldSettings& settings, QChar separator);
// "испытание: ВЫДЕРЖАНО", "испытание: НЕ ВЫДЕРЖАНО, <причина>", "испытание: ПРЕРВАНО, <причина>"
QString holdEndEvent(const HoldOutcome& outcome, const HoldSettings& settings, QChar separator);

} // namespace piezon
