#include "window/console_text.h"

#include <cstdio>

namespace piezon::console
{

void print(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

void printError(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stderr);
}

} // namespace piezon::console
