// gauge-sim: plays the pressure gauge on a pseudo-terminal, so the program (and its tests) can
// run a whole session without hardware. See usage() for what it does and how to drive it.

#include "command_stream.h"
#include "gauge/gauge_commands.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using gauge_sim::CommandStream;

constexpr double kMaxRate = 960; // 9600 baud, 10 bits a byte
constexpr double kDefaultRate = 10;
// A command takes 17 ms at 9600 baud; a half command that sits this long was never finished.
constexpr auto kCommandIdle = std::chrono::milliseconds(500);
// --close-after lets the program read what was sent before the line goes; no longer than this.
constexpr auto kDrainLimit = std::chrono::seconds(2);
// A byte written to our end is counted as waiting at the program's end only once the kernel has
// moved it across, which on a busy machine can take a while; a hang-up before that loses it.
// So the program's end must look empty for this long before the line is hung up.
constexpr auto kDrainSettle = std::chrono::milliseconds(100);

void usage(FILE* out)
{
    std::fputs(
        "Usage: gauge-sim [options]\n"
        "\n"
        "Plays the pressure gauge on a pseudo-terminal. The program's end of the line is linked\n"
        "as COMn in a folder (the program looks for COMn beside itself). Once the gauge has\n"
        "received the 16-byte START command it sends readings, one byte each; the STOP command\n"
        "ends them. A session may START again after STOP. Every received byte that is not part\n"
        "of a whole command is reported on stderr.\n"
        "\n"
        "When the link exists, its path and then the word \"ready\" are printed on stdout, one\n"
        "line each. SIGINT, SIGTERM or SIGHUP end the simulator and remove the link.\n"
        "\n"
        "Options:\n"
        "  --dir DIR          folder for the COMn link (default: the folder of this executable,\n"
        "                     which in a build is the folder of the program)\n"
        "  --port N           port number n of the link COMn, 1-16 (default 1)\n"
        "  --force            replace an existing COMn link that still points to a device\n"
        "                     (a link to nothing is always replaced; other files never are)\n"
        "  --rate R           readings per second, up to 960 (the line's limit at 9600 baud);\n"
        "                     0 = as fast as the line takes them (default 10)\n"
        "  --sequence FILE    send the bytes of FILE as the readings, from the first byte at\n"
        "                     every START, instead of a simulated pressure\n"
        "  --stdin            the same with the bytes read from standard input (read to its\n"
        "                     end before the link is made)\n"
        "  --repeat           start the sequence over when it ends, instead of going quiet\n"
        "  --count N          send at most N readings in each session\n"
        "  --close-after N    after N readings in all, hang up the line and exit, as when a\n"
        "                     wireless link drops (the readings are let through first)\n"
        "  --received FILE    write every byte received from the program to FILE, raw, as it\n"
        "                     arrives\n"
        "  --verbose          report every reading sent on stderr\n"
        "  --help             show this text\n"
        "\n"
        "Without --sequence or --stdin the readings follow a slowly varying pressure around\n"
        "3.5 kgf/cm2 with a little sensor noise.\n"
        "\n"
        "Exit status: 0 after a signal or --close-after, 1 on a failure, 2 on a usage error.\n",
        out);
}

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...)
{
    std::fputs("gauge-sim: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

bool parseWhole(const char* text, long long low, long long high, long long* value)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return false;
    *value = v;
    return true;
}

bool parseRate(const char* text, double* value)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v >= 0) || v > kMaxRate)
        return false;
    *value = v;
    return true;
}

bool readAll(int fd, std::string* out)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        out->append(buf, static_cast<std::size_t>(n));
    }
}

bool writeAll(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string executableFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    std::string exe(path, static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : exe.substr(0, slash));
}

std::string linkTarget(const std::string& link)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// COMn -> the device. A link to nothing is left over from an earlier run and is replaced; a
// link to something that exists may be another simulator's, so only --force replaces it.
bool makeLink(const std::string& link, const std::string& device, bool force, std::string* error)
{
    struct stat st {
    };
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = link + " exists and is not a link; it is left alone";
            return false;
        }
        struct stat target {
        };
        if (::stat(link.c_str(), &target) == 0 && !force) {
            *error = link + " already links to " + linkTarget(link) +
                     " (another simulator?); --force replaces it";
            return false;
        }
    } else if (errno != ENOENT) {
        *error = link + ": " + std::strerror(errno);
        return false;
    }
    // Made under a temporary name and renamed over, so the program never sees a missing COMn.
    const std::string temporary = link + ".gauge-sim-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(device.c_str(), temporary.c_str()) != 0) {
        *error = temporary + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        *error = link + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Only our own link: somebody may have pointed COMn elsewhere meanwhile.
