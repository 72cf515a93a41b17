#include "window/session_window.h"

#include "chart/chart_drawing.h"
#include "chart/session_history.h"
#include "dial/program_fonts.h"
#include "gauge/gauge_session.h"
#include "hold/pressure_hold.h"
#include "version.h"
#include "window/caption_label.h"
#include "window/chart_view.h"
#include "window/form1.h"
#include "window/key_preview.h"
#include "window/record_panel.h"
#include "window/texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace piezon
{
namespace
{

// Readings may come 960 a second. A picture of the chart sends the display a few hundred KiB over
// the connection: on the development machine about 2 ms of a core and ten wake-ups. Two a second
// keep the open window near 1 % of a core at a busy line, and the trace still moves on by a few
// pixels at a time.
constexpr int kFrameMs = 500;
// Longer than a busy line's rest between batches (15 ms), so its batches draw, not the timer.
constexpr int kFrameSlackMs = 40;
// A silence or a lost line grows on the chart this often.
constexpr int kTickMs = 1000;
// «Весь сеанс» just after START: a second wide, not a point.
constexpr qint64 kLeastSpanMs = 1000;
constexpr int kGroupSpacing = 8;
constexpr int kVerdictPixels = 20;
const QColor kOverLimit(200, 0, 0);
const QColor kMarkedField(255, 205, 205);

QLabel* addLabel(QVBoxLayout* layout, QWidget* parent, const QFont& font,
                 const QString& text = QString())
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    // The panel's width is set once for its widest text: a new value never lays the window
    // out again.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    layout->addWidget(label);
    return label;
}

// Rows of a bold title and its value, side by side.
QGridLayout* titledRows()
{
    auto* rows = new QGridLayout;
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setHorizontalSpacing(6);
    rows->setVerticalSpacing(1);
    return rows;
}

QLabel* addTitledRow(QGridLayout* rows, QWidget* parent, int row, const QString& title)
{
    auto* name = new QLabel(title, parent);
    name->setFont(boldFont());
    rows->addWidget(name, row, 0);
    auto* value = new QLabel(parent);
    value->setFont(windowFont());
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    rows->addWidget(value, row, 1);
    return value;
}

} // namespace

SessionWindow::SessionWindow(Form1& form)
    : QWidget(nullptr), m_form(form), m_session(form.MSComm1()),
      m_separator(form.decimalSeparator())
{
    m_hold =
        new PressureHold(m_session, m_separator,
                         texts::kCaption + QLatin1Char(' ') + QLatin1String(PIEZON_VERSION), this);
    buildControls();

    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &SessionWindow::refresh);
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        refresh();
        updatePacing();
    });

    connect(&m_session, &GaugeSession::readingsChanged, this, &SessionWindow::onReadings);
    for (auto signal :
         {&GaugeSession::runningChanged, &GaugeSession::staleChanged, &GaugeSession::silentChanged})
        connect(&m_session, signal, this, &SessionWindow::onStateChanged);
    // A line lost while the reading is already stale changes nothing else the session says.
    connect(&m_session.port(), &GaugePort::lost, this, &SessionWindow::onStateChanged);
    connect(&m_session.port(), &GaugePort::opened, this, &SessionWindow::onStateChanged);

    connect(spanPicker, &QComboBox::currentIndexChanged, this, [this] {
        chart->pointAt(std::nullopt);
        refresh();
    });
    connect(scroller, &QScrollBar::valueChanged, this, &SessionWindow::onScrolled);
    connect(nowButton, &QPushButton::clicked, this, [this] {
        if (backToLive())
            return;
        m_follow = true;
        chart->pointAt(std::nullopt);
        refresh();
    });
    connect(fixedScale, &QCheckBox::toggled, this, &SessionWindow::refresh);
    connect(resetButton, &QPushButton::clicked, this, [this] {
        m_session.resetExtremes();
        chart->pointAt(std::nullopt);
        refresh();
    });

    connect(m_hold, &PressureHold::changed, this, &SessionWindow::onHoldChanged);
    connect(m_hold, &PressureHold::written, this, &SessionWindow::onHoldWritten);
    connect(holdButton, &QPushButton::clicked, this, &SessionWindow::toggleHold);
    connect(protocolButton, &QPushButton::clicked, this, &SessionWindow::openProtocol);
    for (QLineEdit* field : {durationField, dropField, floorField, targetField}) {
        // Marked until the operator changes it.
        connect(field, &QLineEdit::textEdited, field, [field] { field->setPalette(QPalette()); });
    }

    m_keys = new KeyPreview(this, [this](int key) { onKey(key); });
    connect(m_records, &RecordPanel::shownChanged, this, &SessionWindow::onRecordShown);
    connect(m_records, &RecordPanel::markChanged, this, &SessionWindow::refresh);
    connect(chart, &ChartView::spanDragged, m_records, &RecordPanel::markSpan);
    m_records->setHoldSettings([this](QString* why) { return recordHoldSettings(why); },
                               m_separator,
                               texts::kCaption + QLatin1Char(' ') + QLatin1String(PIEZON_VERSION));
    updateTitle();
    updateHold();
    // At first as much taller than its least as the chart needs to read well.
    resize(QSize(760, 420).expandedTo(minimumSizeHint() + QSize(0, 120)));
}

