#pragma once

#include "command_line.h"

#include <chrono>
#include <cstddef>
#include <random>
#include <string>

namespace gauge_sim
{

using Clock = std::chrono::steady_clock;

// The bytes of --sequence FILE or --stdin, read whole into `sequence` (left empty without
// either). 0 to go on; otherwise the exit status, the reason said on stderr.
int loadSequence(const Options& options, std::string* sequence);

// A vessel's pressure drifting slowly around 3.5 kgf/cm2: a slow swell, a faster ripple and a
// raw unit of sensor noise. Follows the clock, not the reading count, so the curve goes on
// smoothly across sessions and does not depend on the rate.
class PressureModel
{
public:
    unsigned char reading(double seconds);

private:
    std::minstd_rand m_random{20240601};
    std::uniform_int_distribution<int> m_noise{-1, 1};
};

// What the gauge sends, one reading at a time: a fixed sequence from its first byte at every
// START (over again when it ends, with --repeat), or without one the simulated pressure. When
// and how many the line decides.
class Profile
{
public:
    Profile(std::string sequence, bool repeat);

    // A new session: a sequence starts over.
    void restart() { m_position = 0; }
    // A sequence without --repeat has been sent whole: the gauge goes quiet.
    bool exhausted() const
    {
        return !m_sequence.empty() && !m_repeat && m_position >= m_sequence.size();
    }
    unsigned char next(Clock::time_point now);

private:
    std::string m_sequence;
    bool m_repeat;
    std::size_t m_position = 0;
    PressureModel m_model;
    Clock::time_point m_began = Clock::now(); // the model's time zero
};

} // namespace gauge_sim
