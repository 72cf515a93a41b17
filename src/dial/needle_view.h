#pragma once

#include "dial/needle_geometry.h"

#include <QByteArray>
#include <QCache>
#include <QColor>
#include <QImage>
#include <QWidget>

namespace piezon
{

// Line1: the red needle, 7 pixels wide, drawn over whatever lies under it. The widget covers the
// dial; positions are the window's twips, 15 to a pixel.
class NeedleView : public QWidget
{
    Q_OBJECT
public:
    explicit NeedleView(QWidget* parent = nullptr);

    // Moves the needle; repaints only the boxes around the old and the new needle.
    void setLine(const Line& line);
    const Line& line() const { return m_line; }

    // Pure red while the needle shows a live reading; darker when the reading is not live.
    static QColor liveColor() { return QColor(255, 0, 0); }
    static QColor staleColor() { return QColor(128, 0, 0); }
    void setColor(const QColor& color);
    QColor color() const { return m_color; }

    // The bytes of pixels the kept pictures hold, and how many pictures were drawn so far (a
    // repaint that finds its picture kept draws none).
    qsizetype keptBytes() const { return m_pictures.totalCost(); }
    int picturesDrawn() const { return m_picturesDrawn; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect area(const Line& line) const;
    // The needle as it is now, drawn once per position and colour; *at is where its top left
    // goes, in device pixels.
    QImage picture(QPoint* at) const;

    Line m_line = kLine1AtRest;
    QColor m_color = liveColor();
    // A busy line moves the needle 30 times a second, mostly between positions it has held
    // before (a byte has 256 values); copying a kept picture costs a fraction of stroking the
    // anti-aliased line again. Bounded in bytes (cached_picture.h), all drawn at m_ratio.
    mutable QCache<QByteArray, QImage> m_pictures;
    mutable qreal m_ratio = 0;
    mutable int m_picturesDrawn = 0;
};

} // namespace piezon