void removeLink(const std::string& link, const std::string& device)
{
    if (linkTarget(link) == device)
        ::unlink(link.c_str());
}

bool makeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// A vessel's pressure drifting slowly around 3.5 kgf/cm2: a slow swell, a faster ripple and a
// raw unit of sensor noise. Follows the clock, not the reading count, so the curve goes on
// smoothly across sessions and does not depend on the rate.
class PressureModel
{
public:
    unsigned char reading(double seconds)
    {
        constexpr double kTwoPi = 6.283185307179586;
        const double pressure = 3.5 + 1.6 * std::sin(kTwoPi * seconds / 90.0) +
                                0.4 * std::sin(kTwoPi * seconds / 17.0 + 1.0);
        const double raw = pressure * 255.0 / 8.0 + m_noise(m_random);
        return static_cast<unsigned char>(std::clamp(std::lround(raw), 0L, 255L));
    }

private:
    std::minstd_rand m_random{20240601};
    std::uniform_int_distribution<int> m_noise{-1, 1};
};

struct Options {
    std::string dir;
    long long port = 1;
    bool force = false;
    double rate = kDefaultRate;
    std::string sequenceFile;
    bool fromStdin = false;
    bool repeat = false;
    long long count = -1;
    long long closeAfter = -1;
    std::string receivedFile;
    bool verbose = false;
};

