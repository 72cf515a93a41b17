// gauge-sim: plays the pressure gauge on a pseudo-terminal, so the program (and its tests) can
// run a whole session without hardware. `gauge-sim --help` says what it does and how to drive
// it: command_line.cpp reads the options, profiles.cpp makes the readings, line.cpp is the
// pseudo-terminal and what the program says on it.

#include "command_line.h"
#include "line.h"
#include "profiles.h"
#include "report.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>

namespace
{

// A signal only writes a byte here; the line's poll sees it and ends the run in order.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace gauge_sim;

    Options options;
    if (const int status = parseOptions(argc, argv, &options); status != 0)
        return status < 0 ? 0 : status;

    std::string sequence;
    if (const int status = loadSequence(options, &sequence); status != 0)
        return status;

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        say("pipe: %s", std::strerror(errno));
        return 1;
    }
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Line line(options, Profile(std::move(sequence), options.repeat), g_signalPipe[0]);
    return line.run();
}
