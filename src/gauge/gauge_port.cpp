#include "gauge/gauge_port.h"

namespace piezon
{
namespace
{
// A line at 9600 baud brings at most 16 bytes in a frame. A read that finds this many is a far
// end faster than any serial line, or a program held up for a while: the next read comes as soon
// as the event loop is round again, so that the device's buffer never fills while we wait.
constexpr qsizetype kReadAgainAtOnce = 512;
} // namespace

GaugePort::GaugePort(QObject* parent) : QObject(parent)
{
    m_resume.setSingleShot(true);
    m_resume.setTimerType(Qt::PreciseTimer);
    connect(&m_resume, &QTimer::timeout, this, &GaugePort::resumeReading);
    connect(&m_opener, &LineOpener::finished, this, &GaugePort::onOpened);
}

GaugePort::~GaugePort()
{
    close();
}

void GaugePort::applyStartupSettings()
{
    m_settings = LineSettings{};
}

void GaugePort::beginOpen(const QString& path)
{
    if (isOpen() || opening())
        return;
    dropLine();
    m_opener.start(path, m_settings);
}

void GaugePort::cancelOpen()
{
    m_opener.cancel();
}

void GaugePort::onOpened(SerialLine::Opened& result)
{
    if (!result.line) {
        emit opened(false, result.failure, result.reason);
        return;
    }
    m_line = std::move(result.line);
    connect(m_line.get(), &SerialLine::readyRead, this, &GaugePort::onReadyRead);
    connect(m_line.get(), &SerialLine::failed, this, &GaugePort::onFailed);
    m_sinceRead.invalidate();
    emit opened(true, OpenFailure::None, {});
}

void GaugePort::startReading()
{
    if (isOpen() && !resting())
        m_line->listen(true);
}

bool GaugePort::send(const QByteArray& data, QString* reason)
{
    if (!isOpen()) {
        if (reason)
            *reason = QStringLiteral("порт не открыт");
        return false;
    }
    return m_line->send(data, kSendTimeoutMs, reason);
}

void GaugePort::close()
{
    cancelOpen();
    m_resume.stop();
    dropLine();
}

void GaugePort::dropLine()
{
    if (!m_line)
        return;
    m_line->disconnect(this);
    m_line->close();
    // While the line is telling us of a reading or its failure, it is on the stack below us.
    if (m_inLineSignal > 0)
        m_line.release()->deleteLater();
    else
        m_line.reset();
}

void GaugePort::onReadyRead()
{
    const InLineSignal inSignal(m_inLineSignal);
    if (!isOpen())
        return;
    const QByteArray bytes = m_line->takeAll();
    if (bytes.isEmpty()) {
        m_line->listen(true);
        return;
    }
    const bool busy =
        bytes.size() > 1 || (m_sinceRead.isValid() && m_sinceRead.elapsed() < kBusyGapMs);
    m_sinceRead.start();
    if (busy && bytes.size() < kReadAgainAtOnce) {
        m_line->listen(false);
        m_resume.start(kGatherMs);
    } else {
        m_line->listen(true);
    }
    emit received(bytes);
}

void GaugePort::takeWaiting()
{
    if (!isOpen())
        return;
    m_resume.stop();
    QByteArray bytes;
    {
        // Taking them may find the line failed, and tell us so from inside.
        const InLineSignal inSignal(m_inLineSignal);
        bytes = m_line->takeWaiting();
    }
    if (m_line && m_line->isOpen())
        m_line->listen(true);
    if (!bytes.isEmpty())
        emit received(bytes);
}

void GaugePort::resumeReading()
{
    // What waited is read as soon as the event loop polls again; a line that went quiet or died
    // meanwhile is watched (and its failure reported) as before.
    if (isOpen())
        m_line->listen(true);
}

void GaugePort::onFailed(const QString& reason)
{
    const InLineSignal inSignal(m_inLineSignal);
    m_resume.stop();
    // Readings that arrived before the failure are still readings.
    const QByteArray rest = m_line->takeAll();
    dropLine();
    if (!rest.isEmpty())
        emit received(rest);
    emit lost(reason);
}

} // namespace piezon