SessionWindow::~SessionWindow() = default;

void SessionWindow::buildControls()
{
    setWindowIcon(QIcon(QStringLiteral(":/piezon/icon.png")));
    setFont(windowFont());

    chart = new ChartView(this);
    chart->setObjectName(QStringLiteral("chart"));
    scroller = new QScrollBar(Qt::Horizontal, this);
    scroller->setObjectName(QStringLiteral("scroller"));

    auto* panel = new QWidget(this);
    auto* numbers = new QVBoxLayout(panel);
    numbers->setContentsMargins(0, 0, 0, 0);
    numbers->setSpacing(1);
    const QFont bold = boldFont();
    const QFont plain = windowFont();

    addLabel(numbers, panel, bold, texts::kCurrentTitle);
    reading = new CaptionLabel(m_session.pipeline().caption(), panel);
    reading->setObjectName(QStringLiteral("reading"));
    // Drawn as the main window's caption is: its box, font and colours.
    reading->setFont(readingFont());
    reading->setFixedSize(m_form.Label1->size());
    reading->setAlignment(m_form.Label1->alignment());
    reading->setAutoFillBackground(true);
    reading->setBackgroundRole(QPalette::Window);
    reading->setForegroundRole(QPalette::WindowText);
    reading->setPalette(m_form.Label1->palette());
    numbers->addWidget(reading);

    numbers->addSpacing(kGroupSpacing);
    addLabel(numbers, panel, bold, texts::kMaximumTitle);
    maximum = addLabel(numbers, panel, plain);
    maximumWhen = addLabel(numbers, panel, plain);
    numbers->addSpacing(kGroupSpacing);
    addLabel(numbers, panel, bold, texts::kMinimumTitle);
    minimum = addLabel(numbers, panel, plain);
    minimumWhen = addLabel(numbers, panel, plain);
    for (QLabel* label : {maximum, maximumWhen, minimum, minimumWhen}) {
        label->setToolTip(texts::kExtremeTip);
        label->installEventFilter(this);
    }
    numbers->addSpacing(kGroupSpacing);
    addLabel(numbers, panel, bold, texts::kSlopeTitle);
    slope = addLabel(numbers, panel, plain);
    numbers->addSpacing(kGroupSpacing);
    auto* totals = titledRows();
    const auto addTotal = [&](int row, const QString& title) {
        return addTitledRow(totals, panel, row, title);
    };
    duration = addTotal(0, texts::kDurationTitle);
    count = addTotal(1, texts::kCountTitle);
    totals->setColumnStretch(1, 1);
    numbers->addLayout(totals);
    numbers->addSpacing(kGroupSpacing);
    auto* grid = new QGridLayout(this);
    buildHoldControls(numbers, panel, grid);
    numbers->addStretch(1);
    status = addLabel(numbers, panel, bold);
    m_records =
        new RecordPanel(this, m_session.reporter(), QFileInfo(m_session.logPath()).absolutePath());
    numbers->addLayout(m_records->box);
    for (QLabel* label : panel->findChildren<QLabel*>())
        label->setFocusPolicy(Qt::NoFocus);

    // As wide as the widest thing it will ever say, in the fonts of this screen.
    const QFontMetrics plainMetrics(plain);
    const QFontMetrics boldMetrics(bold);
    const QString time = QStringLiteral("00:00:00");
    int width = std::max({
        boldMetrics.horizontalAdvance(texts::kReconnecting),
        plainMetrics.horizontalAdvance(texts::kExtremeWhen.arg(time, time)),
        plainMetrics.horizontalAdvance(formatSlope(-10.0, m_separator)),
        boldMetrics.horizontalAdvance(texts::kDurationTitle) + 6 +
            plainMetrics.horizontalAdvance(QStringLiteral("0000:00:00")),
        boldMetrics.horizontalAdvance(texts::kCountTitle) + 6 +
            plainMetrics.horizontalAdvance(QStringLiteral("000000000")),
        QFontMetrics(holdVerdict->font()).horizontalAdvance(holdVerdictText(HoldVerdict::NotHeld)),
        boldMetrics.horizontalAdvance(texts::kHoldLowestTitle) + 6 +
            plainMetrics.horizontalAdvance(QStringLiteral("-00,00 ") + texts::kPressureUnit),
    });
    panel->setFixedWidth(width + plainMetrics.averageCharWidth());

    spanPicker = new QComboBox(this);
    spanPicker->setObjectName(QStringLiteral("spanPicker"));
    for (const int minutes : texts::kSpanMinutes)
        spanPicker->addItem(texts::spanText(minutes), minutes);
    spanPicker->setCurrentIndex(0);
    auto* spanLabel = new QLabel(texts::kSpanLabel, this);
    spanLabel->setBuddy(spanPicker);

    nowButton = new QPushButton(texts::kNow, this);
    nowButton->setObjectName(QStringLiteral("nowButton"));
    nowButton->setToolTip(texts::kNowTip);
    fixedScale = new QCheckBox(texts::kFixedScale, this);
    fixedScale->setObjectName(QStringLiteral("fixedScale"));
    resetButton = new QPushButton(texts::kResetExtremes, this);
    resetButton->setObjectName(QStringLiteral("resetButton"));
    resetButton->setToolTip(texts::kResetTip);
    // Enter belongs to no button here: in this window it must do nothing at all.
    for (QPushButton* button : {nowButton, resetButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    auto* controls = new QHBoxLayout;
    controls->addWidget(spanLabel);
    controls->addWidget(spanPicker);
    controls->addWidget(nowButton);
    controls->addWidget(m_records->openButton);
    controls->addStretch(1);
    controls->addWidget(fixedScale);
    controls->addWidget(resetButton);

    grid->addWidget(chart, 0, 0);
    grid->addWidget(scroller, 1, 0);
    grid->addWidget(panel, 0, 1, 2, 1);
    grid->addLayout(controls, 2, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(0, 1);

    setTabOrder(chart, durationField);
    setTabOrder(durationField, dropField);
    setTabOrder(dropField, floorField);
    setTabOrder(floorField, targetField);
    setTabOrder(targetField, holdButton);
    setTabOrder(holdButton, protocolButton);
    setTabOrder(protocolButton, spanPicker);
    setTabOrder(spanPicker, nowButton);
    setTabOrder(nowButton, fixedScale);
    setTabOrder(fixedScale, resetButton);
    setTabOrder(resetButton, scroller);
    setTabOrder(nowButton, m_records->openButton);
    setTabOrder(m_records->openButton, m_records->sessionPicker);
    setTabOrder(m_records->sessionPicker, m_records->cancelButton);

    // As small as its controls let it be, never smaller: the hold's numbers and settings need
    // their room beside and below the chart.
    grid->setSizeConstraint(QLayout::SetMinimumSize);
}

void SessionWindow::present()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    chart->setFocus(Qt::OtherFocusReason);
}

void SessionWindow::onKey(int key)
{
    // With a record shown, F7 and F8 first bring the live session back.
    if ((key == Qt::Key_F7 || key == Qt::Key_F8) && backToLive())
        return;
    switch (key) {
    case Qt::Key_F1:
    case Qt::Key_F2:
    case Qt::Key_F3:
    case Qt::Key_F5:
    case Qt::Key_F6:
        m_form.Form_KeyDown(key);
        break;
    case Qt::Key_F8:
        toggleHold();
        break;
    case Qt::Key_F7:
        if (m_form.isMinimized())
            m_form.showNormal();
        m_form.raise();
        m_form.activateWindow();
        break;
    default:
        // Enter above all: the main window starts on it, this one never does.
        break;
    }
}

void SessionWindow::onReadings()
{
    // They go on into the session, and are seen when it is shown again.
    if (m_records->shown())
        return;
    if (!isVisible())
        return;
    // Drawn in the wake-up that brought the readings, once a frame's time has passed since the
    // last picture: a busy line's next batch comes within 15 ms, so the timer, set a little
    // later than that, only draws the last readings before a pause and never wakes the program
    // on its own while readings come.
    const qint64 since = m_sincePicture.isValid() ? m_sincePicture.elapsed() : kFrameMs;
    if (since >= kFrameMs) {
        refresh();
        return;
    }
    if (!m_frame.isActive())
        m_frame.start(int(kFrameMs - since) + kFrameSlackMs);
}

void SessionWindow::onStateChanged()
{
    updateTitle();
    if (!isVisible())
        return;
    refresh();
    updatePacing();
}

void SessionWindow::updatePacing()
{
    // The readings draw the chart while they come; only a silence or a lost line has no
    // reading to move it on.
    // A hold's time left counts down whether or not readings come.
    const bool waiting = (m_session.isRunning() && !m_session.isOpening() &&
                          (m_session.isSilent() || m_session.isReconnecting())) ||
                         m_hold->running();
    if (isVisible() && waiting) {
        if (!m_tick.isActive())
            m_tick.start();
    } else {
        m_tick.stop();
    }
}

void SessionWindow::updateTitle()
{
    if (m_records->shown()) {
        setWindowTitle(texts::kChartCaption + QStringLiteral(" — ") + m_records->fileName());
        return;
    }
    setWindowTitle(m_session.isSilent() ? texts::kSilentChartCaption : texts::kChartCaption);
}

qint64 SessionWindow::spanMs() const
{
    return qint64(spanPicker->currentData().toInt()) * 60 * 1000;
}

qint64 SessionWindow::rightEdgeMs() const
{
    const SessionHistory& history = shownHistory();
    const qint64 last = history.lastReadingMs();
    if (!m_records->shown() && m_session.isRunning() && !m_session.isOpening())
        return std::max(m_session.sessionMs(), last);
    if (last >= 0)
        return last;
    // A session that ended without a reading ends where its last event is.
    return history.marks().empty() ? 0 : history.marks().back().ms;
}

void SessionWindow::refresh()
{
    m_frame.stop();
    m_sincePicture.start();
    ++m_pictures;
    const qint64 right = rightEdgeMs();
    updateView(right);
    updateNumbers(right);
    updateHold();
}

void SessionWindow::updateView(qint64 right)
{
    ChartScene scene;
    scene.history = &shownHistory();
    scene.nowMs = right;
    scene.fixedScale = fixedScale->isChecked();
    scene.separator = m_separator;
    if (!m_records->shown() && m_hold->onCurrentHistory()) {
        const HoldOutcome& hold = m_hold->outcome();
        scene.hold = HoldBand{hold.startMs, hold.ended() ? hold.endMs : hold.plannedEndMs,
                              hold.startCenti - m_hold->settings().allowedDropCenti};
    }
    if (m_records->shown())
        scene.hold = m_records->band();
    const qint64 span = spanMs();
    const QSignalBlocker quiet(scroller);
    if (span == 0) {
        scene.fromMs = 0;
        scene.toMs = std::max(right, kLeastSpanMs);
        // The whole session, the hold's planned end included: how far it has come is seen.
        if (m_hold->running() && scene.hold)
            scene.toMs = std::max(scene.toMs, scene.hold->toMs);
        scroller->setRange(0, 0);
        scroller->setEnabled(false);
    } else {
        const qint64 latest = std::max<qint64>(0, right - span);
        if (m_follow)
            m_fromMs = latest;
        m_fromMs = std::clamp<qint64>(m_fromMs, 0, latest);
        scene.fromMs = m_fromMs;
        scene.toMs = m_fromMs + span;
        // In whole seconds: a day's session is 86 400 steps.
        const int last = int((latest + 999) / 1000);
        scroller->setRange(0, last);
        scroller->setPageStep(int(span / 1000));
        scroller->setSingleStep(std::max(1, int(span / 10000)));
        scroller->setValue(m_follow ? last : int(m_fromMs / 1000));
        scroller->setEnabled(last > 0);
    }
    chart->setScene(scene);
}

void SessionWindow::onScrolled(int value)
{
    m_follow = value >= scroller->maximum();
    m_fromMs = qint64(value) * 1000;
    refresh();
}

void SessionWindow::showMoment(qint64 ms)
{
    const qint64 span = spanMs();
    if (span > 0) {
        m_follow = false;
        m_fromMs = std::max<qint64>(0, ms - span / 2);
    }
    chart->pointAt(ms);
    refresh();
}

void SessionWindow::updateNumbers(qint64 right)
{
    // A record's last reading, never live.
    const bool record = m_records->shown();
    const std::optional<int> last = record ? shownHistory().latest() : std::nullopt;
    reading->setText(!record ? m_session.pipeline().caption()
                     : last  ? formatCenti(*last, m_separator)
                             : texts::kNoValue);
    const QColor colour = m_form.captionColour(!record && !m_session.isStale());
    if (reading->palette().color(QPalette::WindowText) != colour) {
        QPalette pal = reading->palette();
        pal.setColor(QPalette::WindowText, colour);
        reading->setPalette(pal);
    }

    const SessionHistory& history = shownHistory();
    if (!history.started()) {
        for (QLabel* label : {maximum, minimum, slope, duration, count})
            label->setText(texts::kNoValue);
        for (QLabel* label : {maximumWhen, minimumWhen, status})
            label->clear();
        return;
    }
    showExtreme(maximum, maximumWhen, history.maximum());
    showExtreme(minimum, minimumWhen, history.minimum());
    slope->setText(formatSlope(history.slopePerMinute(right), m_separator));
    // A finished session lasted until its STOP, which may be long after its last reading.
    qint64 end = right;
    const std::vector<HistoryMark>& marks = history.marks();
    if ((record || !m_session.isRunning() || m_session.isOpening()) && !marks.empty() &&
        marks.back().kind == HistoryEvent::Stop)
        end = std::max(end, marks.back().ms);
    duration->setText(formatSinceStart(end));
    count->setText(QString::number(history.readingCount()));
    if (record)
        status->setText(texts::kRecordShown);
    else if (m_session.isReconnecting())
        status->setText(texts::kReconnecting);
    else if (m_session.isSilent())
        status->setText(texts::kSilentStatus);
    else if (m_session.isRunning())
        status->setText(texts::kRunning);
    else
        status->setText(texts::kFinished);
}

void SessionWindow::showExtreme(QLabel* value, QLabel* when, const std::optional<Extreme>& extreme)
{
    if (!extreme) {
        value->setText(texts::kNoValue);
        when->clear();
        return;
    }
    const QDateTime local = shownHistory().localStart().addMSecs(extreme->ms);
    value->setText(formatCenti(extreme->centi, m_separator) + QLatin1Char(' ') +
                   texts::kPressureUnit);
    when->setText(texts::kExtremeWhen.arg(local.toString(QStringLiteral("HH:mm:ss")),
                                          formatSinceStart(extreme->ms)));
}

void SessionWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateTitle();
    refresh();
    updatePacing();
}

void SessionWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_frame.stop();
    m_tick.stop();
}

