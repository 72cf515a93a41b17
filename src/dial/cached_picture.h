#pragma once

#include <QPixmap>
#include <QRegion>

class QPainter;

namespace piezon
{

// Copies the parts of a picture drawn once (at the widget's pixel ratio) that a repaint asks for.
// Used by every widget that the needle's moves repaint, up to 60 times a second.
void paintCachedPicture(QPainter& painter, const QPixmap& picture, const QRegion& region);

} // namespace piezon
