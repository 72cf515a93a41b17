#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace piezon
{

// Brings the screen up to date with the readings, at most once per frame. Readings can arrive
// far faster than a screen can show them (960 a second on a busy line); the state changes with
// every one, the picture only as often as it can be seen. The first change after a quiet spell is
// shown at once.
class DisplayRefresh : public QObject
{
    Q_OBJECT
public:
    DisplayRefresh(std::function<void()> apply, QObject* parent = nullptr);

    void request();
    // Applies a pending change now (tests, and before the window is grabbed).
    void flush();
    bool pending() const { return m_timer.isActive(); }

    static constexpr int kFrameMs = 16;

private:
    void fire();

    std::function<void()> m_apply;
    QTimer m_timer;
    QElapsedTimer m_sinceLast;
};

} // namespace piezon
