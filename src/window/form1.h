#pragma once

#include <QColor>
#include <QLocale>
#include <QString>
#include <QWidget>

#include "gauge/port_mapping.h"

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace piezon
{

class DialFace;
class DisplayRefresh;
class ErrorReporter;
class GaugeSession;
class HubShape;
class KeyPreview;
class NeedleView;
class SessionWindow;

// The program's one window. It lays out the controls and connects them to the gauge session;
// the work itself happens in the session, the reading chain and the log.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    struct Environment {
        QString programDir;                // where COMn entries and the log live
        ErrorReporter* reporter = nullptr; // null: message boxes
        QLocale locale = QLocale::system();
        PortNaming naming; // unset: this machine's
    };

    explicit Form1(Environment env, QWidget* parent = nullptr);
    ~Form1() override;

    // The controls, named as the operators' manuals and the log's users know them.
    QPushButton* Command1 = nullptr; // СТАРТ
    QPushButton* Command2 = nullptr; // СТОП
    QComboBox* Combo1 = nullptr;     // offset
    QComboBox* Combo2 = nullptr;     // port number
    QCheckBox* Check1 = nullptr;     // log every reading (checked) or only changes
    QLabel* Label1 = nullptr;        // the reading
    QLabel* Label2 = nullptr;        // "COM"
    QLabel* Label3 = nullptr;        // "Погрешность"
    NeedleView* Line1 = nullptr;
    HubShape* Shape1 = nullptr;
    DialFace* Image1 = nullptr;

    GaugeSession& MSComm1() { return *m_session; }

    void Form_Load();
    void Form_KeyDown(int key);
    void Command1_Click(); // START
    void Command2_Click(); // STOP
    // Bytes from the port; also how tests drive the window without one.
    void MSComm1_OnComm(const QByteArray& received);
    // F3, or the window closed: ends at once, no STOP to the gauge, log kept.
    void endProgram();

    // Puts the latest reading on screen now instead of at the next frame.
    void flushDisplay();

    // The session's chart and numbers, in a window of their own (F7), made when first asked for.
    SessionWindow& sessionWindow();
    void showSessionWindow();
    // The caption's decimal separator, and its colour when live or stale.
    QChar decimalSeparator() const { return m_separator; }
    QColor captionColour(bool live) const;

signals:
    void programEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void showLatestReading();
    // Live: the caption white and the needle red; not live: grey and dark red.
    void showLive(bool live);

    std::unique_ptr<ErrorReporter> m_ownReporter;
    std::unique_ptr<SessionWindow> m_sessionWindow;
    ErrorReporter* m_frontReporter = nullptr; // ours: it also shows boxes over the session window
    GaugeSession* m_session = nullptr;
    DisplayRefresh* m_refresh = nullptr;
    KeyPreview* m_keys = nullptr;
    bool m_ended = false;
    QColor m_liveCaption;
    QChar m_separator;
};

} // namespace piezon