// 0 to go on; otherwise the exit status.
int parseOptions(int argc, char** argv, Options* o)
{
    enum {
        kDir = 1000,
        kPort,
        kForce,
        kRate,
        kSequence,
        kStdin,
        kRepeat,
        kCount,
        kCloseAfter,
        kReceived,
        kVerbose,
        kHelp
    };
    static const option kOptions[] = {
        {"dir", required_argument, nullptr, kDir},
        {"port", required_argument, nullptr, kPort},
        {"force", no_argument, nullptr, kForce},
        {"rate", required_argument, nullptr, kRate},
        {"sequence", required_argument, nullptr, kSequence},
        {"stdin", no_argument, nullptr, kStdin},
        {"repeat", no_argument, nullptr, kRepeat},
        {"count", required_argument, nullptr, kCount},
        {"close-after", required_argument, nullptr, kCloseAfter},
        {"received", required_argument, nullptr, kReceived},
        {"verbose", no_argument, nullptr, kVerbose},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    const auto bad = [](const char* what, const char* value) {
        say("%s: %s is not allowed (see --help)", what, value);
        return 2;
    };
    for (;;) {
        const int c = ::getopt_long(argc, argv, "", kOptions, nullptr);
        if (c == -1)
            break;
        switch (c) {
        case kDir:
            o->dir = optarg;
            break;
        case kPort:
            if (!parseWhole(optarg, 1, 16, &o->port))
                return bad("--port", optarg);
            break;
        case kForce:
            o->force = true;
            break;
        case kRate:
            if (!parseRate(optarg, &o->rate))
                return bad("--rate", optarg);
            break;
        case kSequence:
            o->sequenceFile = optarg;
            break;
        case kStdin:
            o->fromStdin = true;
            break;
        case kRepeat:
            o->repeat = true;
            break;
        case kCount:
            if (!parseWhole(optarg, 0, LLONG_MAX, &o->count))
                return bad("--count", optarg);
            break;
        case kCloseAfter:
            if (!parseWhole(optarg, 0, LLONG_MAX, &o->closeAfter))
                return bad("--close-after", optarg);
            break;
        case kReceived:
            o->receivedFile = optarg;
            break;
        case kVerbose:
            o->verbose = true;
            break;
        case kHelp:
            usage(stdout);
            return -1;
        default:
            usage(stderr);
            return 2;
        }
    }
    if (optind < argc) {
        say("unexpected argument %s (see --help)", argv[optind]);
        return 2;
    }
    if (o->fromStdin && !o->sequenceFile.empty()) {
        say("--sequence and --stdin exclude each other");
        return 2;
    }
    if (o->repeat && !o->fromStdin && o->sequenceFile.empty()) {
        say("--repeat needs --sequence or --stdin");
        return 2;
    }
    if (o->dir.empty())
        o->dir = executableFolder();
    // Printed and removed by its full path, whatever the caller's working folder.
    char resolved[PATH_MAX];
    if (!::realpath(o->dir.c_str(), resolved)) {
        say("--dir %s: %s", o->dir.c_str(), std::strerror(errno));
        return 2;
    }
    o->dir = resolved;
    return 0;
}

void reportStray(const std::vector<unsigned char>& stray)
{
    for (const unsigned char b : stray) {
        if (b >= 0x20 && b < 0x7f)
            say("stray byte 0x%02X '%c'", b, b);
        else
            say("stray byte 0x%02X", b);
    }
}

class Simulator
{
public:
    Simulator(const Options& options, std::string sequence)
        : m_o(options), m_sequence(std::move(sequence)),
          m_commands(piezon::startCommand().toStdString(), piezon::stopCommand().toStdString())
    {
    }

    ~Simulator() { shutDown(); }

    int run();

private:
    bool setUp();
    void shutDown();
    bool produce(Clock::time_point now);
    bool flushOutput();
    bool receive();
    void handle(const CommandStream::Result& result);
    bool limitReached() const;
    int timeoutMs(Clock::time_point now) const;

    const Options& m_o;
    std::string m_sequence;
    CommandStream m_commands;
    PressureModel m_model;

    int m_master = -1;
    int m_slave = -1; // ours too, so the line outlives the program's closing of the port
    int m_received = -1;
    std::string m_device;
    std::string m_link;
    bool m_linked = false;

    Clock::time_point m_began = Clock::now();
    bool m_streaming = false;
    std::size_t m_position = 0; // in the sequence
    long long m_sessionSent = 0;
    long long m_totalSent = 0;
    long long m_totalReceived = 0;
    Clock::time_point m_nextDue;
    std::string m_out; // produced, not yet taken by the line
    Clock::time_point m_lastByte;
    bool m_draining = false;
    Clock::time_point m_drainUntil;
    Clock::time_point m_emptySince;
};

bool Simulator::setUp()
{
    char name[PATH_MAX] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        say("cannot create a pseudo-terminal: %s", std::strerror(errno));
        return false;
    }
    // Raw on both ends: no echo, no line editing, no XON/XOFF, no CR/LF translation. Every byte
    // value is a reading.
    if (!makeRaw(m_master) || !makeRaw(m_slave)) {
        say("cannot make the line raw: %s", std::strerror(errno));
        return false;
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_device = name;

    if (!m_o.receivedFile.empty()) {
        m_received =
            ::open(m_o.receivedFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_received < 0) {
            say("%s: %s", m_o.receivedFile.c_str(), std::strerror(errno));
            return false;
        }
    }

    m_link = m_o.dir + "/COM" + std::to_string(m_o.port);
    std::string error;
    if (!makeLink(m_link, m_device, m_o.force, &error)) {
        say("%s", error.c_str());
        return false;
    }
    m_linked = true;
    std::printf("%s\nready\n", m_link.c_str());
    std::fflush(stdout);
    say("%s -> %s", m_link.c_str(), m_device.c_str());
    return true;
}

void Simulator::shutDown()
{
    handle(m_commands.flush());
    // The program sees the line hang up.
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
    if (m_linked)
        removeLink(m_link, m_device);
    m_linked = false;
    if (m_received >= 0)
        ::close(m_received);
    m_received = -1;
}

bool Simulator::limitReached() const
{
    return (m_o.count >= 0 && m_sessionSent >= m_o.count) ||
           (m_o.closeAfter >= 0 && m_totalSent >= m_o.closeAfter) ||
           (!m_sequence.empty() && !m_o.repeat && m_position >= m_sequence.size());
}

bool Simulator::produce(Clock::time_point now)
{
    if (!m_streaming || !m_out.empty())
        return true;
    const bool paced = m_o.rate > 0;
    if (paced && now < m_nextDue)
        return true;
    // As fast as possible: a pseudo-terminal's worth at a time; paced: the reading that is due.
    const std::size_t batch = paced ? 1 : 4096;
    while (m_out.size() < batch && !limitReached()) {
        unsigned char reading = 0;
        if (!m_sequence.empty()) {
            if (m_position >= m_sequence.size())
                m_position = 0;
            reading = static_cast<unsigned char>(m_sequence[m_position++]);
        } else {
            reading = m_model.reading(std::chrono::duration<double>(now - m_began).count());
        }
        m_out.push_back(static_cast<char>(reading));
        ++m_sessionSent;
        ++m_totalSent;
        if (m_o.verbose)
            say("reading %u", reading);
    }
    if (paced) {
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / m_o.rate));
        m_nextDue += period;
        // After a stall (nobody reading) carry on at the rate instead of bursting to catch up.
        if (m_nextDue + std::chrono::seconds(1) < now)
            m_nextDue = now + period;
    }
    return flushOutput();
}

