#pragma once

#include "chart/session_history.h"
#include "hold/hold_verdict.h"

#include <QChar>
#include <QDateTime>
#include <QString>

#include <algorithm>

namespace piezon
{

// Everything a hold's protocol prints, as plain data: made from a hold watched live, or from a
// saved record read back.
struct HoldReport {
    // The chart begins this long before the hold, so the run-up to it is on the page.
    static constexpr qint64 kLeadMs = 60 * 1000;

    HoldSettings settings;
    HoldOutcome outcome;  // ended
    QDateTime localStart; // the wall clock at the hold's start
    QString port;         // "COM1"
    int offset = 0;       // «Погрешность»
    QChar separator = QLatin1Char('.');
    QString logName;        // file names, without their folder
    QString recordName;     // the companion record the hold was written into
    QString rowsName;       // the hold's own rows
    QString program;        // the program's name and version
    SessionHistory history; // the session's readings, at least over the chart's span
    // Made afterwards from the saved record recordName names, not while the session ran.
    bool afterwards = false;

    QDateTime localEnd() const { return localStart.addMSecs(outcome.endMs - outcome.startMs); }
    qint64 chartFromMs() const { return std::max<qint64>(0, outcome.startMs - kLeadMs); }
    qint64 chartToMs() const { return std::max(outcome.endMs, outcome.startMs + 1000); }
};

} // namespace piezon
