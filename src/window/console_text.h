#pragma once

#include <QString>

// Text for the one who started the program from a command line (console_text_unix.cpp,
// console_text_win.cpp). On Windows the program has no console of its own: it writes into the
// console it was started from, as UTF-8 into a file or pipe it was redirected to, and failing
// both (started from a shortcut with an option) shows the text in a message box.
namespace piezon::console
{

void print(const QString& text);
void printError(const QString& text);

// A copy of what the window tells the operator, for whoever watches the program's error output
// (a terminal, a log of the desktop, a test); nowhere if it has none. Ends the line itself.
void diagnostic(const QString& line);

} // namespace piezon::console
