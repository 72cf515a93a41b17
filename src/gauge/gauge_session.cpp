#include "gauge/gauge_session.h"

#include "gauge/error_reporter.h"
#include "gauge/gauge_commands.h"
#include "gauge/port_mapping.h"
#include "gauge/session_messages.h"
#include "log/companion_row.h"
#include "log/log_file.h"
#include "log/log_record.h"

#include <QDateTime>

namespace piezon
{

GaugeSession::GaugeSession(QString programDir, ErrorReporter* reporter, QChar separator,
                           PortNaming naming, QObject* parent)
    : QObject(parent), m_programDir(std::move(programDir)), m_reporter(reporter),
      m_naming(std::move(naming)), m_separator(separator), m_pipeline(separator)
{
    if (!m_naming.resolve)
        m_naming = portNamingOnDisk(m_programDir);
    connect(&m_port, &GaugePort::received, this, &GaugeSession::processReceived);
    connect(&m_port, &GaugePort::lost, this, &GaugeSession::onLost);
    connect(&m_port, &GaugePort::opened, this, &GaugeSession::onOpened);
    m_reconnect.setInterval(kReconnectMs);
    connect(&m_reconnect, &QTimer::timeout, this, &GaugeSession::tryReconnect);
    m_connectingNotice.setSingleShot(true);
    m_connectingNotice.setInterval(kConnectingNoticeMs);
    connect(&m_connectingNotice, &QTimer::timeout, this,
            [this] { m_reporter->showNotice(messages::connecting(m_number)); });
    m_logRetry.setSingleShot(true);
    m_logRetry.setInterval(kLogRetryMs);
    connect(&m_logRetry, &QTimer::timeout, this, &GaugeSession::beginLog);
    m_silenceTimer.setSingleShot(true);
    connect(&m_silenceTimer, &QTimer::timeout, this, &GaugeSession::onSilence);
    m_log.keepCompanion(true);
}

GaugeSession::~GaugeSession()
{
    release();
}

QString GaugeSession::logPath() const
{
    return logFilePath(m_programDir);
}

QString GaugeSession::resolve(int number) const
{
    return m_naming.resolve(number);
}

void GaugeSession::start(const QString& portText)
{
    if (isRunning())
        return;

    const int number = parsePortNumber(portText);
    const QString path = resolve(number);
    if (path.isEmpty()) {
        m_reporter->report(messages::noSuchPort(number));
        return;
    }
    const QString name = describePort(number, path);

    // The log first: another copy of the program recording into it, or a folder that takes no
    // file, must not cost the gauge a START it is never told to stop.
    QString reason;
    MeasurementLog::Claim claim = m_log.claim(logPath(), &reason);
    // A log another program keeps to itself can be let go there and asked for again at once.
    while (claim == MeasurementLog::Claim::HeldElsewhere) {
        if (!m_reporter->reportWithRetry(messages::logHeldElsewhere(logPath())))
            return;
        claim = m_log.claim(logPath(), &reason);
    }
    switch (claim) {
    case MeasurementLog::Claim::Ok:
    case MeasurementLog::Claim::HeldElsewhere:
        break;
    case MeasurementLog::Claim::InUse:
        m_reporter->report(messages::logInUse(logPath()));
        return;
    case MeasurementLog::Claim::NotAFile:
        m_reporter->report(messages::logNotAFile(logPath()));
        return;
    case MeasurementLog::Claim::Failed:
        m_reporter->report(messages::logCannotBeCreated(logPath(), reason));
        return;
    }

    m_state = State::Opening;
    m_number = number;
    m_portName = name;
    m_path = path;
    emit runningChanged(true);
    m_connectingNotice.start();
    m_port.beginOpen(path);
}

void GaugeSession::onOpened(bool ok, GaugePort::OpenFailure failure, const QString& reason)
{
    switch (m_state) {
    case State::Opening:
        finishStart(ok, failure, reason);
        break;
    case State::Reconnecting:
        finishReconnect(ok);
        break;
    default:
        // No session wants it any more.
        m_port.close();
        break;
    }
}

void GaugeSession::finishStart(bool ok, GaugePort::OpenFailure failure, const QString& why)
{
    m_connectingNotice.stop();
    m_reporter->clearNotice();
    const QString name = m_portName;
    if (!ok) {
        m_log.abandon();
        m_state = State::Stopped;
        emit runningChanged(false);
        switch (failure) {
        case GaugePort::OpenFailure::NotFound:
            m_reporter->report(messages::portNotFound(name, why));
            break;
        case GaugePort::OpenFailure::Busy:
            m_reporter->report(messages::portBusy(name, why));
            break;
        case GaugePort::OpenFailure::Permission:
            m_reporter->report(messages::portNoPermission(name, why));
            break;
        case GaugePort::OpenFailure::Unreachable:
            m_reporter->report(messages::gaugeUnreachable(name, why));
            break;
        default:
            m_reporter->report(messages::portOpenFailed(name, why));
            break;
        }
        return;
    }
    // A COMn entry is the operator's own choice, followed wherever it is pointed.
    m_identity =
        m_path == comEntryPath(m_number, m_programDir) ? m_path : m_naming.identify(m_path);
    m_elsewhere.clear();
    // The log before the gauge is told anything: a log that cannot be begun must not cost the
    // gauge a START it is never told to stop.
    m_logBusyFor.start();
    beginLog();
}

void GaugeSession::beginLog()
{
    if (m_state != State::Opening || !m_port.isOpen())
        return;
    QString reason;
    MeasurementLog::Begun begun = m_log.begin(&reason);
    if (begun == MeasurementLog::Begun::Busy) {
        if (m_logBusyFor.elapsed() < kLogRetryForMs) {
            m_logRetry.start();
            return;
        }
        // Still held: the records are kept by copying, which no holder can prevent.
        begun = m_log.beginByCopy(&reason);
    }
    switch (begun) {
    case MeasurementLog::Begun::Ok:
        sendStart();
        return;
    case MeasurementLog::Begun::InUse:
        refuseStart(messages::logInUse(logPath()));
        return;
    case MeasurementLog::Begun::Busy:
    case MeasurementLog::Begun::NotMoved:
        refuseStart(messages::previousLogNotKept(logPath(), previousLogPath(logPath()), reason));
        return;
    case MeasurementLog::Begun::Failed:
        refuseStart(messages::logCannotBeCreated(logPath(), reason));
        return;
    }
}

void GaugeSession::sendStart()
{
    QString reason;
    if (!m_port.send(startCommand(), &reason)) {
        // The new log stays, empty, and the last session's records where begin() kept them.
        m_log.close();
        refuseStart(messages::sendFailed(m_portName, reason));
        return;
    }
    m_pipeline.startNewLog();
    m_state = State::Running;
    m_clock.start();
    m_history.begin(QDateTime::currentDateTime());
    m_history.mark(0, HistoryEvent::Start);
    m_silence.start(0);
    m_silenceTimer.start(int(m_silence.limitMs()));
    if (!recordEvent(stampNow(), companion::event::kStart, &reason)) {
        abort(messages::companionWriteFailed(m_log.companionPath(), reason));
        return;
    }
    if (m_log.withoutLock() && !m_saidWithoutLock) {
        m_saidWithoutLock = true;
        m_reporter->showNotice(messages::logWithoutLock(logPath()));
    }
    // Asked for and not to be had: the operator learns it now, not when looking for the file.
    if (!m_log.companionMissing().isEmpty())
        m_reporter->showNotice(
            messages::companionNotKept(m_log.companionPath(), m_log.companionMissing()));
    // Readings that came while START was sent are read now, with the log ready for them.
    m_port.startReading();
}

void GaugeSession::refuseStart(const QString& message)
{
    m_logRetry.stop();
    m_port.close();
    // Only claimed: left as it was.
    m_log.abandon();
    m_state = State::Stopped;
    emit runningChanged(false);
    m_reporter->report(message);
}

void GaugeSession::stop()
{
    // Readings that arrived before STOP are the session's, even while the line rests between
    // batches. Taking them may end the session (a failed write) or find the line gone.
    if (m_state == State::Running) {
        m_stopping = true;
        m_port.takeWaiting();
        m_stopping = false;
    }
    if (!isRunning())
        return;
    if (m_state == State::Opening) {
        // Nothing was sent yet and the log was only claimed: both stay as they were.
        m_port.close();
        m_logRetry.stop();
        m_connectingNotice.stop();
        m_reporter->clearNotice();
        m_log.abandon();
        m_state = State::Stopped;
        emit runningChanged(false);
        return;
    }
    QString unrecorded;
    if (m_state == State::Reconnecting) {
        // No line: nothing to tell the gauge.
        stopReconnecting();
        m_reporter->clearNotice();
        tellEnding(Ending::Stop);
        const bool recorded = endRecord(companion::event::kStop, &unrecorded);
        finish();
        if (!recorded)
            m_reporter->report(messages::companionWriteFailed(m_log.companionPath(), unrecorded));
        return;
    }
    QString reason;
    const bool sent = sendStopTwice(&reason);
    m_port.close();
    tellEnding(Ending::Stop);
    const bool recorded = endRecord(companion::event::kStop, &unrecorded);
    finish();
    if (!sent)
        m_reporter->report(messages::sendFailed(m_portName, reason));
    else if (!recorded)
        m_reporter->report(messages::companionWriteFailed(m_log.companionPath(), unrecorded));
}

void GaugeSession::release()
{
    stopReconnecting();
    m_connectingNotice.stop();
    m_logRetry.stop();
    m_port.close();
    // A session still opening its port has not touched its log.
    if (m_state == State::Opening)
        m_log.abandon();
    else if (isRunning()) {
        tellEnding(Ending::ProgramClosed);
        endRecord(companion::event::kProgramClosed, nullptr);
    }
    m_log.close();
    m_state = State::Stopped;
}

bool GaugeSession::sendStopTwice(QString* reason)
{
    // One write of both copies, one wait: the line never idles between them.
    return m_port.send(stopCommand() + stopCommand(), reason);
}

void GaugeSession::finish()
{
    m_log.close();
    m_state = State::Stopped;
    emit runningChanged(false);
}

void GaugeSession::abort(const QString& message)
{
    stopReconnecting();
    if (m_port.isOpen()) {
        QString ignored;
        sendStopTwice(&ignored);
    }
    m_port.close();
    const bool wasRunning = isRunning();
    if (wasRunning && m_state != State::Opening) {
        tellEnding(Ending::Aborted);
        endRecord(companion::event::kAborted, nullptr);
    }
    m_log.close();
    m_state = State::Stopped;
    if (wasRunning)
        emit runningChanged(false);
    m_reporter->clearNotice();
    m_reporter->report(message);
}

void GaugeSession::onLost(const QString& reason)
{
    // A session that has just ended over the same fault (its last readings could not be
    // written) has said so already.
    if (m_state != State::Running)
        return;
    m_state = State::Reconnecting;
    m_silenceTimer.stop();
    const qint64 now = m_clock.elapsed();
    const QByteArray stamp = stampNow();
    QString unrecorded;
    const bool recorded = endSilence(stamp, now, &unrecorded) &&
                          recordEvent(stamp, companion::event::kLineLost, &unrecorded);
    m_history.mark(now, HistoryEvent::LineLost);
    if (!m_stale) {
        m_stale = true;
        emit staleChanged(true);
    }
    if (!recorded && !m_stopping) {
        abort(messages::companionWriteFailed(m_log.companionPath(), unrecorded));
        return;
    }
    // Found out by STOP itself: the operator is ending the session anyway.
    if (m_stopping)
        return;
    m_reporter->showNotice(messages::linkLost(m_portName, reason));
    m_reconnect.start();
}

void GaugeSession::tryReconnect()
{
    if (m_state != State::Reconnecting || m_port.opening())
        return;
    m_probed = m_naming.locate(m_identity);
    if (!m_probed.isEmpty()) {
        m_port.beginOpen(m_probed);
        return;
    }
    // The gauge's device is not there. Its number may lead to another device meanwhile (an
    // adapter plugged in takes the free number): that one is never opened, and the operator is
    // told once for each device it leads to.
    const QString now = resolve(m_number);
    if (now.isEmpty() || now == m_elsewhere || m_naming.identify(now) == m_identity)
        return;
    m_elsewhere = now;
    m_reporter->showNotice(messages::numberLeadsElsewhere(describePort(m_number, now), m_identity));
}

void GaugeSession::finishReconnect(bool ok)
{
    // Not there yet: the next try comes with the timer.
    if (!ok)
        return;
    QString reason;
    if (!m_port.send(startCommand(), &reason)) {
        m_port.close();
        return;
    }
    stopReconnecting();
    m_state = State::Running;
    m_portName = describePort(m_number, m_probed);
    m_reporter->clearNotice();
    const qint64 now = m_clock.elapsed();
    m_history.mark(now, HistoryEvent::LineBack);
    m_silence.restart(now);
    m_silenceTimer.start(int(m_silence.limitMs()));
    if (!recordEvent(stampNow(), companion::event::kLineBack, &reason)) {
        abort(messages::companionWriteFailed(m_log.companionPath(), reason));
        return;
    }
    m_port.startReading();
}

void GaugeSession::stopReconnecting()
{
    m_reconnect.stop();
    if (m_state == State::Reconnecting)
        m_port.cancelOpen();
}

void GaugeSession::processReceived(const QByteArray& bytes)
{
    // A batch is read in one go: its records go to the log in one write, before it is shown.
    QString error;
    const QString& offsetText = m_offsetText;
    // Only a session records: the log may be claimed before the session has begun.
    ReadingPipeline::Sinks sinks;
    const bool recording = m_state == State::Running && m_log.isOpen();
    if (recording) {
        sinks.log = &m_log;
        sinks.companion = m_log.companion();
    }
    // Bytes an offset text that is not a number cannot read are no readings: they neither end a
    // silence nor set the pace.
    qint64 now = -1;
    if (recording && !bytes.isEmpty() && parseOffset(offsetText)) {
        // One arrival for the whole batch: its readings share the time, none is invented.
        now = m_clock.elapsed();
        if (sinks.companion || m_silent)
            sinks.stamp = stampNow();
        if (!endSilence(sinks.stamp, now, &error)) {
            abort(messages::companionWriteFailed(m_log.companionPath(), error));
            return;
        }
        m_silence.reading(now);
        m_silenceTimer.start(int(m_silence.limitMs()));
    }
    const auto result =
        m_pipeline.process(bytes.constData(), bytes.size(), offsetText, m_allData, sinks, &error);
    if (result == ReadingPipeline::Result::Rejected)
        return;
    // Whether or not the companion record is kept: the chart is the session's own.
    if (now >= 0) {
        const std::vector<qint16>& taken = m_pipeline.lastBatch();
        m_history.addBatch(now, taken.data(), qsizetype(taken.size()));
    }
    if (m_stale) {
        m_stale = false;
        emit staleChanged(false);
    }
    emit readingsChanged();
    if (result == ReadingPipeline::Result::LogFailed) {
        abort(m_log.deleted() ? messages::logDeleted(logPath())
                              : messages::logWriteFailed(logPath(), error));
    } else if (result == ReadingPipeline::Result::CompanionFailed) {
        abort(messages::companionWriteFailed(m_log.companionPath(), error));
    }
}

void GaugeSession::setLogMode(bool allData)
{
    if (allData == m_allData)
        return;
    m_allData = allData;
    if (m_state != State::Running && m_state != State::Reconnecting)
        return;
    m_history.mark(m_clock.elapsed(), HistoryEvent::LogMode);
    QString error;
    if (!recordEvent(stampNow(),
                     allData ? companion::event::kModeAll : companion::event::kModeChanges, &error))
        abort(messages::companionWriteFailed(m_log.companionPath(), error));
}

void GaugeSession::setOffsetText(const QString& text)
{
    m_offsetText = text;
    // A text being typed over is no offset yet; only a number different from the last one is a
    // change.
    const std::optional<int> offset = parseOffset(text);
    if (!offset || offset == m_offset)
        return;
    m_offset = offset;
    if (m_state != State::Running && m_state != State::Reconnecting)
        return;
    m_history.mark(m_clock.elapsed(), HistoryEvent::Offset);
    QString error;
    if (!recordEvent(stampNow(), companion::offsetEvent(*offset), &error)) {
        abort(messages::companionWriteFailed(m_log.companionPath(), error));
        return;
    }
    emit offsetChanged();
}

void GaugeSession::tellEnding(Ending why)
{
    if (m_ending)
        return;
    m_ending = true;
    emit ending(why);
    m_ending = false;
}

bool GaugeSession::recordHoldEvent(const QString& event)
{
    if (m_state != State::Running && m_state != State::Reconnecting)
        return false;
    QString error;
    if (recordEvent(stampNow(), event, &error))
        return true;
    // While ending, the session's own end says what went wrong.
    if (!m_ending)
        abort(messages::companionWriteFailed(m_log.companionPath(), error));
    return false;
}

QByteArray GaugeSession::stampNow() const
{
    return companion::stamp(QDateTime::currentDateTime(), m_clock.elapsed());
}

bool GaugeSession::recordEvent(const QByteArray& stamp, const QString& event, QString* error)
{
    RecordSink* record = m_log.companion();
    return !record || record->write(companion::eventRow(stamp, event), error);
}

bool GaugeSession::endSilence(const QByteArray& stamp, qint64 now, QString* error)
{
    if (!m_silent)
        return true;
    m_silent = false;
    m_history.mark(now, HistoryEvent::SilenceEnd);
    emit silentChanged(false);
    return recordEvent(stamp, companion::silenceEvent(now - m_silence.lastMs(), m_separator),
                       error);
}

void GaugeSession::onSilence()
{
    // Only a gauge whose line is open can be silent; a lost line has its own look and notice.
    if (m_state != State::Running || m_silent)
        return;
    // A coarse timer may come a little early: silence is no reading for the whole limit.
    const qint64 left = m_silence.lastMs() + m_silence.limitMs() - m_clock.elapsed();
    if (left > 0) {
        m_silenceTimer.start(int(left));
        return;
    }
    m_silent = true;
    m_history.mark(m_silence.lastMs(), HistoryEvent::SilenceBegin);
    if (!m_stale) {
        m_stale = true;
        emit staleChanged(true);
    }
    emit silentChanged(true);
}

bool GaugeSession::endRecord(const QString& event, QString* error)
{
    m_silenceTimer.stop();
    const QByteArray stamp = stampNow();
    QString ignored;
    if (!error)
        error = &ignored;
    const qint64 now = m_clock.elapsed();
    const bool recorded = endSilence(stamp, now, error) && recordEvent(stamp, event, error);
    m_history.mark(now, HistoryEvent::Stop);
    return recorded;
}

} // namespace piezon
