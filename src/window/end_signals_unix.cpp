#include "window/end_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace piezon
{
namespace
{
int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Only what is safe inside a signal handler: one write to our own pipe.
void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}
} // namespace

// The reading end of the pipe the handler writes to, watched by the event loop.
struct EndSignals::Watch {
    QSocketNotifier* notifier = nullptr;
};

EndSignals::EndSignals(QObject* parent) : QObject(parent), m_watch(std::make_unique<Watch>())
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_watch->notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_watch->notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
        emit endRequested();
    });
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

EndSignals::~EndSignals()
{
    for (const int s : kSignals)
        std::signal(s, SIG_DFL);
    delete m_watch->notifier;
    m_watch->notifier = nullptr;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace piezon
