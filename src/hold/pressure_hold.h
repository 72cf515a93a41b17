#pragma once

#include "hold/hold_report.h"
#include "hold/hold_verdict.h"

#include <QDateTime>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <deque>
#include <optional>

namespace piezon
{

class GaugeSession;

// A pressure hold watched live, over the running session: its readings and events judged as
// they come (hold_verdict.h), its two rows in the companion record, and at its end the protocol
// and the hold's own rows beside the log. It lives as long as the program: closing the session
// window does not end it.
class PressureHold : public QObject
{
    Q_OBJECT
public:
    enum class Refusal { None, NoSession, LineLost, NotLive };

    // `separator`: the captions' decimal separator; `program`: the name and version the protocol
    // is signed with.
    PressureHold(GaugeSession& session, QChar separator, QString program,
                 QObject* parent = nullptr);
    ~PressureHold() override;

    // Begins a hold at the caption shown now; Refusal says why not.
    Refusal begin(const HoldSettings& settings);
    // The operator ends it early.
    void endByOperator();

    bool running() const { return m_judge && !m_judge->outcome().ended(); }
    // A hold has begun since the program started: its outcome (the last one) is there.
    bool begun() const { return m_judge.has_value(); }
    const HoldOutcome& outcome() const { return m_judge->outcome(); }
    const HoldSettings& settings() const { return m_judge->settings(); }
    // The hold's moments are on the session's history as it is now (not one a later START
    // has begun afresh).
    bool onCurrentHistory() const;
    // The protocol last written; empty before one is.
    QString protocolPath() const { return m_protocolPath; }
    // The files are being written.
    bool writing() const { return m_writing; }

signals:
    // Begun, or ended.
    void changed();
    // The protocol and the rows were written (`error` empty) or not (a message naming the file
    // and why).
    void written(const QString& protocolPath, const QString& error);

private:
    void onReadings();
    void onEvent(HoldCause cause);
    void onTimer();
    void armTimer();
    void finish();
    void writeFiles(HoldReport report, qint64 rowsTo);
    void noteCheckpoint();

    GaugeSession& m_session;
    QChar m_separator;
    QString m_program;
    std::optional<HoldJudge> m_judge;
    QDateTime m_localStart;
    QDateTime m_historyStart;
    QTimer m_end;
    // Where in the companion record each second of the last minute begins, so that the hold's
    // rows can begin a minute before it without the record being read through.
    struct Checkpoint {
        qint64 ms;
        qint64 offset;
    };
    std::deque<Checkpoint> m_checkpoints;
    qint64 m_rowsFrom = 0;
    QString m_protocolPath;
    bool m_writing = false;
    // Last: its jobs are waited for before anything they report to goes.
    QThreadPool m_writer;
};

} // namespace piezon
