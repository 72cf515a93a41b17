#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace gauge_sim
{

// Picks the gauge's two commands out of the bytes the program sends. The gauge has no framing,
// so a command is recognised only as its exact 16 bytes; anything else is a stray byte, and a
// command that stops halfway is stray too once the line has been quiet for a while.
class CommandStream
{
public:
    enum class Event { Start, Stop };

    struct Result {
        std::vector<Event> commands;
        std::vector<unsigned char> stray; // in the order received
    };

    CommandStream(std::string start, std::string stop);

    Result feed(const unsigned char* data, std::size_t size);
    // The line went quiet (or the simulator ends) in the middle of something: it is stray.
    Result flush();

    bool midCommand() const { return !m_pending.empty(); }

private:
    bool isPrefixOfACommand() const;

    std::string m_start;
    std::string m_stop;
    std::string m_pending;
};

} // namespace gauge_sim
