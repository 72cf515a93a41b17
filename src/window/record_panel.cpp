#include "window/record_panel.h"

#include "gauge/error_reporter.h"
#include "window/texts.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace piezon
{
namespace
{

constexpr int kProgressPollMs = 100;

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
    for (QWidget* w : {static_cast<QWidget*>(sessionPicker), static_cast<QWidget*>(progress),
                       static_cast<QWidget*>(cancelButton)})
        w->hide();

    box = new QVBoxLayout;
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(sessionPicker);
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
}

RecordPanel::~RecordPanel() = default;

void RecordPanel::choose(const QString& folder)
{
    if (reading())
        return;
    // The live session goes on while the dialog is open: its readings are taken in the dialog's
    // own loop.
    const QString path = QFileDialog::getOpenFileName(m_window, texts::kOpenRecordTitle, folder,
                                                      texts::kRecordFilter);
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
    sessionPicker->show();
    emit readingEnded();
    pick(m_sessions->preferred());
}

void RecordPanel::pick(int index)
{
    if (!m_sessions || index < 0 || index >= int(m_sessions->sessions().size()))
        return;
    m_shown = index;
    const QSignalBlocker quiet(sessionPicker);
    sessionPicker->setCurrentIndex(index);
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
    sessionPicker->hide();
    sessionPicker->clear();
    emit shownChanged();
}

} // namespace piezon
