#pragma once

#include <string>

namespace gauge_sim
{

constexpr double kDefaultRate = 10; // readings a second, a real gauge's pace

struct Options {
    std::string dir; // the full path, once parsed
    long long port = 1;
    bool force = false;
    double rate = kDefaultRate; // 0: as fast as the line takes them
    std::string sequenceFile;
    bool fromStdin = false;
    bool repeat = false;
    long long count = -1;      // readings in each session; -1: no limit
    long long closeAfter = -1; // readings in all before hanging up; -1: never
    std::string receivedFile;
    bool verbose = false;
};

// 0 to go on; -1 when --help has been answered (exit 0); otherwise the exit status, the reason
// said on stderr.
int parseOptions(int argc, char** argv, Options* o);

} // namespace gauge_sim
