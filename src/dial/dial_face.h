#pragma once

#include <QPixmap>
#include <QWidget>

namespace piezon
{

// The dial picture: 240 x 240 logical pixels, black disc, scale 0-8 kgf/cm2, unit, centre dot.
// Drawn at the given device-pixel ratio so it stays sharp on high-density screens.
QPixmap renderDialFace(qreal devicePixelRatio);

// Image1: shows the face at its natural size, drawn once per device-pixel ratio and then only
// copied from the cache.
class DialFace : public QWidget
{
    Q_OBJECT
public:
    explicit DialFace(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_cache;
};

} // namespace piezon
