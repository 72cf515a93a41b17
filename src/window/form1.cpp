#include "window/form1.h"

#include "dial/dial_face.h"
#include "dial/hub_shape.h"
#include "dial/needle_view.h"
#include "dial/program_fonts.h"
#include "dial/twips.h"
#include "gauge/gauge_session.h"
#include "window/caption_label.h"
#include "window/display_refresh.h"
#include "window/key_preview.h"
#include "window/message_box_reporter.h"
#include "window/process_setup.h"
#include "window/session_window.h"
#include "window/texts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace piezon
{
namespace
{

// The session window's keys start and stop the gauge as the main window's do: a message goes
// over whichever of the two the operator is at, not behind it.
class FrontWindowReporter : public ErrorReporter
{
public:
    explicit FrontWindowReporter(QWidget* main) : m_main(main) {}
    void addWindow(QWidget* window)
    {
        m_other = window;
        m_otherBoxes = std::make_unique<MessageBoxReporter>(window);
    }

    void report(const QString& message) override { front().report(message); }
    bool reportWithRetry(const QString& message) override
    {
        return front().reportWithRetry(message);
    }
    void showNotice(const QString& message) override
    {
        ErrorReporter& to = front();
        clearNotice();
        to.showNotice(message);
    }
    void clearNotice() override
    {
        m_main.clearNotice();
        if (m_otherBoxes)
            m_otherBoxes->clearNotice();
    }

private:
    ErrorReporter& front()
    {
        if (m_otherBoxes && m_other->isActiveWindow())
            return *m_otherBoxes;
        return m_main;
    }

    MessageBoxReporter m_main;
    QWidget* m_other = nullptr;
    std::unique_ptr<MessageBoxReporter> m_otherBoxes;
};

} // namespace

Form1::Form1(Environment env, QWidget* parent)
    : QWidget(parent), m_separator(captionSeparator(env.locale))
{
    ErrorReporter* reporter = env.reporter;
    FrontWindowReporter* ownReporter = nullptr;
    if (!reporter) {
        auto own = std::make_unique<FrontWindowReporter>(this);
        ownReporter = own.get();
        m_ownReporter = std::move(own);
        reporter = ownReporter;
    }

    buildControls();

    m_session = new GaugeSession(env.programDir, reporter, m_separator, env.naming, this);
    // The session is told what the pickers show, as it changes.
    connect(Combo1, &QComboBox::currentTextChanged, m_session, &GaugeSession::setOffsetText);
    connect(Check1, &QCheckBox::toggled, m_session, &GaugeSession::setLogMode);
    m_session->setOffsetText(Combo1->currentText());
    m_session->setLogMode(Check1->isChecked());
    m_refresh = new DisplayRefresh([this] { showLatestReading(); }, this);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(m_session, &GaugeSession::runningChanged, this, [this](bool running) {
        Combo2->setEnabled(!running);
        // The session's pictures and buffers were freed all through the heap; between sessions
        // nothing is read, so the pages go back to the system now.
        if (!running)
            process::releaseFreeMemory();
    });
    connect(m_session, &GaugeSession::readingsChanged, m_refresh, &DisplayRefresh::request);
    // Grey at once when the line goes; live again with the picture of the first new reading.
    connect(m_session, &GaugeSession::staleChanged, this, [this](bool stale) {
        if (stale)
            showLive(false);
    });
    // Said in the title too: the taskbar shows it while the window is behind others.
    connect(m_session, &GaugeSession::silentChanged, this, [this](bool silent) {
        setWindowTitle(silent ? texts::kSilentCaption : texts::kCaption);
    });

    m_keys = new KeyPreview(this, [this](int key) { Form_KeyDown(key); });
    Form_Load();
    m_frontReporter = ownReporter;
}

SessionWindow& Form1::sessionWindow()
{
    // Made at the first F7: most sessions never open it, and it costs memory from the start
    // (its widgets, the fonts they load). The session's history is kept without it.
    if (!m_sessionWindow) {
        m_sessionWindow = std::make_unique<SessionWindow>(*this);
        if (m_frontReporter)
            static_cast<FrontWindowReporter*>(m_frontReporter)->addWindow(m_sessionWindow.get());
    }
    return *m_sessionWindow;
}

Form1::~Form1()
{
    m_session->release();
}

void Form1::buildControls()
{
    setWindowTitle(texts::kCaption);
    setWindowIcon(QIcon(QStringLiteral(":/piezon/icon.png")));
    setFont(windowFont());
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFixedSize(twipsRect(0, 0, 5640, 4095).size());

    // Created back to front: a later sibling is drawn over an earlier one.
    Image1 = new DialFace(this);
    Image1->setGeometry(twipsRect(240, 240, 3600, 3600));

    Label1 = new CaptionLabel(QStringLiteral("0.00"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(1680, 2880, 975, 375));
    // Fixed, so that a new caption does not ask the window to lay itself out again.
    Label1->setFixedSize(Label1->size());
    Label1->setFont(readingFont());
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label1->setAutoFillBackground(true);
    Label1->setBackgroundRole(QPalette::Window);
    Label1->setForegroundRole(QPalette::WindowText);
    {
        QPalette pal = Label1->palette();
        pal.setColor(QPalette::Window, pal.color(QPalette::WindowText));
        pal.setColor(QPalette::WindowText, pal.color(QPalette::HighlightedText));
        Label1->setPalette(pal);
        m_liveCaption = pal.color(QPalette::WindowText);
    }

    Label2 = new QLabel(texts::kComLabel, this);
    Label2->setGeometry(twipsRect(3950, 425, 675, 255));
    Label2->setFont(boldFont());
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label2->setToolTip(texts::kComboPortTip);

    Label3 = new QLabel(texts::kOffsetLabel, this);
    Label3->setGeometry(twipsRect(4200, 3240, 1215, 255));
    Label3->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label3->setToolTip(texts::kComboOffsetTip);

    for (QLabel* label : {Label2, Label3}) {
        label->setBackgroundRole(QPalette::Base);
        label->setAutoFillBackground(true);
    }

    Line1 = new NeedleView(this);
    Line1->setGeometry(Image1->geometry());

    Shape1 = new HubShape(this);
    Shape1->setGeometry(twipsRect(1560, 1800, 975, 495));

    Command1 = new QPushButton(texts::kStart, this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(4200, 1200, 1215, 495));
    Command1->setToolTip(texts::kStartTip);

    Command2 = new QPushButton(texts::kStop, this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(twipsRect(4200, 2280, 1215, 495));
    Command2->setToolTip(texts::kStopTip);

    for (QPushButton* button : {Command1, Command2}) {
        button->setFont(boldFont());
        QPalette pal = button->palette();
        pal.setColor(QPalette::Button, pal.color(QPalette::Base));
        button->setPalette(pal);
    }
    Command1->setDefault(true);

    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setGeometry(twipsRect(4360, 3480, 900, 315));
    Combo1->addItems(texts::offsetItems());
    Combo1->setToolTip(texts::kComboOffsetTip);

    Combo2 = new QComboBox(this);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Combo2->setGeometry(twipsRect(4650, 360, 765, 315));
    Combo2->addItems(texts::portItems());
    Combo2->setToolTip(texts::kComboPortTip);

    for (QComboBox* combo : {Combo1, Combo2}) {
        combo->setEditable(false);
        combo->setCurrentIndex(-1); // no text until the load step sets it
    }

    Check1 = new QCheckBox(this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(twipsRect(4730, 1870, 255, 255));
    Check1->setToolTip(texts::kCheckTip);
    Check1->setBackgroundRole(QPalette::Base);
    Check1->setAutoFillBackground(true);
    // Every reading is logged unless the operator asks for changes only.
    Check1->setChecked(true);

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Combo1);
    setTabOrder(Combo1, Combo2);
    setTabOrder(Combo2, Check1);
    for (QLabel* label : {Label1, Label2, Label3})
        label->setFocusPolicy(Qt::NoFocus);
}

void Form1::Form_Load()
{
    m_session->applyStartupSettings();
    Combo1->setCurrentText(texts::kStartupOffset);
    Combo2->setCurrentText(texts::kStartupPort);
    Command1->setFocus(Qt::OtherFocusReason);
}

void Form1::Form_KeyDown(int key)
{
    switch (key) {
    case Qt::Key_F1:
        Command1_Click();
        break;
    case Qt::Key_F2:
        Command2_Click();
        break;
    case Qt::Key_F3:
        endProgram();
        break;
    case Qt::Key_F5:
        Check1->setChecked(true);
        break;
    case Qt::Key_F6:
        Check1->setChecked(false);
        break;
    case Qt::Key_F7:
        showSessionWindow();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Command1 is the default button: Enter starts, unless a button has the focus (СТАРТ
        // answers Enter itself; СТОП takes it as its own click).
        if (focusWidget() == Command2)
            Command2_Click();
        else if (focusWidget() != Command1)
            Command1_Click();
        break;
    default:
        break;
    }
}

void Form1::Command1_Click()
{
    m_session->start(Combo2->currentText());
}

void Form1::Command2_Click()
{
    m_session->stop();
}

void Form1::MSComm1_OnComm(const QByteArray& received)
{
    m_session->processReceived(received);
}

void Form1::endProgram()
{
    if (m_ended)
        return;
    m_ended = true;
    m_session->release();
    if (m_sessionWindow)
        m_sessionWindow->close();
    close();
    emit programEnded();
}

void Form1::flushDisplay()
{
    m_refresh->flush();
}

void Form1::showSessionWindow()
{
    sessionWindow().present();
}

QColor Form1::captionColour(bool live) const
{
    return live ? m_liveCaption : QColor(128, 128, 128);
}

void Form1::showLatestReading()
{
    Label1->setText(m_session->pipeline().caption());
    Line1->setLine(m_session->pipeline().needle());
    showLive(!m_session->isStale());
}

void Form1::showLive(bool live)
{
    const QColor caption = captionColour(live);
    if (Label1->palette().color(QPalette::WindowText) != caption) {
        QPalette pal = Label1->palette();
        pal.setColor(QPalette::WindowText, caption);
        Label1->setPalette(pal);
    }
    Line1->setColor(live ? NeedleView::liveColor() : NeedleView::staleColor());
}

void Form1::closeEvent(QCloseEvent* event)
{
    m_session->release();
    if (m_sessionWindow)
        m_sessionWindow->close();
    if (!m_ended) {
        m_ended = true;
        emit programEnded();
    }
    event->accept();
}

} // namespace piezon
