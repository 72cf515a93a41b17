#include "command_stream.h"

#include <utility>

namespace gauge_sim
{

CommandStream::CommandStream(std::string start, std::string stop)
    : m_start(std::move(start)), m_stop(std::move(stop))
{
}

bool CommandStream::isPrefixOfACommand() const
{
    const auto beginsWith = [this](const std::string& command) {
        return m_pending.size() < command.size() &&
               command.compare(0, m_pending.size(), m_pending) == 0;
    };
    return beginsWith(m_start) || beginsWith(m_stop);
}

CommandStream::Result CommandStream::feed(const unsigned char* data, std::size_t size)
{
    Result out;
    for (std::size_t i = 0; i < size; ++i) {
        m_pending.push_back(static_cast<char>(data[i]));
        for (;;) {
            if (m_pending == m_start || m_pending == m_stop) {
                out.commands.push_back(m_pending == m_start ? Event::Start : Event::Stop);
                m_pending.clear();
                break;
            }
            if (isPrefixOfACommand())
                break;
            // The oldest byte cannot begin a command; a later one still might.
            out.stray.push_back(static_cast<unsigned char>(m_pending.front()));
            m_pending.erase(0, 1);
            if (m_pending.empty())
                break;
        }
    }
    return out;
}

CommandStream::Result CommandStream::flush()
{
    Result out;
    out.stray.assign(m_pending.begin(), m_pending.end());
    m_pending.clear();
    return out;
}

} // namespace gauge_sim
