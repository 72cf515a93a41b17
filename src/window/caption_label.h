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
// A gauge's byte has 256 values, so a session shows a few hundred captions at most.
class CaptionLabel : public QLabel
{
    Q_OBJECT
public:
    explicit CaptionLabel(const QString& text, QWidget* parent = nullptr);

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
};

} // namespace piezon
