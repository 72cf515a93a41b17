#pragma once

#include "dial/needle_geometry.h"

#include <QColor>
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

    // Moves the needle; repaints only narrow boxes along the old and the new needle.
    void setLine(const Line& line);
    const Line& line() const { return m_line; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRegion area(const Line& line) const;

    Line m_line = kLine1AtRest;
    QColor m_color{255, 0, 0};
};

} // namespace piezon
