#pragma once

#include <QCache>
#include <QLabel>
#include <QPixmap>

namespace piezon
{

// Label1: the reading as a number, drawn as a QLabel draws it. A busy line changes it up to 30
// times a second and the needle repaints it on every move across it; laying out and drawing the
// digits each time cost a sixth of the program's painting. The finished picture of each caption
// (its background and digits in the label's palette and font) is kept, so a repaint is a copy.
// A gauge's byte has 256 values at each of 61 offsets; the pictures kept are bounded in bytes
// (cached_picture.h), the least recently shown going first.
class CaptionLabel : public QLabel
{
    Q_OBJECT
public:
    explicit CaptionLabel(const QString& text, QWidget* parent = nullptr);

    // How many pictures are kept and the bytes of pixels they hold, and how many pictures were
    // drawn so far (a repaint that finds its picture kept draws none).
    qsizetype keptCount() const { return m_pictures.size(); }
    qsizetype keptBytes() const { return m_pictures.totalCost(); }
    int picturesDrawn() const { return m_picturesDrawn; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPixmap picture(const QString& text) const;

    // Each picture for the colours, font, size, alignment and pixel ratio it was drawn with:
    // any change of those (a grey caption while the link is lost) throws them all away.
    mutable QCache<QString, QPixmap> m_pictures;
    mutable qreal m_ratio = 0;
    mutable Qt::Alignment m_alignment;
    mutable int m_picturesDrawn = 0;
};

} // namespace piezon
