#pragma once

#include "command_line.h"
#include "command_stream.h"
#include "profiles.h"

#include <string>

namespace gauge_sim
{

// The gauge's end of the line: a pseudo-terminal whose other end is linked as COMn, the START
// and STOP it hears there, and the profile's readings sent at the rate while a session runs.
class Line
{
public:
    // `options` must outlive the line; a byte on `signalFd` ends run().
    Line(const Options& options, Profile profile, int signalFd);
    ~Line();

    // The exit status: 0 after a signal or --close-after's hang-up, 1 on a failure.
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
    Profile m_profile;
    int m_signalFd;
    CommandStream m_commands;

    int m_master = -1;
    int m_slave = -1; // ours too, so the line outlives the program's closing of the port
    int m_received = -1;
    std::string m_device;
    std::string m_link;
    bool m_linked = false;

    bool m_streaming = false;
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

} // namespace gauge_sim
