#pragma once

#include "chart/session_history.h"
#include "hold/hold_verdict.h"
#include "record/companion_parser.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <vector>

namespace piezon::record
{

// A hold the record tells of through its `испытание:` rows.
struct FoundHold {
    qint64 startMs = 0;
    QDateTime localStart; // its start row's
    HoldSettings settings;
    QString endText; // its end row's event; empty if the record has none
};

// One session of a record, in the same bounded history the live session keeps, so that the
// chart and the numbers show it exactly as they showed it live.
struct RecordSession {
    QDateTime localStart; // as its СТАРТ row says
    QString startText;    // that row's event: "СТАРТ", and whatever a later version adds
    qint64 line = 0;      // of its СТАРТ row
    SessionHistory history;
    std::vector<FoundHold> holds;
};

// The sessions of a record in the order of the file: one of them per СТАРТ. Times of the local
// clock only label them (it may jump at a daylight-saving change); the file's order is theirs.
class RecordSessions : public RecordConsumer
{
public:
    void sessionBegun(const QDateTime& localStart, qint64 ms, const QString& text,
                      qint64 line) override;
    void readings(const Row* rows, qsizetype count) override;
    void event(qint64 ms, const QString& text, const QDateTime& local) override;
    // The last batch goes into its history.
    void ended() override;

    const std::vector<std::unique_ptr<RecordSession>>& sessions() const { return m_sessions; }
    // The one to show first: the last that holds readings, else the last; -1 with none.
    int preferred() const;

private:
    void flushBatch();

    std::vector<std::unique_ptr<RecordSession>> m_sessions;
    SessionHistory* m_history = nullptr;
    // The rows of one «мс» are one batch, as the session took them.
    std::vector<qint16> m_batch;
    qint64 m_batchMs = -1;
    // Where a silence began: the last reading before it, or the START or return of the line
    // that no reading followed, as the live session counts it.
    qint64 m_quietSinceMs = 0;
};

} // namespace piezon::record
