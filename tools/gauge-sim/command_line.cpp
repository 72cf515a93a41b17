#include "command_line.h"

#include "report.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <unistd.h>

namespace gauge_sim
{

namespace
{

constexpr double kMaxRate = 960; // 9600 baud, 10 bits a byte

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

} // namespace

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

} // namespace gauge_sim
