#pragma once

#include <optional>

namespace piezon
{

// The program's options: --list-ports, --help, --version. Without arguments there is nothing to
// do here (std::nullopt) and the window starts; otherwise the option is carried out, without a
// display, and its exit status returned: 0, or 2 with a short usage text for anything else.
std::optional<int> runCommandLine(int argc, char* argv[]);

} // namespace piezon
