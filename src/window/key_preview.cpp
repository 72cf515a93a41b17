#include "window/key_preview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace piezon
{
namespace
{

// Where Qt delivers a key: a keyboard grabber, else the open popup's own focus (a combo box's
// list while it is dropped down), else the focus. The same order as Qt's own delivery.
QWidget* keyReceiver(QWidget* window)
{
    if (QWidget* grabber = QWidget::keyboardGrabber())
        return grabber;
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->focusWidget() ? popup->focusWidget() : popup;
    return QApplication::focusWidget() ? QApplication::focusWidget() : window;
}

// A popup is a window of its own, so it is ours if one of its owners is our window.
bool popupOf(const QWidget* owner, const QWidget* window)
{
    if (!window || window != QApplication::activePopupWidget())
        return false;
    for (const QWidget* w = window->parentWidget(); w; w = w->parentWidget()) {
        if (w == owner)
            return true;
    }
    return false;
}

} // namespace

KeyPreview::KeyPreview(QWidget* window, std::function<void(int key)> onKey)
    : QObject(window), m_window(window), m_onKey(std::move(onKey))
{
    qApp->installEventFilter(this);
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    // The application sees a key once per widget it propagates through; take it only at the
    // widget it was sent to, and only when that widget is in our window or in a popup of it
    // (a dropped-down list). Qt hands the key on to the parents as a non-spontaneous event:
    // without that test, a key whose command showed a message box (the focus gone meanwhile)
    // would be taken again at the window, so F1 with a log that cannot be created would START
    // twice and report twice. A message box itself is no popup: keys typed into it are its own.
    if (!event->spontaneous() || widget != keyReceiver(m_window))
        return false;
    if (widget->window() != m_window && !popupOf(m_window, widget->window()))
        return false;
    m_onKey(static_cast<QKeyEvent*>(event)->key());
    return false;
}

} // namespace piezon
