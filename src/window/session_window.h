#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <optional>

class QCheckBox;
class QGridLayout;
class QVBoxLayout;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace piezon
{

class CaptionLabel;
class ChartView;
class Form1;
class GaugeSession;
class KeyPreview;
class PressureHold;
class RecordPanel;
struct HoldSettings;
class SessionHistory;
struct Extreme;

// The session as a chart over time, with its numbers beside it: a window of its own (F7), so
// that the main window stays exactly as the operator knows it. It only looks at the session:
// closing it leaves the session running; the function keys work here as in the main window,
// Enter excepted, which must never start the gauge from a field of this window.
//
// It draws at most 10 pictures a second while readings come, one a second while the gauge is
// silent or the line is being won back (so the silence is seen to grow), and none while it is
// closed or there is no session; a picture touches only the chart and the numbers that changed.
class SessionWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SessionWindow(Form1& form);
    ~SessionWindow() override;

    ChartView* chart = nullptr;
    QComboBox* spanPicker = nullptr; // «Весь сеанс», «1 мин» … «60 мин»
    QScrollBar* scroller = nullptr;  // back through a session longer than the span
    QPushButton* nowButton = nullptr;
    QCheckBox* fixedScale = nullptr;
    QPushButton* resetButton = nullptr;
    CaptionLabel* reading = nullptr; // the main window's caption, in its colours
    QLabel* maximum = nullptr;
    QLabel* maximumWhen = nullptr;
    QLabel* minimum = nullptr;
    QLabel* minimumWhen = nullptr;
    QLabel* slope = nullptr;
    QLabel* duration = nullptr;
    QLabel* count = nullptr;
    QLabel* status = nullptr;

    // The pressure hold: its settings, its keys and what it says.
    QLineEdit* durationField = nullptr; // «Длительность»
    QLineEdit* dropField = nullptr;     // «Допустимое падение, кгс/см²»
    QLineEdit* floorField = nullptr;    // «Не ниже, кгс/см²»
    QLineEdit* targetField = nullptr; // «Испытательное давление, кгс/см²»
    QPushButton* holdButton = nullptr; // «Начать испытание» / «Прервать» (F8)
    QPushButton* protocolButton = nullptr;
    QLabel* holdMessage = nullptr; // why not, a warning, the protocol
    QLabel* holdLeft = nullptr;
    QLabel* holdStart = nullptr;
    QLabel* holdDrop = nullptr;
    QLabel* holdLowest = nullptr;
    QLabel* holdVerdict = nullptr;
    PressureHold& hold() { return *m_hold; }
    // A saved record shown in place of the session («Открыть запись…», Ctrl+O).
    RecordPanel& records() { return *m_records; }

    // Opens the window, or brings it forward, with the keys going to the chart.
    void present();
    // The chart's right edge is the latest moment (the default, and «Сейчас»).
    bool following() const { return m_follow; }
    // Moves the view to a moment of the session (ms since START) and points it out.
    void showMoment(qint64 ms);
    // Brings the chart and the numbers up to date now.
    void refresh();
    // F8: begins a hold with the fields' settings, or ends the one running.
    void toggleHold();
    // The right edge: now while the session runs, the last reading after STOP.
    qint64 rightEdgeMs() const;

    // The pacing, for tests: a picture waiting for its 100 ms, the once-a-second timer, and the
    // pictures made so far.
    bool framePending() const { return m_frame.isActive(); }
    bool ticking() const { return m_tick.isActive(); }
    int picturesMade() const { return m_pictures; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildHoldControls(QVBoxLayout* numbers, QWidget* panel, QGridLayout* grid);
    void updateHold();
    void onHoldChanged();
    void onHoldWritten(const QString& path, const QString& error);
    void openProtocol();
    void onKey(int key);
    void onReadings();
    // Something other than a reading changed (START, STOP, silence, the line): shown at once.
    void onStateChanged();
    void updatePacing();
    void updateTitle();
    void updateView(qint64 right);
    void updateNumbers(qint64 right);
    void showExtreme(QLabel* value, QLabel* when, const std::optional<Extreme>& extreme);
    void onScrolled(int value);
    qint64 spanMs() const;
    // The record's session while one is shown, else the live one.
    const SessionHistory& shownHistory() const;
    // The live session again, if a record was shown.
    bool backToLive();
    void onRecordShown();
    // What a hold marked on a record is judged by: these fields, as F8 reads them.
    std::optional<HoldSettings> recordHoldSettings(QString* why) const;

    Form1& m_form;
    GaugeSession& m_session;
    QChar m_separator;
    KeyPreview* m_keys = nullptr;
    PressureHold* m_hold = nullptr;
    RecordPanel* m_records = nullptr;
    QString m_holdReason; // "ПРЕРВАНО: линия потеряна.", kept beside what the protocol says
    QTimer m_frame; // the last readings of a pause, drawn when no more come
    QElapsedTimer m_sincePicture;
    QTimer m_tick; // once a second while nothing else draws
    int m_pictures = 0;
    bool m_follow = true;
    qint64 m_fromMs = 0; // the view's left edge while not following
};

} // namespace piezon
