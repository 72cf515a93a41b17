#include "line.h"

#include "gauge/gauge_commands.h"
#include "report.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace gauge_sim
{

namespace
{

// A command takes 17 ms at 9600 baud; a half command that sits this long was never finished.
constexpr auto kCommandIdle = std::chrono::milliseconds(500);
// --close-after lets the program read what was sent before the line goes; no longer than this.
constexpr auto kDrainLimit = std::chrono::seconds(2);
// A byte written to our end is counted as waiting at the program's end only once the kernel has
// moved it across, which on a busy machine can take a while; a hang-up before that loses it.
// So the program's end must look empty for this long before the line is hung up.
constexpr auto kDrainSettle = std::chrono::milliseconds(100);

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

void reportStray(const std::vector<unsigned char>& stray)
{
    for (const unsigned char b : stray) {
        if (b >= 0x20 && b < 0x7f)
            say("stray byte 0x%02X '%c'", b, b);
        else
            say("stray byte 0x%02X", b);
    }
}

} // namespace

Line::Line(const Options& options, Profile profile, int signalFd)
    : m_o(options), m_profile(std::move(profile)), m_signalFd(signalFd),
      m_commands(piezon::startCommand().toStdString(), piezon::stopCommand().toStdString())
{
}

Line::~Line()
{
    shutDown();
}

bool Line::setUp()
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

void Line::shutDown()
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

bool Line::limitReached() const
{
    return (m_o.count >= 0 && m_sessionSent >= m_o.count) ||
           (m_o.closeAfter >= 0 && m_totalSent >= m_o.closeAfter) || m_profile.exhausted();
}

bool Line::produce(Clock::time_point now)
{
    if (!m_streaming || !m_out.empty())
        return true;
    const bool paced = m_o.rate > 0;
    if (paced && now < m_nextDue)
        return true;
    // As fast as possible: a pseudo-terminal's worth at a time; paced: the reading that is due.
    const std::size_t batch = paced ? 1 : 4096;
    while (m_out.size() < batch && !limitReached()) {
        const unsigned char reading = m_profile.next(now);
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

bool Line::flushOutput()
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

bool Line::receive()
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

void Line::handle(const CommandStream::Result& result)
{
    reportStray(result.stray);
    for (const CommandStream::Event event : result.commands) {
        if (event == CommandStream::Event::Start) {
            say(m_streaming ? "START (already streaming: starting over)" : "START");
            m_streaming = true;
            m_profile.restart();
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

int Line::timeoutMs(Clock::time_point now) const
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

int Line::run()
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

        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_signalFd, POLLIN, 0}};
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

} // namespace gauge_sim
