#pragma once

#include <QPixmap>
#include <QRegion>

class QImage;
class QPainter;

namespace piezon
{

// Copies the parts of a picture drawn once (at the widget's pixel ratio) that a repaint asks for.
// Used by every widget that the needle's moves repaint, up to 60 times a second.
void paintCachedPicture(QPainter& painter, const QPixmap& picture, const QRegion& region);

// Pictures are copied in strips of this many rows: Qt hands a copy of more than about a hundred
// scanlines to its thread pool, and at the rate the needle repaints, the hand-off between
// threads costs far more than the copy itself.
constexpr int kPictureStripRows = 16;

// What the needle's and the caption's kept pictures may hold, in bytes of pixels at a pixel
// ratio of 1: 2 MiB together, the largest part of the heap even so. A gauge's readings keep to a
// few dozen values, which fit with room to spare; every position and caption there is (about
// 8 MiB) does not, and the least recently shown go first. A needle's picture is the larger: up to
// 27 KiB at 45 degrees (20 KiB on average), against 6.3 KiB for a caption, so 1.5 MiB keeps at
// least 56 positions at any angle (78 of the average size) and 0.5 MiB 81 captions.
constexpr qsizetype kNeedlePicturesBytes = qsizetype(1536) << 10;
constexpr qsizetype kCaptionPicturesBytes = qsizetype(512) << 10;

// The same budget on a screen of another pixel ratio: every picture there holds ratio² as many
// pixels, and the widgets keep as many pictures as at a ratio of 1.
qsizetype scaledPictureBytes(qsizetype bytesAtRatio1, qreal ratio);

// The bytes of pixels a picture holds.
qsizetype pictureBytes(const QImage& picture);
qsizetype pictureBytes(const QPixmap& picture);

} // namespace piezon
