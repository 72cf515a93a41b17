// bare-reader: the program's reading chain and log with nothing around them, for the benchmarks.
// It opens DIR/COM1, sends START, and for every byte that arrives runs the same pipeline and log
// as the program (every reading recorded) in a plain poll/read loop: no event loop, no window.
// What the machine charges for this is the floor under the program's own figures.
//
//   bare-reader --dir DIR
//
// Runs until SIGTERM or SIGINT, or until the line goes.

#include "gauge/gauge_commands.h"
#include "gauge/reading_chain.h"
#include "gauge/reading_pipeline.h"
#include "log/log_file.h"
#include "log/log_record.h"
#include "log/measurement_log.h"
#include "support/log_opening.h"

#include <QLocale>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3 || std::strcmp(argv[1], "--dir") != 0) {
        std::fprintf(stderr, "usage: bare-reader --dir DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[2]);
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const QByteArray port = (dir + QStringLiteral("/COM1")).toLocal8Bit();
    const int fd = ::open(port.constData(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::fprintf(stderr, "bare-reader: %s: %s\n", port.constData(), std::strerror(errno));
        return 1;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIFLUSH);

    piezon::MeasurementLog log;
    QString error;
    if (!piezon::support::openLog(log, piezon::logFilePath(dir), &error)) {
        std::fprintf(stderr, "bare-reader: %s\n", qPrintable(error));
        return 1;
    }
    const QByteArray start = piezon::startCommand();
    if (::write(fd, start.constData(), start.size()) != start.size())
        return 1;
    tcdrain(fd);

    piezon::ReadingPipeline pipeline(piezon::captionSeparator(QLocale::system()));
    const QString offset = QStringLiteral("     0");
    char buffer[4096];
    while (!g_stop) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (pipeline.process(static_cast<quint8>(buffer[i]), offset, true, &log, &error) ==
                piezon::ReadingPipeline::Result::LogFailed) {
                std::fprintf(stderr, "bare-reader: %s\n", qPrintable(error));
                return 1;
            }
        }
    }
    log.close();
    ::close(fd);
    return 0;
}
