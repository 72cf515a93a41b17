#include "report.h"

#include <cstdarg>
#include <cstdio>

namespace gauge_sim
{

void say(const char* format, ...)
{
    std::fputs("gauge-sim: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

} // namespace gauge_sim
