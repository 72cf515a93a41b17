#pragma once

#include "gauge/gauge_port.h"
#include "gauge/reading_pipeline.h"
#include "log/measurement_log.h"

#include <QObject>
#include <QString>

#include <functional>

namespace piezon
{

class ErrorReporter;

// START, STOP and everything between: the port, the log and the reading of every byte.
// A session runs exactly while the port is open; there is no half-open state: whenever a step
// fails, the gauge is told STOP (if it was told START), the port and log are closed, and the
// operator gets one message.
class GaugeSession : public QObject
{
    Q_OBJECT
public:
    struct Inputs {
        std::function<QString()> offsetText; // the offset picker as shown
        std::function<bool()> allData;       // the log-mode box
    };

    GaugeSession(QString programDir, ErrorReporter* reporter, QChar separator, Inputs inputs,
                 QObject* parent = nullptr);
    ~GaugeSession() override;

    GaugePort& port() { return m_port; }
    ReadingPipeline& pipeline() { return m_pipeline; }
    const MeasurementLog& log() const { return m_log; }
    QString logPath() const;

    bool isRunning() const { return m_port.isOpen(); }

    void applyStartupSettings() { m_port.applyStartupSettings(); }
    void start(const QString& portText);
    void stop();
    // The program ends: no command to the gauge, the port released, the log closed and synced.
    void release();

    // Every byte is one reading, in order. Public so the window can be driven without a port.
    void processReceived(const QByteArray& bytes);

signals:
    void runningChanged(bool running);
    void readingsChanged();

private:
    void onLost(const QString& reason);
    // Ends the session after a failure: STOP twice if the line still takes it, port and log
    // closed, then the one message.
    void abort(const QString& message);
    bool sendStopTwice(QString* reason);

    QString m_programDir;
    ErrorReporter* m_reporter;
    Inputs m_inputs;
    GaugePort m_port;
    MeasurementLog m_log;
    ReadingPipeline m_pipeline;
    QString m_portName; // "COM1 (/dev/ttyS0)" of the running session
};

} // namespace piezon
