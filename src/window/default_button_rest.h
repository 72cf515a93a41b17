#pragma once

#include <QObject>

namespace piezon
{

// Keeps a default button (СТАРТ, a message box's OK) still while nothing happens to it. Qt's
// Windows style pulses such a button for as long as its window is active: a repaint about 60
// times a second, on a field laptop's battery, for a glow Windows itself no longer shows. A
// style animation ends when its button refuses the update it asks for, and the button keeps
// its first frame, the plain default frame. Only that pulse is refused: the short transitions
// of hover, press and focus run as the system gives them (cut short, a button could stay drawn
// as hovered). One filter on the application covers every window, message boxes included.
class DefaultButtonRest : public QObject
{
    Q_OBJECT
public:
    explicit DefaultButtonRest(QObject* parent = nullptr);

    // Whether `animation`, a style's animation of `target`, is the endless pulse of a default
    // button.
    static bool isEndlessPulse(const QObject* target, const QObject* animation);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace piezon
