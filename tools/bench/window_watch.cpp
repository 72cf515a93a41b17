// window-watch: what the X server sees of the program's window, for the benchmarks.
//
//   window-watch startup [--idle-ms N] [--timeout-ms N] -- PROGRAM [ARGS...]
//       Starts PROGRAM and prints, one "key value" pair a line:
//         mapped_ms   from exec to the program's top-level window being mapped (viewable)
//         painted_ms  from exec to the first picture put into that window
//         painted_px  how many pixels that first picture covered
//         rss_kb      the program's resident memory N ms (default 1000) after that picture
//       then ends the program with SIGTERM.
//   window-watch frames --window ID --seconds S [--times FILE [--log LOG]]
//       Counts how often the window's picture changes during S seconds (or until SIGTERM) and
//       prints
//         frames      updates, each the burst of rectangles one repaint puts on screen
//         per_s       frames a second
//         max_1s      the most frames in any one second
//         rects       rectangles put, in all
//       With --times, FILE gets the moment each frame began, one a line, in nanoseconds of the
//       monotonic clock (the one line-driver's times are in). With --log as well, each line also
//       holds how many records (lines) LOG held when the frame's first rectangle came in: the
//       program writes a batch's records before it draws the batch, so those are the readings
//       the frame can show. (It could miscount only if this watcher were a whole batch late.)
//   window-watch close --window ID
//       Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW):
//       the tests' X server has no window manager to do it.
//
// The first two use the DAMAGE extension, spoken here directly so that no extension library is
// needed. The exit status is 1 when the program or the window does not behave, 2 on a usage error.

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

xcb_extension_t g_damage = {"DAMAGE", 0};

// DamageNotify as it comes off the wire.
struct DamageNotify {
    uint8_t responseType;
    uint8_t level;
    uint16_t sequence;
    uint32_t drawable;
    uint32_t damage;
    uint32_t timestamp;
    int16_t x, y;
    uint16_t width, height;
    int16_t geometryX, geometryY;
    uint16_t geometryWidth, geometryHeight;
};
static_assert(sizeof(DamageNotify) == 32, "an X event is 32 bytes");

class Display
{
public:
    bool connect()
    {
        m_c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_c)) {
            std::fprintf(stderr, "window-watch: cannot reach the X display\n");
            return false;
        }
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(m_c, &g_damage);
        if (!ext || !ext->present) {
            std::fprintf(stderr, "window-watch: the X server has no DAMAGE extension\n");
            return false;
        }
        m_damageEvent = ext->first_event;
        // The server answers nothing else of DAMAGE until the client has said which version it
        // speaks.
        struct {
            uint8_t major, minor;
            uint16_t length;
            uint32_t clientMajor, clientMinor;
        } query = {0, 0, 0, 1, 1};
        iovec parts[3];
        parts[2] = {&query, sizeof query};
        const xcb_protocol_request_t request = {1, &g_damage, 0 /* QueryVersion */, 0};
        const unsigned seq = xcb_send_request(m_c, XCB_REQUEST_CHECKED, parts + 2, &request);
        xcb_generic_error_t* error = nullptr;
        void* reply = xcb_wait_for_reply(m_c, seq, &error);
        std::free(reply);
        if (error) {
            std::free(error);
            std::fprintf(stderr, "window-watch: DAMAGE refused its version query\n");
            return false;
        }
        return true;
    }

    ~Display()
    {
        if (m_c)
            xcb_disconnect(m_c);
    }

    xcb_connection_t* c() const { return m_c; }
    xcb_window_t root() const { return m_root; }
    uint8_t damageEvent() const { return m_damageEvent; }

    // Reports every rectangle drawn into the window from now on.
    void watchDrawing(xcb_window_t window)
    {
        struct {
            uint8_t major, minor;
            uint16_t length;
            uint32_t damage, drawable;
            uint8_t level, pad[3];
        } create = {0, 0, 0, xcb_generate_id(m_c), window, 0 /* raw rectangles */, {0, 0, 0}};
        iovec parts[3];
        parts[2] = {&create, sizeof create};
        const xcb_protocol_request_t request = {1, &g_damage, 1 /* Create */, 1};
        xcb_send_request(m_c, 0, parts + 2, &request);
        xcb_flush(m_c);
    }

    void watchNewWindows()
    {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_c);
    }

    uint32_t windowPid(xcb_window_t window)
    {
        const xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 1, 11, "_NET_WM_PID"), nullptr);
        if (!atom)
            return 0;
        const xcb_atom_t pidAtom = atom->atom;
        std::free(const_cast<xcb_intern_atom_reply_t*>(atom));
        xcb_get_property_reply_t* prop = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        uint32_t pid = 0;
        if (prop && xcb_get_property_value_length(prop) == 4)
            std::memcpy(&pid, xcb_get_property_value(prop), 4);
        std::free(prop);
        return pid;
    }

    // The next event, or null when none came within the time left.
    // The server reports a window's whole area as damaged when it is first watched: that is no
    // picture of the program's. Everything it sent before answering a later request is dropped.
    void dropCreationReport()
    {
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
        while (xcb_generic_event_t* e = xcb_poll_for_queued_event(m_c))
            std::free(e);
    }

    xcb_generic_event_t* next(int timeoutMs)
    {
        if (xcb_generic_event_t* e = xcb_poll_for_event(m_c))
            return e;
        pollfd p{xcb_get_file_descriptor(m_c), POLLIN, 0};
        if (::poll(&p, 1, std::max(0, timeoutMs)) <= 0)
            return nullptr;
        return xcb_poll_for_event(m_c);
    }

