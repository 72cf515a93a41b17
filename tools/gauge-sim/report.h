#pragma once

namespace gauge_sim
{

// One line on stderr, after "gauge-sim: ": everything the simulator has to say but the link's
// path and "ready", which go to stdout for the caller to wait on.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace gauge_sim