bool SessionWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        const SessionHistory& history = shownHistory();
        std::optional<Extreme> extreme;
        if (watched == maximum || watched == maximumWhen)
            extreme = history.maximum();
        else if (watched == minimum || watched == minimumWhen)
            extreme = history.minimum();
        if (extreme) {
            showMoment(extreme->ms);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace piezon

namespace piezon
{

void SessionWindow::buildHoldControls(QVBoxLayout* numbers, QWidget* panel, QGridLayout* grid)
{
    const QFont bold = boldFont();
    const QFont plain = windowFont();

    // Beside the chart: how the hold is going, and its verdict, large.
    addLabel(numbers, panel, bold, texts::kHoldTitle);
    auto* rows = titledRows();
    const auto addRow = [&](int row, const QString& title) {
        return addTitledRow(rows, panel, row, title);
    };
    holdLeft = addRow(0, texts::kHoldLeftTitle);
    holdStart = addRow(1, texts::kHoldStartTitle);
    holdDrop = addRow(2, texts::kHoldDropTitle);
    holdLowest = addRow(3, texts::kHoldLowestTitle);
    holdDrop->setObjectName(QStringLiteral("holdDrop"));
    rows->setColumnStretch(1, 1);
    numbers->addLayout(rows);
    QFont large = boldFont();
    large.setPixelSize(kVerdictPixels);
    holdVerdict = addLabel(numbers, panel, large);
    holdVerdict->setObjectName(QStringLiteral("holdVerdict"));

    // Below the chart's own controls: the settings, F8's button, the protocol.
    auto* settings = new QGridLayout;
    const QFontMetrics metrics(plain);
    const auto addField = [&](int row, int column, const QString& title, const QString& text,
                              const char* name) {
        auto* field = new QLineEdit(text, this);
        field->setObjectName(QLatin1String(name));
        field->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("00:00:00")) * 2);
        auto* label = new QLabel(title, this);
        label->setBuddy(field);
        settings->addWidget(label, row, column);
        settings->addWidget(field, row, column + 1);
        return field;
    };
    durationField = addField(0, 0, texts::kHoldDuration, texts::kHoldDefaultDuration, "duration");
    dropField = addField(0, 2, texts::kHoldDrop, texts::kHoldDefaultDrop, "allowedDrop");
    floorField = addField(1, 0, texts::kHoldFloor, QString(), "floor");
    targetField = addField(1, 2, texts::kHoldTarget, QString(), "target");
    holdButton = new QPushButton(texts::kHoldBegin, this);
    holdButton->setObjectName(QStringLiteral("holdButton"));
    holdButton->setMinimumWidth(
        QFontMetrics(holdButton->font()).horizontalAdvance(texts::kHoldBegin) +
        metrics.averageCharWidth() * 4);
    protocolButton = new QPushButton(texts::kOpenProtocol, this);
    protocolButton->setObjectName(QStringLiteral("protocolButton"));
    protocolButton->setEnabled(false);
    for (QPushButton* button : {holdButton, protocolButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    settings->addWidget(holdButton, 0, 4);
    settings->addWidget(protocolButton, 1, 4);
    settings->setColumnStretch(5, 1);
    holdMessage = new QLabel(this);
    holdMessage->setObjectName(QStringLiteral("holdMessage"));
    holdMessage->setWordWrap(true);
    holdMessage->setFocusPolicy(Qt::NoFocus);
    settings->addWidget(holdMessage, 2, 0, 1, 6);
    grid->addLayout(settings, 3, 0, 1, 2);
}

void SessionWindow::toggleHold()
{
    if (m_hold->running()) {
        m_hold->endByOperator();
        return;
    }
    HoldSettings settings;
    QStringList problems;
    const auto mark = [&](QLineEdit* field, const QString& why) {
        QPalette pal = field->palette();
        pal.setColor(QPalette::Base, kMarkedField);
        field->setPalette(pal);
        problems << why;
    };
    for (QLineEdit* field : {durationField, dropField, floorField, targetField})
        field->setPalette(QPalette());
    if (const std::optional<qint64> ms = parseHoldDuration(durationField->text()))
        settings.durationMs = *ms;
    else
        mark(durationField, texts::kBadDuration);
    const std::optional<int> drop = parseHundredths(dropField->text());
    if (drop && *drop >= HoldSettings::kLeastDropCenti)
        settings.allowedDropCenti = *drop;
    else
        mark(dropField, texts::kBadDrop);
    const auto optional = [&](QLineEdit* field, std::optional<int>& into, const QString& why) {
        if (field->text().trimmed().isEmpty())
            return;
        if (const std::optional<int> value = parseHundredths(field->text()))
            into = *value;
        else
            mark(field, why);
    };
    optional(floorField, settings.floorCenti, texts::kBadFloor);
    optional(targetField, settings.targetCenti, texts::kBadTarget);
    if (!problems.isEmpty()) {
        holdMessage->setText(problems.join(QLatin1Char(' ')));
        return;
    }

    switch (m_hold->begin(settings)) {
    case PressureHold::Refusal::NoSession:
        holdMessage->setText(texts::kHoldNoSession);
        return;
    case PressureHold::Refusal::LineLost:
        holdMessage->setText(texts::kHoldLineLost);
        return;
    case PressureHold::Refusal::NotLive:
        holdMessage->setText(texts::kHoldNotLive);
        return;
    case PressureHold::Refusal::None:
        break;
    }
    if (!m_hold->begun() || m_hold->outcome().ended())
        return;
    // Below the norm's pressure the test may still be what the operator means: said, not
    // refused.
    const int start = m_hold->outcome().startCenti;
    if (settings.targetCenti && start < *settings.targetCenti)
        holdMessage->setText(texts::kHoldBelowTarget.arg(
            formatCenti(start, m_separator), formatCenti(*settings.targetCenti, m_separator),
            texts::kPressureUnit));
    else
        holdMessage->clear();
}

void SessionWindow::updateHold()
{
    const bool running = m_hold->running();
    holdButton->setText(running ? texts::kHoldEnd : texts::kHoldBegin);
    holdButton->setToolTip(running ? texts::kHoldEndTip : texts::kHoldBeginTip);
    // The settings of a hold under way are its own.
    for (QLineEdit* field : {durationField, dropField, floorField, targetField})
        field->setReadOnly(running);
    protocolButton->setEnabled(!m_hold->protocolPath().isEmpty() && !m_hold->writing());
    if (!m_hold->begun()) {
        for (QLabel* label : {holdLeft, holdStart, holdDrop, holdLowest})
            label->setText(texts::kNoValue);
        holdVerdict->clear();
        return;
    }
    const HoldOutcome& hold = m_hold->outcome();
    const auto pressure = [this](int centi) {
        return formatCenti(centi, m_separator) + QLatin1Char(' ') + texts::kPressureUnit;
    };
    if (running) {
        const qint64 left = std::max<qint64>(0, hold.plannedEndMs - m_session.sessionMs());
        holdLeft->setText(formatHoldDuration((left + 999) / 1000 * 1000));
    } else {
        holdLeft->setText(texts::kNoValue);
    }
    holdStart->setText(pressure(hold.startCenti));
    holdDrop->setText(pressure(hold.dropCenti));
    holdLowest->setText(pressure(hold.minCenti));
    const bool over = hold.dropCenti > m_hold->settings().allowedDropCenti;
    QPalette pal = holdDrop->palette();
    pal.setColor(QPalette::WindowText, over ? kOverLimit : palette().color(QPalette::WindowText));
    holdDrop->setPalette(pal);

    holdVerdict->setText(running ? texts::kHoldRunning : holdVerdictText(hold.verdict));
    QColor colour = palette().color(QPalette::WindowText);
    if (hold.verdict == HoldVerdict::Held)
        colour = QColor(0, 130, 0);
    else if (hold.verdict == HoldVerdict::NotHeld)
        colour = kOverLimit;
    else if (hold.verdict == HoldVerdict::Aborted)
        colour = QColor(180, 95, 0);
    pal = holdVerdict->palette();
    pal.setColor(QPalette::WindowText, colour);
    holdVerdict->setPalette(pal);
}

void SessionWindow::onHoldChanged()
{
    onStateChanged();
    updateHold();
    if (!m_hold->begun() || !m_hold->outcome().ended())
        return;
    const HoldOutcome& hold = m_hold->outcome();
    const QString reason = holdReasonText(hold, m_hold->settings(), m_separator);
    m_holdReason = reason.isEmpty() ? QString()
                                    : texts::kHoldReason.arg(holdVerdictText(hold.verdict), reason);
    QString text = m_holdReason;
    if (hold.cause == HoldCause::ProgramClosed)
        text += QLatin1Char(' ') + texts::kHoldClosedNoProtocol;
    else if (m_hold->writing())
        text += QLatin1Char(' ') + texts::kHoldWriting;
    holdMessage->setText(text.trimmed());
}

void SessionWindow::onHoldWritten(const QString& path, const QString& error)
{
    updateHold();
    const QString said =
        error.isEmpty() ? texts::kHoldWritten.arg(QFileInfo(path).fileName()) : error;
    holdMessage->setText((m_holdReason + QLatin1Char(' ') + said).trimmed());
}

void SessionWindow::openProtocol()
{
    const QString path = m_hold->protocolPath();
    if (path.isEmpty())
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        holdMessage->setText(texts::kNoPdfViewer);
}

} // namespace piezon

namespace piezon
{

const SessionHistory& SessionWindow::shownHistory() const
{
    return m_records->shown() ? m_records->history() : m_session.history();
}

bool SessionWindow::backToLive()
{
    if (!m_records->shown())
        return false;
    m_records->close();
    return true;
}

void SessionWindow::onRecordShown()
{
    // A session comes on screen whole, from its end, nothing pointed out; the live one as the
    // operator left it.
    m_follow = true;
    chart->pointAt(std::nullopt);
    if (m_records->shown()) {
        const QSignalBlocker quiet(spanPicker);
        spanPicker->setCurrentIndex(0);
    }
    updateTitle();
    refresh();
    updatePacing();
}

std::optional<HoldSettings> SessionWindow::recordHoldSettings(QString* why) const
{
    HoldSettings settings;
    const std::optional<int> drop = parseHundredths(dropField->text());
    if (!drop || *drop < HoldSettings::kLeastDropCenti) {
        *why = texts::kBadDrop;
        return std::nullopt;
    }
    settings.allowedDropCenti = *drop;
    const auto optional = [&](QLineEdit* field, std::optional<int>& into, const QString& bad) {
        if (field->text().trimmed().isEmpty())
            return true;
        into = parseHundredths(field->text());
        if (!into)
            *why = bad;
        return into.has_value();
    };
    if (!optional(floorField, settings.floorCenti, texts::kBadFloor) ||
        !optional(targetField, settings.targetCenti, texts::kBadTarget))
        return std::nullopt;
    return settings;
}

} // namespace piezon
