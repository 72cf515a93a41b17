#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace piezon
{

// Brings the screen up to date with the readings. Readings can arrive far faster than a screen
// can show them (960 a second on a busy line); the state changes with every one, the picture only
// as often as it is worth its price: on this program's window a picture costs several times
// what a read of the line does. The first change after a quiet spell is shown at once; on a busy
// line, read once a frame, every second read is shown, so no reading waits more than about two
// frames to be seen. A change that comes a little early is shown at once all the same: waiting
// out the last milliseconds would cost a wake-up of its own.
class DisplayRefresh : public QObject
{
    Q_OBJECT
public:
    DisplayRefresh(std::function<void()> apply, QObject* parent = nullptr);

    void request();
    // Applies a pending change now (tests, and before the window is grabbed).
    void flush();

    // The least time between two pictures: two reads of a busy line.
    static constexpr int kIntervalMs = 30;
    // How much sooner than that a change may still be shown at once.
    static constexpr int kEarlyMs = 4;

private:
    void fire();

    std::function<void()> m_apply;
    QTimer m_timer;
    QElapsedTimer m_sinceLast;
};

} // namespace piezon
