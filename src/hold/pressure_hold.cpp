#include "hold/pressure_hold.h"

#include "gauge/gauge_session.h"
#include "hold/protocol_page.h"
#include "log/companion_row.h"
#include "log/system_reason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <memory>

namespace piezon
{
namespace
{

// Whole files or nothing: a protocol half on the disk is worse than none.
bool saveWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = russianReason(file.errorString());
    return false;
}

// The record's rows in `text` (whole CR LF lines) from `fromMs` on; the header, if `text` begins
// with it, left out.
QByteArray rowsFrom(const QByteArray& text, qint64 fromMs, bool withHeader)
{
    QByteArray out;
    out.reserve(text.size());
    qsizetype at = 0;
    bool first = withHeader;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        end = end < 0 ? text.size() : end + 1;
        const QByteArrayView row(text.constData() + at, end - at);
        if (first) {
            first = false;
        } else {
            // The second field is the milliseconds since START.
            const qsizetype semi = row.indexOf(';');
            const qsizetype next = semi < 0 ? -1 : row.indexOf(';', semi + 1);
            bool ok = false;
            const qint64 ms = next < 0 ? -1 : row.sliced(semi + 1, next - semi - 1).toLongLong(&ok);
            if (ok && ms >= fromMs && row.endsWith("\r\n"))
                out += row;
        }
        at = end;
    }
    return out;
}

} // namespace

PressureHold::PressureHold(GaugeSession& session, QChar separator, QString program, QObject* parent)
    : QObject(parent), m_session(session), m_separator(separator), m_program(std::move(program))
{
    m_writer.setMaxThreadCount(1);
    m_end.setSingleShot(true);
    // The verdict is due at a moment, not at the next tick of a coarse timer.
    m_end.setTimerType(Qt::PreciseTimer);
    connect(&m_end, &QTimer::timeout, this, &PressureHold::onTimer);

    connect(&m_session, &GaugeSession::readingsChanged, this, &PressureHold::onReadings);
    connect(&m_session, &GaugeSession::runningChanged, this, [this](bool running) {
        if (running)
            m_checkpoints.clear();
    });
    connect(&m_session, &GaugeSession::ending, this, [this](GaugeSession::Ending why) {
        switch (why) {
        case GaugeSession::Ending::Stop:
            onEvent(HoldCause::Stop);
            break;
        case GaugeSession::Ending::ProgramClosed:
            onEvent(HoldCause::ProgramClosed);
            break;
        case GaugeSession::Ending::Aborted:
            onEvent(HoldCause::SessionAborted);
            break;
        }
    });
    // After the session's own handler: the loss is in the record before the hold's end.
    connect(&m_session.port(), &GaugePort::lost, this, [this] {
        if (m_session.isReconnecting())
            onEvent(HoldCause::LineLost);
    });
    connect(&m_session, &GaugeSession::silentChanged, this, [this](bool silent) {
        if (silent)
            onEvent(HoldCause::Silence);
    });
    connect(&m_session, &GaugeSession::offsetChanged, this,
            [this] { onEvent(HoldCause::OffsetChanged); });
}

PressureHold::~PressureHold()
{
    m_writer.waitForDone();
}

PressureHold::Refusal PressureHold::begin(const HoldSettings& settings)
{
    if (running())
        return Refusal::None;
    if (!m_session.isRunning() || m_session.isOpening())
        return Refusal::NoSession;
    if (m_session.isReconnecting())
        return Refusal::LineLost;
    const std::optional<int> start = parseHundredths(m_session.pipeline().caption());
    if (m_session.isSilent() || m_session.isStale() || m_session.history().readingCount() == 0 ||
        !start)
        return Refusal::NotLive;

    const qint64 now = m_session.sessionMs();
    m_localStart = QDateTime::currentDateTime();
    m_historyStart = m_session.history().localStart();
    m_rowsFrom = 0;
    // The last second that began before the minute the rows go back to.
    for (const Checkpoint& c : m_checkpoints) {
        if (c.ms < now - HoldReport::kLeadMs)
            m_rowsFrom = c.offset;
    }
    m_judge.emplace(settings, now, *start);
    m_protocolPath.clear();
    if (!m_session.recordHoldEvent(holdStartEvent(settings, m_separator)))
        return Refusal::None; // the session has ended over it, and said why; the hold with it
    if (m_judge->outcome().ended())
        finish();
    else
        armTimer();
    emit changed();
    return Refusal::None;
}

void PressureHold::endByOperator()
{
    onEvent(HoldCause::OperatorEnded);
}

bool PressureHold::onCurrentHistory() const
{
    return m_judge && m_session.history().started() &&
           m_session.history().localStart() == m_historyStart;
}

void PressureHold::noteCheckpoint()
{
    const qint64 ms = m_session.history().lastReadingMs();
    if (ms < 0 || (!m_checkpoints.empty() && ms - m_checkpoints.back().ms < 1000))
        return;
    const qint64 size = m_session.companionSize();
    if (size < 0)
        return;
    m_checkpoints.push_back({ms, size});
    // One checkpoint older than the minute is all the minute needs.
    while (m_checkpoints.size() > 1 && m_checkpoints[1].ms < ms - HoldReport::kLeadMs - 1000)
        m_checkpoints.pop_front();
}

