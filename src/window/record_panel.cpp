#include "window/record_panel.h"

#include "gauge/error_reporter.h"
#include "hold/protocol_page.h"
#include "log/system_reason.h"
#include "record/record_hold.h"
#include "window/texts.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

namespace piezon
{
namespace
{

constexpr int kProgressPollMs = 100;

// "12:34" or "1:02:03" since START, as the chart's axis writes it.
std::optional<qint64> parseSinceStart(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    qint64 seconds = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const int v = parts[i].toInt(&ok);
        if (!ok || v < 0 || (i > 0 && (v > 59 || parts[i].size() != 2)))
            return std::nullopt;
        seconds = seconds * 60 + v;
    }
    return seconds * 1000;
}

} // namespace

RecordPanel::RecordPanel(QWidget* window, ErrorReporter& reporter, QString folder)
    : QObject(window), m_window(window), m_reporter(reporter), m_folder(std::move(folder))
{
    openButton = new QPushButton(texts::kOpenRecord, window);
    openButton->setObjectName(QStringLiteral("openRecordButton"));
    openButton->setToolTip(texts::kOpenRecordTip);
    openButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    // Enter belongs to no button in the session window.
    openButton->setAutoDefault(false);
    sessionPicker = new QComboBox(window);
    sessionPicker->setObjectName(QStringLiteral("recordSessionPicker"));
    sessionPicker->setToolTip(texts::kRecordSessionTip);
    progress = new QProgressBar(window);
    progress->setObjectName(QStringLiteral("recordProgress"));
    progress->setRange(0, 1000);
    progress->setTextVisible(false);
    cancelButton = new QPushButton(texts::kRecordCancel, window);
    cancelButton->setObjectName(QStringLiteral("recordCancelButton"));
    cancelButton->setAutoDefault(false);
    for (QWidget* w : {static_cast<QWidget*>(progress), static_cast<QWidget*>(cancelButton)})
        w->hide();

    markFrom = new QLineEdit(window);
    markFrom->setObjectName(QStringLiteral("recordMarkFrom"));
    markTo = new QLineEdit(window);
    markTo->setObjectName(QStringLiteral("recordMarkTo"));
    auto* fromLabel = new QLabel(texts::kRecordMarkFrom, window);
    auto* toLabel = new QLabel(texts::kRecordMarkTo, window);
    fromLabel->setBuddy(markFrom);
    toLabel->setBuddy(markTo);
    protocolButton = new QPushButton(texts::kRecordProtocol, window);
    protocolButton->setObjectName(QStringLiteral("recordProtocolButton"));
    protocolButton->setAutoDefault(false);
    protocolButton->setMenu(new QMenu(protocolButton));
    protocolNote = new QLabel(window);
    protocolNote->setObjectName(QStringLiteral("recordProtocolNote"));
    protocolNote->setWordWrap(true);
    protocolNote->setOpenExternalLinks(true);
    protocolNote->setTextInteractionFlags(Qt::TextBrowserInteraction);
    auto* marks = new QWidget(window);
    marks->setObjectName(QStringLiteral("recordMarks"));
    marks->setToolTip(texts::kRecordMarkTip);
    auto* markRow = new QHBoxLayout(marks);
    markRow->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : {static_cast<QWidget*>(fromLabel), static_cast<QWidget*>(markFrom),
                       static_cast<QWidget*>(toLabel), static_cast<QWidget*>(markTo)})
        markRow->addWidget(w);
    m_recordOnly = {sessionPicker, marks, protocolButton, protocolNote};

    box = new QVBoxLayout;
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(sessionPicker);
    box->addWidget(marks);
    box->addWidget(protocolButton);
    box->addWidget(protocolNote);
    auto* reading = new QHBoxLayout;
    reading->addWidget(progress, 1);
    reading->addWidget(cancelButton);
    box->addLayout(reading);

    m_progressDelay.setSingleShot(true);
    m_progressDelay.setInterval(kProgressAfterMs);
    connect(&m_progressDelay, &QTimer::timeout, this, &RecordPanel::showProgress);
    m_progressPoll.setInterval(kProgressPollMs);
    connect(&m_progressPoll, &QTimer::timeout, this, [this] {
        const qint64 total = m_reader.bytesTotal();
        progress->setValue(
            total > 0 ? int(std::min<qint64>(m_reader.bytesRead(), total) * 1000 / total) : 0);
    });
    connect(openButton, &QPushButton::clicked, this,
            [this] { choose(m_path.isEmpty() ? m_folder : QFileInfo(m_path).absolutePath()); });
    connect(cancelButton, &QPushButton::clicked, &m_reader, &RecordReader::cancel);
    connect(&m_reader, &RecordReader::finished, this, &RecordPanel::onRead);
    connect(sessionPicker, &QComboBox::activated, this, &RecordPanel::pick);
    connect(markFrom, &QLineEdit::editingFinished, this, &RecordPanel::onMarkTyped);
    connect(markTo, &QLineEdit::editingFinished, this, &RecordPanel::onMarkTyped);
    connect(protocolButton->menu(), &QMenu::aboutToShow, this, &RecordPanel::fillProtocolMenu);
    connect(&m_judging, &RecordReader::finished, this, &RecordPanel::onJudged);
    m_writer.setMaxThreadCount(1);
    for (QWidget* w : m_recordOnly)
        w->hide();
}

