#include "window/end_signals.h"

#include "window/console_text.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <windows.h>

namespace piezon
{

// Sees the system's messages before Qt does. Qt answers the end of the session by quitting the
// event loop, but the system may end the process as soon as the message has been handled, before
// the loop is ever round again: the log must be closed here, synchronously.
struct EndSignals::Watch : QAbstractNativeEventFilter {
    explicit Watch(EndSignals* owner) : owner(owner) {}

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        // Top-level windows' messages come as the first, those of the event loop's own hidden
        // window as the second: the system sends the end of the session to both.
        if ((type != "windows_generic_MSG" && type != "windows_dispatcher_MSG") || !message)
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        // Every window of ours gets it, Qt's hidden ones too: the first one ends the program.
        if (msg->message == WM_ENDSESSION && msg->wParam != 0 && !ended) {
            ended = true;
            emit owner->endRequested();
            console::diagnostic(QStringLiteral("Сеанс Windows завершается: программа закрыта, "
                                               "журнал сохранён."));
        }
        return false;
    }

    EndSignals* owner;
    bool ended = false;
};

EndSignals::EndSignals(QObject* parent) : QObject(parent), m_watch(std::make_unique<Watch>(this))
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(m_watch.get());
}

EndSignals::~EndSignals()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(m_watch.get());
}

} // namespace piezon