bool Simulator::flushOutput()
{
    while (!m_out.empty()) {
        const ssize_t n = ::write(m_master, m_out.data(), m_out.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                return true; // the line is full; poll says when it takes more
            say("write to the line failed: %s", std::strerror(errno));
            return false;
        }
        m_out.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

bool Simulator::receive()
{
    unsigned char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                return true;
            say("read from the line failed: %s", std::strerror(errno));
            return false;
        }
        if (n == 0)
            return true;
        m_lastByte = Clock::now();
        m_totalReceived += n;
        if (m_received >= 0 && !writeAll(m_received, buf, static_cast<std::size_t>(n))) {
            say("%s: %s", m_o.receivedFile.c_str(), std::strerror(errno));
            return false;
        }
        handle(m_commands.feed(buf, static_cast<std::size_t>(n)));
    }
}

void Simulator::handle(const CommandStream::Result& result)
{
    reportStray(result.stray);
    for (const CommandStream::Event event : result.commands) {
        if (event == CommandStream::Event::Start) {
            say(m_streaming ? "START (already streaming: starting over)" : "START");
            m_streaming = true;
            m_position = 0;
            m_sessionSent = 0;
            m_nextDue = Clock::now();
        } else {
            say(m_streaming ? "STOP" : "STOP (not streaming)");
            m_streaming = false;
            // A byte the line has not taken yet is never sent.
            m_out.clear();
        }
    }
}

int Simulator::timeoutMs(Clock::time_point now) const
{
    using std::chrono::milliseconds;
    const auto until = [now](Clock::time_point t) {
        if (t <= now)
            return 0;
        return static_cast<int>(
            std::chrono::ceil<milliseconds>(t - now).count()); // never wakes early
    };
    int timeout = -1;
    const auto consider = [&timeout](int ms) {
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
    };
    if (m_draining)
        consider(5);
    if (m_commands.midCommand())
        consider(until(m_lastByte + kCommandIdle));
    if (m_streaming && m_out.empty() && !limitReached())
        consider(m_o.rate > 0 ? until(m_nextDue) : 0);
    return timeout;
}

int Simulator::run()
{
    if (!setUp())
        return 1;
    for (;;) {
        Clock::time_point now = Clock::now();
        if (!produce(now))
            return 1;

        if (m_o.closeAfter >= 0 && m_totalSent >= m_o.closeAfter && m_out.empty()) {
            if (!m_draining) {
                m_draining = true;
                m_drainUntil = now + kDrainLimit;
                m_emptySince = now;
            }
            int waiting = 0;
            ::ioctl(m_slave, FIONREAD, &waiting);
            if (waiting > 0)
                m_emptySince = now;
            if (now >= m_emptySince + kDrainSettle || now >= m_drainUntil) {
                say("hanging up after %lld readings", m_totalSent);
                return 0;
            }
        }

        pollfd fds[2] = {{m_master, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        if (!m_out.empty())
            fds[0].events |= POLLOUT;
        const int ready = ::poll(fds, 2, timeoutMs(now));
        if (ready < 0 && errno != EINTR) {
            say("poll: %s", std::strerror(errno));
            return 1;
        }
        if (fds[1].revents & POLLIN) {
            say("ending: received %lld bytes, sent %lld readings", m_totalReceived, m_totalSent);
            return 0;
        }
        if ((fds[0].revents & POLLIN) && !receive())
            return 1;
        if ((fds[0].revents & POLLOUT) && !flushOutput())
            return 1;
        now = Clock::now();
        if (m_commands.midCommand() && now >= m_lastByte + kCommandIdle)
            handle(m_commands.flush());
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const int status = parseOptions(argc, argv, &options); status != 0)
        return status < 0 ? 0 : status;

    std::string sequence;
    if (options.fromStdin || !options.sequenceFile.empty()) {
        const int fd =
            options.fromStdin ? STDIN_FILENO : ::open(options.sequenceFile.c_str(), O_RDONLY);
        if (fd < 0 || !readAll(fd, &sequence)) {
            say("%s: %s", options.fromStdin ? "stdin" : options.sequenceFile.c_str(),
                std::strerror(errno));
            return 1;
        }
        if (fd != STDIN_FILENO)
            ::close(fd);
        if (sequence.empty()) {
            say("the sequence is empty");
            return 2;
        }
    }

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

    Simulator simulator(options, std::move(sequence));
    return simulator.run();
}