void PressureHold::onReadings()
{
    noteCheckpoint();
    if (!running())
        return;
    const qint64 ms = m_session.history().lastReadingMs();
    for (const qint16 centi : m_session.pipeline().lastBatch()) {
        if (m_judge->add(HoldStep::reading(ms, centi))) {
            finish();
            return;
        }
    }
}

void PressureHold::onEvent(HoldCause cause)
{
    if (!running())
        return;
    m_judge->add(HoldStep::happened(m_session.sessionMs(), cause));
    finish();
}

void PressureHold::armTimer()
{
    const qint64 left = m_judge->outcome().plannedEndMs - m_session.sessionMs();
    m_end.start(int(std::clamp<qint64>(left, 0, HoldSettings::kLongestMs)));
}

void PressureHold::onTimer()
{
    if (!running())
        return;
    // A timer may come a little early: the hold ends at its moment, not before.
    if (m_judge->advance(m_session.sessionMs()))
        finish();
    else
        armTimer();
}

void PressureHold::finish()
{
    m_end.stop();
    const HoldOutcome& outcome = m_judge->outcome();
    const QChar separator = m_separator;
    const bool recorded =
        m_session.recordHoldEvent(holdEndEvent(outcome, m_judge->settings(), separator));
    // The program is closing: its window goes now, and a protocol of a hold cut short by it
    // would only stand for a test nobody finished.
    if (outcome.cause == HoldCause::ProgramClosed) {
        emit changed();
        return;
    }
    HoldReport report;
    report.settings = m_judge->settings();
    report.outcome = outcome;
    report.localStart = m_localStart;
    report.port = QStringLiteral("COM%1").arg(m_session.portNumber());
    report.offset = m_session.offset();
    report.separator = separator;
    report.logName = QFileInfo(m_session.logPath()).fileName();
    report.recordName = QFileInfo(m_session.log().companionPath()).fileName();
    report.program = m_program;
    report.history = m_session.history();
    const qint64 rowsTo = recorded ? m_session.companionSize() : -1;
    m_writing = true;
    emit changed();
    // Drawn once the session has finished what it is doing (a STOP, a lost line): the page can
    // wait a moment, the gauge cannot.
    QMetaObject::invokeMethod(
        this, [this, report = std::move(report), rowsTo]() mutable { writeFiles(report, rowsTo); },
        Qt::QueuedConnection);
}

void PressureHold::writeFiles(HoldReport report, qint64 rowsTo)
{
    const QDir folder = QFileInfo(m_session.logPath()).absoluteDir();
    QString stem = protocolStem(report.localStart);
    for (int n = 2; QFileInfo::exists(folder.filePath(stem + QStringLiteral(".pdf"))) ||
                    QFileInfo::exists(folder.filePath(stem + QStringLiteral(".csv")));
         ++n)
        stem = protocolStem(report.localStart) + QStringLiteral("_%1").arg(n);
    const QString pdfPath = folder.filePath(stem + QStringLiteral(".pdf"));
    const QString csvPath = folder.filePath(stem + QStringLiteral(".csv"));
    report.rowsName = QFileInfo(csvPath).fileName();
    const QByteArray pdf = protocolPdf(report);

    // Opened here: a START right after could move the record aside before the writer gets to
    // it, and the name would then lead to the next session's record.
    auto record = std::make_shared<QFile>(m_session.log().companionPath());
    if (rowsTo < 0 || !record->open(QIODevice::ReadOnly))
        record.reset();
    const qint64 from = m_rowsFrom;
    const qint64 fromMs = report.chartFromMs();
    // Without the record, the hold's own two rows at least.
    const QByteArray ownRows =
        companion::eventRow(companion::stamp(report.localStart, report.outcome.startMs),
                            holdStartEvent(report.settings, report.separator)) +
        companion::eventRow(companion::stamp(report.localEnd(), report.outcome.endMs),
                            holdEndEvent(report.outcome, report.settings, report.separator));
    m_writer.start([this, record, from, rowsTo, fromMs, ownRows, pdf, pdfPath, csvPath] {
        QByteArray rows = ownRows;
        if (record && record->seek(from)) {
            const QByteArray text = record->read(std::max<qint64>(0, rowsTo - from));
            rows = rowsFrom(text, fromMs, from == 0);
        }
        QString error;
        QString reason;
        if (!saveWhole(csvPath, companion::header() + rows, &reason))
            error = QStringLiteral("Не удалось записать строки испытания «%1»: %2")
                        .arg(QDir::toNativeSeparators(csvPath), reason);
        if (!saveWhole(pdfPath, pdf, &reason))
            error = QStringLiteral("Не удалось записать протокол «%1»: %2")
                        .arg(QDir::toNativeSeparators(pdfPath), reason);
        const bool pdfWritten = QFileInfo::exists(pdfPath);
        QMetaObject::invokeMethod(
            this,
            [this, pdfPath, error, pdfWritten] {
                m_writing = false;
                if (pdfWritten)
                    m_protocolPath = pdfPath;
                emit written(pdfPath, error);
            },
            Qt::QueuedConnection);
    });
}

} // namespace piezon
