#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace piezon
{

// Lets a window see every key press before the focused control does, as the operator's
// function keys must work wherever the focus is. The key is never swallowed.
class KeyPreview : public QObject
{
    Q_OBJECT
public:
    // `onKey` gets every key pressed in `window` or in a popup of it (a dropped-down list).
    KeyPreview(QWidget* window, std::function<void(int key)> onKey);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    std::function<void(int key)> m_onKey;
};

} // namespace piezon
