#pragma once

#include "record/record_reader.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QComboBox;
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
    // The picker, and the progress with «Отмена» under it, for the window to place; the button
    // goes with the chart's own controls.
    QVBoxLayout* box = nullptr;

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

signals:
    // A record came, another of its sessions was picked, or it went.
    void shownChanged();
    // A reading is over, whatever came of it.
    void readingEnded();

private:
    void onRead();
    void showProgress();
    void pick(int index);

    QWidget* m_window;
    ErrorReporter& m_reporter;
    RecordReader m_reader;
    QTimer m_progressDelay;
    QTimer m_progressPoll;
    std::unique_ptr<record::RecordSessions> m_sessions;
    QString m_folder;
    QString m_path;
    int m_shown = -1;
};

} // namespace piezon
