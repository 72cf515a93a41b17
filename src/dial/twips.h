#pragma once

#include <QRect>
#include <QtGlobal>

namespace piezon
{

// The layout is given in twips; at 96 dots per inch 15 of them make a pixel.
constexpr int kTwipsPerPixel = 15;

inline QRect twipsRect(int left, int top, int width, int height)
{
    return {qRound(left / double(kTwipsPerPixel)), qRound(top / double(kTwipsPerPixel)),
            qRound(width / double(kTwipsPerPixel)), qRound(height / double(kTwipsPerPixel))};
}

} // namespace piezon
