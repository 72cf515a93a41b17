#pragma once

#include <QObject>

#include <memory>

namespace piezon
{

// The desktop's ways of ending a program turned into an ordinary event, so the program ends the
// way F3 ends it: the log closed and synced, nothing lost. On Unix (end_signals_unix.cpp) these
// are SIGTERM at logout or shutdown, SIGHUP when its terminal goes and SIGINT for Ctrl+C. On
// Windows (end_signals_win.cpp) it is the end of the session (log off, shut down), which the
// system announces to every window and after which it may end the process at any moment: there
// endRequested() is emitted, and must be handled, before the announcement returns.
class EndSignals : public QObject
{
    Q_OBJECT
public:
    explicit EndSignals(QObject* parent = nullptr);
    ~EndSignals() override;

signals:
    void endRequested();

private:
    // What watches for the end: each platform's own.
    struct Watch;
    std::unique_ptr<Watch> m_watch;
};

} // namespace piezon