RecordPanel::~RecordPanel()
{
    m_writer.waitForDone();
}

void RecordPanel::choose(const QString& folder)
{
    if (reading() || m_choosing)
        return;
    m_choosing = true;
    // The live session goes on while the dialog is open: its readings are taken in the dialog's
    // own loop.
    const QString path = QFileDialog::getOpenFileName(m_window, texts::kOpenRecordTitle, folder,
                                                      texts::kRecordFilter);
    m_choosing = false;
    if (!path.isEmpty())
        open(path);
}

bool RecordPanel::open(const QString& path)
{
    if (!m_reader.start(path))
        return false;
    openButton->setEnabled(false);
    progress->setValue(0);
    m_progressDelay.start();
    return true;
}

void RecordPanel::showProgress()
{
    if (!reading())
        return;
    progress->show();
    cancelButton->show();
    m_progressPoll.start();
}

void RecordPanel::onRead()
{
    m_progressDelay.stop();
    m_progressPoll.stop();
    progress->hide();
    cancelButton->hide();
    openButton->setEnabled(true);
    RecordReader::Outcome outcome = m_reader.take();
    using Kind = RecordReader::Outcome::Kind;
    if (outcome.kind == Kind::Refused || outcome.kind == Kind::Failed) {
        emit readingEnded();
        m_reporter.report(
            texts::kRecordRefused.arg(QFileInfo(outcome.path).fileName(), outcome.reason));
        return;
    }
    if (outcome.kind == Kind::Cancelled) {
        emit readingEnded();
        return;
    }
    m_sessions = std::move(outcome.sessions);
    m_path = outcome.path;
    {
        const QSignalBlocker quiet(sessionPicker);
        sessionPicker->clear();
        // By their place in the file: the local clock may have been put back between them.
        for (const auto& session : m_sessions->sessions()) {
            sessionPicker->addItem(
                session->localStart.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
            sessionPicker->setItemData(
                sessionPicker->count() - 1,
                texts::kRecordSessionReadings.arg(session->history.readingCount()),
                Qt::ToolTipRole);
        }
        sessionPicker->setEnabled(sessionPicker->count() > 1);
    }
    for (QWidget* w : m_recordOnly)
        w->show();
    emit readingEnded();
    pick(m_sessions->preferred());
}

void RecordPanel::pick(int index)
{
    if (!m_sessions || index < 0 || index >= int(m_sessions->sessions().size()))
        return;
    m_shown = index;
    {
        const QSignalBlocker quiet(sessionPicker);
        sessionPicker->setCurrentIndex(index);
    }
    // A mark belongs to the session it was made on.
    m_markFromMs.reset();
    m_markToMs.reset();
    markFrom->clear();
    markTo->clear();
    protocolNote->clear();
    emit shownChanged();
}

const SessionHistory& RecordPanel::history() const
{
    return m_sessions->sessions()[std::size_t(m_shown)]->history;
}

QString RecordPanel::fileName() const
{
    return QFileInfo(m_path).fileName();
}

void RecordPanel::close()
{
    if (!shown())
        return;
    m_shown = -1;
    m_sessions.reset();
    for (QWidget* w : m_recordOnly)
        w->hide();
    sessionPicker->clear();
    emit shownChanged();
}

void RecordPanel::setHoldSettings(SettingsSource source, QChar separator, QString program)
{
    m_settings = std::move(source);
    m_separator = separator;
    m_program = std::move(program);
}

const std::vector<record::FoundHold>& RecordPanel::foundHolds() const
{
    return m_sessions->sessions()[std::size_t(m_shown)]->holds;
}

void RecordPanel::markSpan(qint64 fromMs, qint64 toMs)
{
    if (!shown())
        return;
    if (toMs < fromMs)
        std::swap(fromMs, toMs);
    m_markFromMs = std::max<qint64>(0, fromMs);
    m_markToMs = toMs;
    markFrom->setText(formatSinceStart(*m_markFromMs));
    markTo->setText(formatSinceStart(*m_markToMs));
    emit markChanged();
}

void RecordPanel::onMarkTyped()
{
    const std::optional<qint64> from = parseSinceStart(markFrom->text());
    const std::optional<qint64> to = parseSinceStart(markTo->text());
    // A field left as the drag wrote it keeps the drag's own millisecond.
    const auto kept = [](const std::optional<qint64>& typed, const std::optional<qint64>& had) {
        return typed && had && formatSinceStart(*had) == formatSinceStart(*typed) ? had : typed;
    };
    m_markFromMs = kept(from, m_markFromMs);
    m_markToMs = kept(to, m_markToMs);
    emit markChanged();
}

std::optional<HoldBand> RecordPanel::band() const
{
    if (!shown() || !m_markFromMs || !m_markToMs || *m_markToMs <= *m_markFromMs)
        return std::nullopt;
    const std::optional<StoredPoint> start = history().nearest(*m_markFromMs);
    if (!start)
        return std::nullopt;
    QString ignored;
    const std::optional<HoldSettings> settings = m_settings ? m_settings(&ignored) : std::nullopt;
    return HoldBand{*m_markFromMs, *m_markToMs,
                    start->hi - (settings ? settings->allowedDropCenti : 0)};
}

void RecordPanel::fillProtocolMenu()
{
    QMenu* menu = protocolButton->menu();
    menu->clear();
    if (!shown())
        return;
    const std::vector<record::FoundHold>& holds = foundHolds();
    for (std::size_t i = 0; i < holds.size(); ++i) {
        const QString end = holds[i].endText.isEmpty()
                                ? texts::kRecordHoldUnended
                                : holds[i].endText.section(QStringLiteral(": "), 1);
        menu->addAction(texts::kRecordFoundHold.arg(
                            holds[i].localStart.toString(QStringLiteral("HH:mm:ss")), end),
                        this, [this, i] { makeProtocol(int(i)); });
    }
    if (holds.empty())
        menu->addAction(texts::kRecordNoHolds)->setEnabled(false);
    menu->addSeparator();
    const bool marked = m_markFromMs && m_markToMs && *m_markToMs > *m_markFromMs;
    QAction* action =
        menu->addAction(marked ? texts::kRecordMarkedHold.arg(formatSinceStart(*m_markFromMs),
                                                              formatSinceStart(*m_markToMs))
                               : texts::kRecordBadMark,
                        this, [this] { makeProtocol(-1); });
    action->setEnabled(marked && !makingProtocol());
}

bool RecordPanel::makeProtocol(int index)
{
    if (!shown() || makingProtocol())
        return false;
    record::HoldMark mark;
    mark.session = m_shown;
    auto pending = std::make_unique<Pending>();
    if (index >= 0) {
        if (std::size_t(index) >= foundHolds().size())
            return false;
        mark.startMs = foundHolds()[std::size_t(index)].startMs;
    } else {
        if (!m_markFromMs || !m_markToMs || *m_markToMs <= *m_markFromMs) {
            sayProtocol(texts::kRecordBadMark);
            return false;
        }
        QString why;
        std::optional<HoldSettings> settings = m_settings ? m_settings(&why) : HoldSettings();
        if (!settings) {
            sayProtocol(why);
            return false;
        }
        settings->durationMs = *m_markToMs - *m_markFromMs;
        mark.startMs = *m_markFromMs;
        mark.settings = settings;
        pending->settings = settings;
    }
    pending->history = history();
    pending->fileName = fileName();
    if (!m_judging.start(m_path, std::make_unique<record::HoldReplay>(mark)))
        return false;
    m_pending = std::move(pending);
    sayProtocol(texts::kRecordJudging);
    return true;
}

void RecordPanel::onJudged()
{
    RecordReader::Outcome outcome = m_judging.take();
    const std::unique_ptr<Pending> pending = std::move(m_pending);
    using Kind = RecordReader::Outcome::Kind;
    if (outcome.kind != Kind::Read) {
        sayProtocol(texts::kRecordNoProtocol.arg(pending->fileName, outcome.reason));
        emit protocolEnded();
        return;
    }
    const auto* replay = static_cast<const record::HoldReplay*>(outcome.consumer.get());
    if (!replay->judged()) {
        sayProtocol(texts::kRecordNoProtocol.arg(pending->fileName, replay->failure()));
        emit protocolEnded();
        return;
    }
    HoldReport report;
    report.settings = replay->settings();
    // The test pressure is never in the record: the field's, for a hold marked by the fields.
    if (pending->settings)
        report.settings.targetCenti = pending->settings->targetCenti;
    report.outcome = replay->outcome();
    report.localStart = replay->localStart();
    report.port = replay->port().isEmpty() ? texts::kRecordNoPort : replay->port();
    report.offset = replay->offset();
    report.separator = m_separator;
    // Made from the record afterwards: it is the one file the page stands on.
    report.afterwards = true;
    report.recordName = pending->fileName;
    report.program = m_program;
    report.history = std::move(pending->history);

    const QDir folder(m_folder);
    QString stem = protocolStem(report.localStart);
    for (int n = 2; QFileInfo::exists(folder.filePath(stem + QStringLiteral(".pdf"))); ++n)
        stem = protocolStem(report.localStart) + QStringLiteral("_%1").arg(n);
    const QString path = folder.filePath(stem + QStringLiteral(".pdf"));
    const QByteArray pdf = protocolPdf(report);
    m_writing = true;
    m_writer.start([this, path, pdf] {
        QSaveFile file(path);
        QString error;
        if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || !file.commit())
            error = russianReason(file.errorString());
        QMetaObject::invokeMethod(
            this,
            [this, path, error] {
                m_writing = false;
                if (error.isEmpty()) {
                    m_protocolPath = path;
                    sayProtocol(
                        texts::kRecordProtocolWritten.arg(QUrl::fromLocalFile(path).toString()));
                    protocolNote->setToolTip(QDir::toNativeSeparators(path));
                } else {
                    sayProtocol(texts::kRecordNoProtocol.arg(fileName(), error));
                }
                emit protocolEnded();
            },
            Qt::QueuedConnection);
    });
}

void RecordPanel::sayProtocol(const QString& text)
{
    protocolNote->setText(text);
    protocolNote->setVisible(shown());
}

} // namespace piezon