private:
    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
    uint8_t m_damageEvent = 0;
};

long residentKb(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(f);
    return kb;
}

int startup(int idleMs, int timeoutMs, char** program)
{
    Display x;
    if (!x.connect())
        return 1;
    x.watchNewWindows();

    const Clock::time_point exec = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("window-watch: fork");
        return 1;
    }
    if (pid == 0) {
        ::execv(program[0], program);
        std::perror("window-watch: exec");
        std::_Exit(127);
    }

    const auto finish = [pid](int status) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        return status;
    };

    xcb_window_t window = 0;
    double mapped = -1;
    double painted = -1;
    long paintedPixels = 0;
    while (painted < 0) {
        const double left = timeoutMs - msSince(exec);
        if (left <= 0) {
            std::fprintf(stderr, "window-watch: no window %s within %d ms\n",
                         window ? "painted" : "mapped", timeoutMs);
            return finish(1);
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "window-watch: the program ended before its window showed\n");
            return 1;
        }
        xcb_generic_event_t* e = x.next(static_cast<int>(std::min(left, 50.0)));
        if (!e)
            continue;
        const uint8_t type = e->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            // Watched from its creation on, so that no picture put right after mapping is missed.
            x.watchDrawing(reinterpret_cast<xcb_create_notify_event_t*>(e)->window);
        } else if (type == XCB_MAP_NOTIFY && !window) {
            const xcb_window_t w = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
            if (x.windowPid(w) == static_cast<uint32_t>(pid)) {
                mapped = msSince(exec);
                window = w;
            }
        } else if (type == x.damageEvent() && window) {
            const auto* d = reinterpret_cast<const DamageNotify*>(e);
            if (d->drawable == window) {
                painted = msSince(exec);
                paintedPixels = long(d->width) * d->height;
            }
        }
        std::free(e);
    }

    ::usleep(static_cast<useconds_t>(idleMs) * 1000);
    const long rss = residentKb(pid);
    std::printf("mapped_ms %.1f\npainted_ms %.1f\npainted_px %ld\nrss_kb %ld\n", mapped, painted,
                paintedPixels, rss);
    return finish(0);
}

// Counts the lines of a file that another program appends to; the file may not exist yet.
class LineCount
{
public:
    explicit LineCount(std::string path) : m_path(std::move(path)) {}
    ~LineCount()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    long now()
    {
        if (m_fd < 0 && (m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC)) < 0)
            return 0;
        char buf[65536];
        ssize_t n;
        while ((n = ::read(m_fd, buf, sizeof buf)) > 0)
            m_lines += std::count(buf, buf + n, '\n');
        return m_lines;
    }

private:
    std::string m_path;
    int m_fd = -1;
    long m_lines = 0;
};

