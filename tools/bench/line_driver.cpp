// line-driver: plays the gauge on a pseudo-terminal for the benchmarks and times what reaches the
// log. Unlike gauge-sim it knows when each reading left and watches the log file itself.
//
//   line-driver latency --dir DIR --log FILE --count N [--rate R] [--times FILE]
//       After START, sends N readings and notes, for each, the time from just before its byte
//       was written to the line until its record is in the log. With R > 0 the readings are
//       sent R a second whatever the program does (960 is the line's limit); with R = 0 (the
//       default) one at a time, each after the record of the one before and a pause of 2-4 ms.
//       With --times, FILE gets both moments of each reading, in nanoseconds of the monotonic
//       clock (for window-watch's frame times), and whether it changes what the window shows
//       (its corrected value differs from the reading's before): "sent logged changes" a line.
//   line-driver burst --dir DIR --log FILE --count N
//       After START, writes N readings as fast as the line takes them and notes when the log
//       holds all of their records.
//
// The line is linked as DIR/COM1. "ready" is printed once the link exists; the results, one
// "key value" pair a line, once the log holds every record (or after 20 s without progress),
// after which the driver waits for SIGTERM or SIGINT so that the program never sees the line go.
// Every record is compared with the one the program's own reading chain makes for the reading,
// at the program's starting offset, with the separator of the current locale.

#include "gauge/gauge_commands.h"
#include "gauge/reading_chain.h"
#include "log/log_record.h"
#include "support/pty_pair.h"

#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr auto kStallLimit = std::chrono::seconds(20);
const char* const kStartupOffset = "     0";

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// The readings: a fixed pseudo-random walk over the whole scale, so that the needle moves and
// the caption changes at nearly every reading (the most the window can be asked to redraw).
std::vector<unsigned char> readings(long count)
{
    std::vector<unsigned char> out(static_cast<std::size_t>(count));
    std::minstd_rand random(418);
    for (auto& r : out)
        r = static_cast<unsigned char>(random() & 0xff);
    return out;
}

class Line
{
public:
    ~Line()
    {
        if (!m_link.empty())
            ::unlink(m_link.c_str());
    }

    bool open(const std::string& dir)
    {
        if (!m_pty.isValid())
            return fail("openpty");
        const std::string link = dir + "/COM1";
        ::unlink(link.c_str());
        if (::symlink(m_pty.slavePath().toLocal8Bit().constData(), link.c_str()) != 0)
            return fail(link.c_str());
        m_link = link;
        return true;
    }

    int master() const { return m_pty.masterFd(); }

    // Reads what the program sent; true once the START command has gone by.
    bool receive()
    {
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(master(), buf, sizeof buf);
            if (n <= 0)
                break;
            m_received.append(buf, static_cast<std::size_t>(n));
        }
        return m_received.find(piezon::startCommand().toStdString()) != std::string::npos;
    }

private:
    static bool fail(const char* what)
    {
        std::fprintf(stderr, "line-driver: %s: %s\n", what, std::strerror(errno));
        return false;
    }

    // Both ends raw and held open, so the line stays up whatever the program does with its end.
    piezon::testing::PtyPair m_pty;
    std::string m_link;
    std::string m_received;
};

// Follows the log as the program writes it and checks each record as it completes.
class LogWatch
{
public:
    explicit LogWatch(const std::vector<unsigned char>& sent) : m_sent(sent)
    {
        const QChar separator = piezon::captionSeparator(QLocale::system());
        const QString offset = QString::fromLatin1(kStartupOffset);
        for (int b = 0; b < 256; ++b) {
            const auto reading = piezon::computeReading(static_cast<quint8>(b), offset, separator);
            m_expected[b] = piezon::buildLogRecord(offset, reading->caption).toStdString();
        }
    }

