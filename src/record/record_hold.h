#pragma once

#include "hold/hold_verdict.h"
#include "record/companion_parser.h"

#include <QDateTime>
#include <QString>

#include <optional>

// A pressure hold judged again from a saved record: the hold a record tells of through its
// `испытание:` rows, or one the operator marks on its chart afterwards. The judgement is the live
// one (hold_verdict.h), given the record's readings and events in the order they were written.
namespace piezon::record
{

// The settings of a hold's start row, "испытание: начало, 10:00, допустимое падение 0,20" with
// ", не ниже 2,00" if it was set; none if `text` is no such row.
std::optional<HoldSettings> holdStartSettings(const QString& text);
// Any of a hold's rows.
bool isHoldEvent(const QString& text);

// Which hold to judge.
struct HoldMark {
    int session = 0;    // in the order of the file, from 0
    qint64 startMs = 0; // since that session's START
    // Marked afterwards: the settings to judge it by (the marked span is the duration). None:
    // the hold whose start row is at startMs, by the settings that row gives.
    std::optional<HoldSettings> settings;
};

class HoldReplay : public RecordConsumer
{
public:
    explicit HoldReplay(HoldMark mark) : m_mark(std::move(mark)) {}

    void sessionBegun(const QDateTime& localStart, qint64 ms, const QString& text,
                      qint64 line) override;
    void readings(const Row* rows, qsizetype count) override;
    void event(qint64 ms, const QString& text, const QDateTime& local) override;
    void ended() override;

    // After the record has ended: the hold's verdict, or why there is none (in Russian).
    bool judged() const { return m_failure.isEmpty() && m_judge && m_judge->outcome().ended(); }
    QString failure() const { return m_failure; }
    const HoldOutcome& outcome() const { return m_judge->outcome(); }
    const HoldSettings& settings() const { return m_judge->settings(); }
    // The wall clock at its start: its start row's, or the session's START's and the time since.
    QDateTime localStart() const { return m_localStart; }
    // «Погрешность» of the reading its start pressure is.
    int offset() const { return m_offset; }
    // "COM3" where the session's START row names it; empty where it does not.
    QString port() const { return m_port; }

private:
    bool ours() const { return m_session == m_mark.session; }
    void begin(qint64 ms, const QDateTime& local, const HoldSettings& settings);
    // A marked hold begins at its mark, once the record has gone past it.
    void beginMarked();
    void fail(const QString& why);

    HoldMark m_mark;
    int m_session = -1;
    QDateTime m_sessionStart;
    QString m_port;
    std::optional<Row> m_last; // before the start: its caption is the start pressure
    qint64 m_lastMs = -1;      // the latest moment of the session so far
    std::optional<HoldJudge> m_judge;
    QDateTime m_localStart;
    int m_offset = 0;
    QString m_failure;
};

} // namespace piezon::record
