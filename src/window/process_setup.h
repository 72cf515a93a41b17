#pragma once

// What the process needs of its platform before the window exists
// (process_setup_unix.cpp, process_setup_win.cpp).
namespace piezon::process
{

// Whether there is a display to open the window on; the toolkit would abort without one.
bool displayAvailable();

// Settings that keep a fault an ordinary, reported failure instead of the end of the process.
void prepare();

} // namespace piezon::process
