#include "gauge/gauge_session.h"

#include "gauge/gauge_commands.h"
#include "gauge/port_mapping.h"
#include "gauge/session_messages.h"
#include "log/log_record.h"
#include "window/error_reporter.h"

namespace piezon
{

GaugeSession::GaugeSession(QString programDir, ErrorReporter* reporter, QChar separator,
                           Inputs inputs, QObject* parent)
    : QObject(parent), m_programDir(std::move(programDir)), m_reporter(reporter),
      m_inputs(std::move(inputs)), m_pipeline(separator)
{
    connect(&m_port, &GaugePort::received, this, &GaugeSession::processReceived);
    connect(&m_port, &GaugePort::lost, this, &GaugeSession::onLost);
}

GaugeSession::~GaugeSession()
{
    release();
}

QString GaugeSession::logPath() const
{
    return logFilePath(m_programDir);
}

void GaugeSession::start(const QString& portText)
{
    if (isRunning())
        return;

    const int number = parsePortNumber(portText);
    const QString path = resolveComPort(number, m_programDir, entryExistsOnDisk);
    if (path.isEmpty()) {
        m_reporter->report(messages::noSuchPort(number));
        return;
    }
    const QString name = describePort(number, path);

    GaugePort::OpenFailure failure = GaugePort::OpenFailure::None;
    QString reason;
    if (!m_port.open(path, &failure, &reason)) {
        switch (failure) {
        case GaugePort::OpenFailure::NotFound:
            m_reporter->report(messages::portNotFound(name, reason));
            break;
        case GaugePort::OpenFailure::Busy:
            m_reporter->report(messages::portBusy(name, reason));
            break;
        case GaugePort::OpenFailure::Permission:
            m_reporter->report(messages::portNoPermission(name, reason));
            break;
        default:
            m_reporter->report(messages::portOpenFailed(name, reason));
            break;
        }
        return;
    }
    m_portName = name;

    if (!m_port.send(startCommand(), &reason)) {
        m_port.close();
        m_reporter->report(messages::sendFailed(name, reason));
        return;
    }

    m_pipeline.startNewLog();
    if (!m_log.open(logPath(), &reason)) {
        abort(messages::logCannotBeCreated(logPath(), reason));
        return;
    }
    emit runningChanged(true);
}

void GaugeSession::stop()
{
    if (!isRunning())
        return;
    QString reason;
    if (!sendStopTwice(&reason)) {
        m_port.close();
        m_log.close();
        emit runningChanged(false);
        m_reporter->report(messages::sendFailed(m_portName, reason));
        return;
    }
    m_port.close();
    m_log.close();
    emit runningChanged(false);
}

void GaugeSession::release()
{
    m_port.close();
    m_log.close();
}

bool GaugeSession::sendStopTwice(QString* reason)
{
    return m_port.send(stopCommand(), reason) && m_port.send(stopCommand(), reason);
}

void GaugeSession::abort(const QString& message)
{
    if (m_port.isOpen()) {
        QString ignored;
        sendStopTwice(&ignored);
        m_port.close();
    }
    m_log.close();
    emit runningChanged(false);
    m_reporter->report(message);
}

void GaugeSession::onLost(const QString& reason)
{
    m_log.close();
    emit runningChanged(false);
    m_reporter->report(messages::linkLost(m_portName, reason));
}

void GaugeSession::processReceived(const QByteArray& bytes)
{
    // A batch is read in one go: its records go to the log in one write, before it is shown.
    QString error;
    MeasurementLog* log = m_log.isOpen() ? &m_log : nullptr;
    const auto result = m_pipeline.process(bytes.constData(), bytes.size(), m_inputs.offsetText(),
                                           m_inputs.allData(), log, &error);
    if (result == ReadingPipeline::Result::Rejected)
        return;
    emit readingsChanged();
    if (result == ReadingPipeline::Result::LogFailed) {
        abort(m_log.deleted() ? messages::logDeleted(logPath())
                              : messages::logWriteFailed(logPath(), error));
    }
}

} // namespace piezon
