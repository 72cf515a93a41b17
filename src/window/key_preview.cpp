#include "window/key_preview.h"

#include "window/form1.h"

#include <QApplication>
#include <QKeyEvent>

namespace piezon
{

KeyPreview::KeyPreview(Form1* form) : QObject(form), m_form(form)
{
    qApp->installEventFilter(this);
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    // The application sees a key once per widget it propagates through; take it only at the
    // widget it was sent to, and only when that widget is in our window. Qt hands the key on to
    // the parents as a non-spontaneous event: without that test, a key whose command showed a
    // message box (the focus gone meanwhile) would be taken again at the window, so F1 with a
    // log that cannot be created would START twice and report twice.
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : m_form;
    if (!event->spontaneous() || widget != target || widget->window() != m_form)
        return false;
    m_form->Form_KeyDown(static_cast<QKeyEvent*>(event)->key());
    return false;
}

} // namespace piezon
