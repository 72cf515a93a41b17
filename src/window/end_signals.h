#pragma once

#include <QObject>

class QSocketNotifier;

namespace piezon
{

// The desktop's ways of ending a program (SIGTERM at logout or shutdown, SIGHUP when its
// terminal goes, SIGINT for Ctrl+C) turned into an ordinary event, so the program ends the way
// F3 ends it: the log closed and synced, nothing lost.
class EndSignals : public QObject
{
    Q_OBJECT
public:
    explicit EndSignals(QObject* parent = nullptr);
    ~EndSignals() override;

signals:
    void endRequested();

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace piezon