    ~LogWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_inotify >= 0)
            ::close(m_inotify);
    }

    // Waits (bounded) for the log the START created, then watches it.
    bool open(const std::string& path)
    {
        const Clock::time_point until = Clock::now() + std::chrono::seconds(10);
        while ((m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
            if (Clock::now() > until) {
                std::fprintf(stderr, "line-driver: %s never appeared\n", path.c_str());
                return false;
            }
            ::usleep(200);
        }
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify < 0 || ::inotify_add_watch(m_inotify, path.c_str(), IN_MODIFY) < 0) {
            std::perror("line-driver: inotify");
            return false;
        }
        return true;
    }

    int notifier() const { return m_inotify; }

    // Takes in whatever the log gained; returns how many records are complete now.
    long update(Clock::time_point now)
    {
        char events[4096];
        while (::read(m_inotify, events, sizeof events) > 0) {
        }
        for (;;) {
            const ssize_t n = ::read(m_fd, m_chunk.data(), m_chunk.size());
            if (n <= 0)
                break;
            m_pending.append(m_chunk.data(), static_cast<std::size_t>(n));
        }
        std::size_t begin = 0;
        for (;;) {
            const std::size_t end = m_pending.find('\n', begin);
            if (end == std::string::npos)
                break;
            check(m_pending.compare(begin, end + 1 - begin, record(m_records)) == 0);
            m_loggedAt.push_back(now);
            ++m_records;
            begin = end + 1;
        }
        m_pending.erase(0, begin);
        return m_records;
    }

    long records() const { return m_records; }
    long mismatches() const { return m_mismatches; }
    bool exact() const { return m_mismatches == 0 && m_pending.empty(); }
    Clock::time_point loggedAt(long i) const { return m_loggedAt[static_cast<std::size_t>(i)]; }

private:
    const std::string& record(long i) const
    {
        static const std::string none;
        if (i >= static_cast<long>(m_sent.size()))
            return none; // a record for a reading never sent
        return m_expected[m_sent[static_cast<std::size_t>(i)]];
    }

    void check(bool same)
    {
        if (!same && m_mismatches++ == 0)
            std::fprintf(stderr, "line-driver: record %ld is not the one expected\n", m_records);
    }

    const std::vector<unsigned char>& m_sent;
    std::string m_expected[256];
    int m_fd = -1;
    int m_inotify = -1;
    std::vector<char> m_chunk = std::vector<char>(1 << 20);
    std::string m_pending;
    long m_records = 0;
    long m_mismatches = 0;
    std::vector<Clock::time_point> m_loggedAt;
};

struct Options {
    std::string mode;
    std::string dir;
    std::string log;
    long count = 0;
    double rate = 0;
    std::string times;
};

// Waits for the START command; false if none came in time or we are told to stop.
bool awaitStart(Line& line)
{
    const Clock::time_point until = Clock::now() + std::chrono::seconds(60);
    while (!g_stop && Clock::now() < until) {
        pollfd p{line.master(), POLLIN, 0};
        ::poll(&p, 1, 100);
        if (line.receive())
            return true;
    }
    std::fprintf(stderr, "line-driver: no START command came\n");
    return false;
}

// Waits for whatever the poll set reports, at most until the given time.
void waitFor(pollfd* fds, int n, Clock::duration timeout)
{
    const auto ns = std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count());
    const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    ::ppoll(fds, static_cast<nfds_t>(n), &ts, nullptr);
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
    return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

int latency(const Options& o, Line& line, LogWatch& log, const std::vector<unsigned char>& data)
{
    const bool paced = o.rate > 0;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(paced ? 1.0 / o.rate : 0.0));
    std::minstd_rand random(960);
    std::uniform_int_distribution<int> pauseUs(2000, 4000);

    std::vector<Clock::time_point> sentAt;
    sentAt.reserve(data.size());
    // The first reading once the window has drawn what START changed in it, so that its picture
    // is one of its own.
    Clock::time_point next = Clock::now() + std::chrono::milliseconds(200);
    Clock::time_point progress = next;
    while (log.records() < o.count && !g_stop) {
        Clock::time_point now = Clock::now();
        const long sent = static_cast<long>(sentAt.size());
        const bool due = sent < o.count && now >= next && (paced || log.records() == sent);
        if (due) {
            const Clock::time_point before = Clock::now();
            if (::write(line.master(), &data[static_cast<std::size_t>(sent)], 1) == 1) {
                sentAt.push_back(before);
                next = paced ? next + period : Clock::time_point::max();
            }
            continue;
        }
        pollfd fds[2] = {{log.notifier(), POLLIN, 0}, {line.master(), POLLIN, 0}};
        Clock::duration timeout = kStallLimit;
        if (sent < o.count && next != Clock::time_point::max())
            timeout = next - now;
        waitFor(fds, 2, std::min(timeout, Clock::duration(kStallLimit)));
        now = Clock::now();
        if (fds[1].revents & POLLIN)
            line.receive();
        const long before = log.records();
        if (log.update(now) > before) {
            progress = now;
            if (!paced && log.records() == static_cast<long>(sentAt.size()))
                next = now + std::chrono::microseconds(pauseUs(random));
        } else if (now - progress > kStallLimit) {
            std::fprintf(stderr, "line-driver: the log stopped growing at %ld records\n",
                         log.records());
            break;
        }
    }

    std::vector<double> latencies;
    FILE* times = o.times.empty() ? nullptr : std::fopen(o.times.c_str(), "w");
    if (!o.times.empty() && !times)
        std::perror("line-driver: --times");
    const auto ns = [](Clock::time_point t) {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
    };
    const QChar separator = piezon::captionSeparator(QLocale::system());
    const QString offset = QString::fromLatin1(kStartupOffset);
    double shown = 0; // the needle at rest, the caption "0.00"
    for (long i = 0; i < log.records() && i < static_cast<long>(sentAt.size()); ++i) {
        const Clock::time_point sent = sentAt[static_cast<std::size_t>(i)];
        latencies.push_back(ms(log.loggedAt(i) - sent));
        const double corrected =
            piezon::computeReading(data[static_cast<std::size_t>(i)], offset, separator)->corrected;
        if (times) {
            std::fprintf(times, "%lld %lld %d\n", ns(sent), ns(log.loggedAt(i)),
                         i == 0 || corrected != shown ? 1 : 0);
        }
        shown = corrected;
    }
    if (times)
        std::fclose(times);
    std::printf("sent %zu\nlogged %ld\nexact %s\np50_ms %.3f\np99_ms %.3f\nmax_ms %.3f\n",
                sentAt.size(), log.records(), log.exact() ? "yes" : "no",
                percentile(latencies, 0.50), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
    return log.records() == o.count && log.exact() ? 0 : 1;
}

