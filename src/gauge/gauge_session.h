#pragma once

#include "chart/session_history.h"
#include "gauge/gauge_port.h"
#include "gauge/port_mapping.h"
#include "gauge/reading_pipeline.h"
#include "gauge/silence_watch.h"
#include "log/measurement_log.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace piezon
{

class ErrorReporter;

// START, STOP and everything between: the port, the log and the reading of every byte.
// A session runs from START to STOP. START first claims the log, then opens the port, which can
// take seconds (a wireless link is made inside the open); the window stays live meanwhile, and
// STOP then abandons the opening with nothing sent and the log as it was. While it runs, the line
// may drop (a wireless gauge out of range, an adapter pulled out): the session then goes on without
// a port, tries to open it again about once a second and, when it opens, tells the gauge START and
// carries on into the same log. Whenever a step fails otherwise, the gauge is told STOP (if it was
// told START), the port and log are closed, and the operator gets one message.
// A gauge whose line stays open but that sends nothing for longer than its pace allows
// (silence_watch.h) is shown as silent until its next reading. Every reading and every event of
// the session also goes, with its time, to the companion record beside the log.
class GaugeSession : public QObject
{
    Q_OBJECT
public:
    // `naming` unset: this machine's.
    GaugeSession(QString programDir, ErrorReporter* reporter, QChar separator,
                 PortNaming naming = {}, QObject* parent = nullptr);
    // How a session that has begun comes to its end.
    enum class Ending { Stop, ProgramClosed, Aborted };
    ~GaugeSession() override;

    GaugePort& port() { return m_port; }
    ReadingPipeline& pipeline() { return m_pipeline; }
    const MeasurementLog& log() const { return m_log; }
    // The readings and events since the last START, kept after STOP until the next START.
    // It changes with readingsChanged and with the events.
    const SessionHistory& history() const { return m_history; }
    QString logPath() const;
    // Where the session's messages go; the window's own go there too.
    ErrorReporter& reporter() const { return *m_reporter; }

    // From START to STOP, with or without a line at the moment.
    bool isRunning() const { return m_state != State::Stopped; }
    // START is waiting for the port to open.
    bool isOpening() const { return m_state == State::Opening; }
    // The session has lost its line and is trying to get it back.
    bool isReconnecting() const { return m_state == State::Reconnecting; }
    // The reading on show is not live: the line was lost after it, and no reading has come
    // since (through STOP and the next START too, until a reading comes).
    bool isStale() const { return m_stale; }
    // No reading has come for longer than the gauge's pace allows, while its line is open.
    bool isSilent() const { return m_silent; }
    // Milliseconds since START on the session's clock (the chart's "now"); 0 before any START.
    qint64 sessionMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }
    // The maximum and the minimum start again from the next reading; the chart keeps them all.
    void resetExtremes() { m_history.resetExtremes(); }
    // The running session's COM number, and the offset its readings are taken at.
    int portNumber() const { return m_number; }
    int offset() const { return m_offset.value_or(0); }
    // How many bytes the companion record holds so far; -1 while none is kept.
    qint64 companionSize() const { return m_log.companionSize(); }
    // An event row of a pressure hold, stamped now. A row that cannot be written ends the
    // session as any other does (not while it is ending already); false then, or without a
    // session.
    bool recordHoldEvent(const QString& event);

    static constexpr int kReconnectMs = 1000;
    // An open that takes longer than this is shown as such; a quick one shows nothing.
    static constexpr int kConnectingNoticeMs = 300;
    // Another program that holds the last log open (a viewer, an antivirus, a backup) mostly
    // lets go within a second or two; the log is asked again this often, for this long, before
    // its records are kept by copying instead of renaming.
    static constexpr int kLogRetryMs = 100;
    static constexpr int kLogRetryForMs = 2000;

    void applyStartupSettings() { m_port.applyStartupSettings(); }
    void start(const QString& portText);
    void stop();
    // The program ends: no command to the gauge, the port released, the log closed and synced.
    void release();

    // Every byte is one reading, in order. Public so the window can be driven without a port.
    void processReceived(const QByteArray& bytes);
    // What the window's pickers show, told whenever it changes: the offset picker's text, and
    // the log mode (every reading, or only changes). A change of either during a session is
    // noted in the companion record.
    void setOffsetText(const QString& text);
    void setLogMode(bool allData);

signals:
    void runningChanged(bool running);
    void readingsChanged();
    void staleChanged(bool stale);
    void silentChanged(bool silent);
    // The session is about to end: told before its last row is written, so that what ends with
    // it is recorded first.
    void ending(GaugeSession::Ending why);
    // «Погрешность» changed during the session (after its row).
    void offsetChanged();

private:
    enum class State { Stopped, Opening, Running, Reconnecting };

    QString resolve(int number) const;
    void onOpened(bool ok, GaugePort::OpenFailure failure, const QString& reason);
    void finishStart(bool ok, GaugePort::OpenFailure failure, const QString& reason);
    // The port is open: the log begins (the last session's records kept aside), then START.
    void beginLog();
    void sendStart();
    // START cannot go ahead: the port closed with nothing sent, the log as begin left it.
    void refuseStart(const QString& message);
    void finishReconnect(bool ok);
    void onLost(const QString& reason);
    void tryReconnect();
    void stopReconnecting();
    // Back to Stopped: the log closed, the window told.
    void finish();
    // Ends the session after a failure: STOP twice if the line still takes it, port and log
    // closed, then the one message.
    void abort(const QString& message);
    bool sendStopTwice(QString* reason);
    // The companion record's fields of this moment, and an event row written with them; false,
    // with the reason, if the row could not be written (true when there is no record).
    QByteArray stampNow() const;
    bool recordEvent(const QByteArray& stamp, const QString& event, QString* error);
    // A declared silence ends now: its row, and the window told.
    bool endSilence(const QByteArray& stamp, qint64 now, QString* error);
    void onSilence();
    // The session ends: the silence it was in, then its last event.
    bool endRecord(const QString& event, QString* error);
    void tellEnding(Ending why);

    QString m_programDir;
    ErrorReporter* m_reporter;
    PortNaming m_naming;
    QChar m_separator; // the decimal separator of captions, and of the silences' lengths
    QString m_offsetText = QStringLiteral("0");
    std::optional<int> m_offset = 0; // the last offset text that was a number
    GaugePort m_port;
    MeasurementLog m_log;
    ReadingPipeline m_pipeline;
    State m_state = State::Stopped;
    bool m_stopping = false; // STOP is taking the last readings
    bool m_stale = false;
    int m_number = 0;   // the COM number of the running session
    QString m_portName; // "COM1 (/dev/ttyS0)" of the running session
    QString m_path;     // the device START is opening
    QString m_probed;   // the device the reconnect try is opening
    // What the session's device is: the COMn entry the operator pinned, else the device's own
    // identity. Reconnecting opens nothing else.
    QString m_identity;
    QString m_elsewhere; // where the number led instead, as last told
    QTimer m_reconnect;
    QTimer m_connectingNotice;
    QTimer m_logRetry;
    QElapsedTimer m_logBusyFor;
    bool m_saidWithoutLock = false; // once per program run
    QElapsedTimer m_clock;          // since START: the companion's milliseconds, the silence
    SilenceWatch m_silence;
    QTimer m_silenceTimer;
    bool m_silent = false;
    bool m_allData = true;
    bool m_ending = false; // telling the session's end
    SessionHistory m_history;
};

} // namespace piezon
