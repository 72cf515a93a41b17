#include "window/default_button_rest.h"

#include <QAbstractAnimation>
#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>

#include <cstring>

namespace piezon
{

DefaultButtonRest::DefaultButtonRest(QObject* parent) : QObject(parent)
{
    qApp->installEventFilter(this);
}

bool DefaultButtonRest::isEndlessPulse(const QObject* target, const QObject* animation)
{
    const auto* button = qobject_cast<const QPushButton*>(target);
    if (!button || !button->isDefault())
        return false;
    // The style's animations are children of what they animate; the pulse is the only one of
    // them that never ends by itself. It has no public type to test, only its class's name.
    const auto* running = qobject_cast<const QAbstractAnimation*>(animation);
    return running && running->parent() == target &&
           std::strcmp(running->metaObject()->className(), "QWindowsVistaPulse") == 0;
}

bool DefaultButtonRest::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::StyleAnimationUpdate)
        return false;
    // One animation per target at a time: the pulse, if any, is among the target's children.
    for (const QObject* child : watched->children()) {
        if (isEndlessPulse(watched, child)) {
            // Not accepted: the style stops the pulse where it began.
            event->ignore();
            return true;
        }
    }
    return false;
}

} // namespace piezon