int burst(const Options& o, Line& line, LogWatch& log, const std::vector<unsigned char>& data)
{
    const Clock::time_point start = Clock::now();
    Clock::time_point lineDone{};
    Clock::time_point progress = start;
    std::size_t written = 0;
    while (log.records() < o.count && !g_stop) {
        while (written < data.size()) {
            const ssize_t n = ::write(line.master(), data.data() + written, data.size() - written);
            if (n <= 0)
                break;
            written += static_cast<std::size_t>(n);
            if (written == data.size())
                lineDone = Clock::now();
        }
        pollfd fds[2] = {{log.notifier(), POLLIN, 0}, {line.master(), POLLIN, 0}};
        if (written < data.size())
            fds[1].events |= POLLOUT;
        waitFor(fds, 2, std::chrono::milliseconds(100));
        const Clock::time_point now = Clock::now();
        if (fds[1].revents & POLLIN)
            line.receive();
        const long before = log.records();
        if (log.update(now) > before) {
            progress = now;
        } else if (now - progress > kStallLimit) {
            std::fprintf(stderr, "line-driver: the log stopped growing at %ld records\n",
                         log.records());
            break;
        }
    }
    const double allSeconds =
        log.records() > 0 ? ms(log.loggedAt(log.records() - 1) - start) / 1000 : -1;
    std::printf("sent %zu\nlogged %ld\nexact %s\nline_s %.3f\nall_s %.3f\nrate %.0f\n", written,
                log.records(), log.exact() ? "yes" : "no",
                lineDone == Clock::time_point{} ? -1.0 : ms(lineDone - start) / 1000, allSeconds,
                allSeconds > 0 ? static_cast<double>(log.records()) / allSeconds : 0.0);
    return log.records() == o.count && log.exact() ? 0 : 1;
}

int usage()
{
    std::fputs("usage: line-driver latency|burst --dir DIR --log FILE --count N [--rate R] "
               "[--times FILE]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (argc < 2)
        return usage();
    o.mode = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--dir")
            o.dir = argv[i + 1];
        else if (a == "--log")
            o.log = argv[i + 1];
        else if (a == "--count")
            o.count = std::atol(argv[i + 1]);
        else if (a == "--rate")
            o.rate = std::atof(argv[i + 1]);
        else if (a == "--times")
            o.times = argv[i + 1];
        else
            return usage();
    }
    if ((o.mode != "latency" && o.mode != "burst") || o.dir.empty() || o.log.empty() ||
        o.count <= 0 || o.rate < 0)
        return usage();

    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM})
        ::sigaction(sig, &action, nullptr);

    Line line;
    if (!line.open(o.dir))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);

    const std::vector<unsigned char> data = readings(o.count);
    LogWatch log(data);
    if (!awaitStart(line) || !log.open(o.log))
        return 1;
    const int status =
        o.mode == "latency" ? latency(o, line, log, data) : burst(o, line, log, data);
    std::printf("done\n");
    std::fflush(stdout);

    while (!g_stop) {
        pollfd p{line.master(), POLLIN, 0};
        ::poll(&p, 1, 200);
        line.receive();
    }
    return status;
}
