#pragma once

#include <QString>

#include <optional>

// What the process needs of its platform before the window exists
// (process_setup_unix.cpp, process_setup_win.cpp).
namespace piezon::process
{

// Whether the window can be opened at all: a display to open it on (Linux), the platform plugin
// beside the program, present and loadable (Windows). The toolkit would only abort without it.
// When it cannot, the operator has been told why, in Russian, and this is the status to end with.
std::optional<int> cannotStart();

// The toolkit gave up opening the window after all (a display it cannot reach, a plugin it
// cannot use): tells the operator as cannotStart() does, and ends the process.
[[noreturn]] void abandonStart(const QString& toolkitMessage);

// Settings that keep a fault an ordinary, reported failure instead of the end of the process,
// and those the toolkit must find before the application object is made; on Windows also a
// mark, for the installer, that the program is running.
void prepare();

// Gives back to the system the memory the program has freed but its allocator still holds: a
// session's kept pictures are replaced all along it, and those it let go leave free pages
// scattered through the heap. Called when a session ends, when nothing waits on it.
void releaseFreeMemory();

} // namespace piezon::process
