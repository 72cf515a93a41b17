#pragma once

#include "chart/chart_drawing.h"
#include "hold/hold_verdict.h"
#include "record/record_reader.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QVBoxLayout;
class QProgressBar;
class QPushButton;
class QWidget;

namespace piezon
{

class ErrorReporter;
class SessionHistory;

// A saved record in the session window, in place of the live session: «Открыть запись…»
// (Ctrl+O) chooses it, it is read on the reader's thread while the live session goes on, and
// one of its sessions is shown until the operator goes back to the live one. A file that cannot
// be shown changes nothing on screen and is said in a message.
//
// A hold on the shown session gets its protocol afterwards («Протокол по записи»): one its rows
// tell of, by the settings its start row gives, or one the operator marks by dragging on the
// chart or typing its start and end, by the session window's fields. The record is read again
// for it, on the reader's thread, and judged as the live hold was.
class RecordPanel : public QObject
{
    Q_OBJECT
public:
    // Progress is shown only for a reading that takes longer than this.
    static constexpr int kProgressAfterMs = 500;

    // `folder`: where the dialog first looks (the live record's).
    RecordPanel(QWidget* window, ErrorReporter& reporter, QString folder);
    ~RecordPanel() override;

    QPushButton* openButton = nullptr;
    QComboBox* sessionPicker = nullptr; // each session of the file by its start, in file order
    QProgressBar* progress = nullptr;
    QPushButton* cancelButton = nullptr;
    QLineEdit* markFrom = nullptr; // a marked hold's start and end since START, "м:сс"
    QLineEdit* markTo = nullptr;
    QPushButton* protocolButton = nullptr; // «Протокол по записи»: the holds found, the marked one
    QLabel* protocolNote = nullptr; // the protocol written, or why none
    // The picker, the hold's controls, and the progress with «Отмена» under them, for the window
    // to place; the button goes with the chart's own controls.
    QVBoxLayout* box = nullptr;

    // What a marked hold is judged by: the window's settings (its duration is the marked span),
    // or none with the reason. The protocol's separator and the program that signs it.
    using SettingsSource = std::function<std::optional<HoldSettings>(QString* why)>;
    void setHoldSettings(SettingsSource source, QChar separator, QString program);

    // Asks for a file in `folder` (the system's own dialog where there is one), then reads it.
    void choose(const QString& folder);
    // Reads `path`; false while another file is being read.
    bool open(const QString& path);
    bool reading() const { return m_reader.busy(); }
    // A record is shown instead of the live session.
    bool shown() const { return m_shown >= 0; }
    const SessionHistory& history() const;
    QString fileName() const;
    // Back to the live session: the record is let go.
    void close();

    // A span dragged on the chart, in ms since START: the hold marked.
    void markSpan(qint64 fromMs, qint64 toMs);
    // The marked hold's band, for the chart.
    std::optional<HoldBand> band() const;
    // The holds the shown session's rows tell of.
    const std::vector<record::FoundHold>& foundHolds() const;
    // Judges the found hold at `index`, or the marked one (-1), from the record, and writes its
    // protocol beside the log; false, with the reason on show, if it cannot begin.
    bool makeProtocol(int index);
    bool makingProtocol() const { return m_judging.busy() || m_writing; }
    QString protocolPath() const { return m_protocolPath; }

signals:
    // A record came, another of its sessions was picked, or it went.
    void shownChanged();
    // A reading is over, whatever came of it.
    void readingEnded();
    void markChanged();
    // A protocol was written, or why not is on show.
    void protocolEnded();

private:
    void onRead();
    void showProgress();
    void pick(int index);
    void onMarkTyped();
    void onJudged();
    void sayProtocol(const QString& text);
    void fillProtocolMenu();

    QWidget* m_window;
    ErrorReporter& m_reporter;
    RecordReader m_reader;
    QTimer m_progressDelay;
    QTimer m_progressPoll;
    std::unique_ptr<record::RecordSessions> m_sessions;
    QString m_folder;
    QString m_path;
    int m_shown = -1;
    bool m_choosing = false;            // the dialog is open
    std::vector<QWidget*> m_recordOnly; // shown with a record only

    SettingsSource m_settings;
    QChar m_separator = QLatin1Char('.');
    QString m_program;
    std::optional<qint64> m_markFromMs;
    std::optional<qint64> m_markToMs;
    RecordReader m_judging;
    // What the protocol needs of the record that may be let go meanwhile.
    struct Pending {
        std::optional<HoldSettings> settings; // marked: as the fields said
        SessionHistory history;
        QString fileName;
    };
    std::unique_ptr<Pending> m_pending;
    bool m_writing = false;
    QString m_protocolPath;
    // Last: its job is waited for before anything it reports to goes.
    QThreadPool m_writer;
};

} // namespace piezon
