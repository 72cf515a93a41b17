#include "profiles.h"

#include "report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace gauge_sim
{

namespace
{

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

} // namespace

int loadSequence(const Options& options, std::string* sequence)
{
    if (!options.fromStdin && options.sequenceFile.empty())
        return 0;
    const int fd =
        options.fromStdin ? STDIN_FILENO : ::open(options.sequenceFile.c_str(), O_RDONLY);
    if (fd < 0 || !readAll(fd, sequence)) {
        say("%s: %s", options.fromStdin ? "stdin" : options.sequenceFile.c_str(),
            std::strerror(errno));
        return 1;
    }
    if (fd != STDIN_FILENO)
        ::close(fd);
    if (sequence->empty()) {
        say("the sequence is empty");
        return 2;
    }
    return 0;
}

unsigned char PressureModel::reading(double seconds)
{
    constexpr double kTwoPi = 6.283185307179586;
    const double pressure = 3.5 + 1.6 * std::sin(kTwoPi * seconds / 90.0) +
                            0.4 * std::sin(kTwoPi * seconds / 17.0 + 1.0);
    const double raw = pressure * 255.0 / 8.0 + m_noise(m_random);
    return static_cast<unsigned char>(std::clamp(std::lround(raw), 0L, 255L));
}

Profile::Profile(std::string sequence, bool repeat)
    : m_sequence(std::move(sequence)), m_repeat(repeat)
{
}

unsigned char Profile::next(Clock::time_point now)
{
    if (m_sequence.empty())
        return m_model.reading(std::chrono::duration<double>(now - m_began).count());
    if (m_position >= m_sequence.size())
        m_position = 0;
    return static_cast<unsigned char>(m_sequence[m_position++]);
}

} // namespace gauge_sim