int frames(xcb_window_t window, double seconds, const std::string& timesPath,
           const std::string& logPath)
{
    Display x;
    if (!x.connect())
        return 1;
    x.watchDrawing(window);
    x.dropCreationReport();
    FILE* times = nullptr;
    if (!timesPath.empty() && !(times = std::fopen(timesPath.c_str(), "w"))) {
        std::perror("window-watch: --times");
        return 1;
    }
    LineCount records(logPath);
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);

    // One repaint puts its rectangles one after another; a frame is a burst of them with no
    // pause of more than this between two. Repaints themselves are at least a frame (16 ms)
    // apart.
    constexpr double kBurstGapMs = 4.0;
    const Clock::time_point start = Clock::now();
    long frameCount = 0;
    long rects = 0;
    double lastRect = -1e9;
    std::deque<double> lastSecond;
    std::size_t maxPerSecond = 0;
    while (!g_stop) {
        const double left = seconds * 1000 - msSince(start);
        if (left <= 0)
            break;
        xcb_generic_event_t* e = x.next(static_cast<int>(std::min(left, 50.0)) + 1);
        if (!e) {
            if (xcb_connection_has_error(x.c()))
                return 1;
            continue;
        }
        if ((e->response_type & 0x7f) == x.damageEvent()) {
            const double now = msSince(start);
            ++rects;
            if (now - lastRect > kBurstGapMs) {
                ++frameCount;
                if (times) {
                    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        Clock::now().time_since_epoch());
                    if (logPath.empty())
                        std::fprintf(times, "%lld\n", static_cast<long long>(ns.count()));
                    else
                        std::fprintf(times, "%lld %ld\n", static_cast<long long>(ns.count()),
                                     records.now());
                }
                lastSecond.push_back(now);
                while (!lastSecond.empty() && lastSecond.front() <= now - 1000)
                    lastSecond.pop_front();
                maxPerSecond = std::max(maxPerSecond, lastSecond.size());
            }
            lastRect = now;
        } else if (e->response_type == 0) {
            std::fprintf(stderr,
                         "window-watch: the X server refused a request (no such window?)\n");
            std::free(e);
            return 1;
        }
        std::free(e);
    }
    if (times)
        std::fclose(times);
    const double watched = std::min(seconds, msSince(start) / 1000);
    std::printf("frames %ld\nper_s %.1f\nmax_1s %zu\nrects %ld\n", frameCount, frameCount / watched,
                maxPerSecond, rects);
    return 0;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

int closeWindow(xcb_window_t window)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "window-watch: cannot reach the X display\n");
        xcb_disconnect(c);
        return 1;
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(c, "WM_PROTOCOLS");
    message.data.data32[0] = atom(c, "WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    const xcb_void_cookie_t sent = xcb_send_event_checked(c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                                          reinterpret_cast<const char*>(&message));
    xcb_generic_error_t* error = xcb_request_check(c, sent);
    xcb_disconnect(c);
    if (error) {
        std::free(error);
        std::fprintf(stderr, "window-watch: no such window\n");
        return 1;
    }
    return 0;
}

int usage()
{
    std::fputs("usage: window-watch startup [--idle-ms N] [--timeout-ms N] -- PROGRAM [ARGS...]\n"
               "       window-watch frames --window ID --seconds S [--times FILE [--log LOG]]\n"
               "       window-watch close --window ID\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string mode = argv[1];
    int idleMs = 1000;
    int timeoutMs = 20000;
    long window = 0;
    double seconds = 0;
    std::string timesPath;
    std::string logPath;
    int i = 2;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--")
            break;
        if (i + 1 >= argc)
            return usage();
        if (a == "--idle-ms")
            idleMs = std::atoi(argv[++i]);
        else if (a == "--timeout-ms")
            timeoutMs = std::atoi(argv[++i]);
        else if (a == "--window")
            window = std::strtol(argv[++i], nullptr, 0);
        else if (a == "--seconds")
            seconds = std::atof(argv[++i]);
        else if (a == "--times")
            timesPath = argv[++i];
        else if (a == "--log")
            logPath = argv[++i];
        else
            return usage();
    }
    if (mode == "startup" && i + 1 < argc)
        return startup(idleMs, timeoutMs, argv + i + 1);
    if (mode == "frames" && window > 0 && seconds > 0)
        return frames(static_cast<xcb_window_t>(window), seconds, timesPath, logPath);
    if (mode == "close" && window > 0)
        return closeWindow(static_cast<xcb_window_t>(window));
    return usage();
}
