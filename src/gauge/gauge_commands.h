#pragma once

#include <QByteArray>

namespace piezon
{

// The gauge understands exactly these 16 bytes (Windows-1251), nothing before or after.
// "ZKW5kqTwuжrщbЮON"
inline QByteArray startCommand()
{
    return QByteArray("ZKW5kqTwu\xE6r\xF9"
                      "b\xDEON",
                      16);
}

// "ZKWtRgшфpzH^ЖOFF"
inline QByteArray stopCommand()
{
    return QByteArray("ZKWtRg\xF8\xF4pzH^\xC6OFF", 16);
}

} // namespace piezon
