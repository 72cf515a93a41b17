#pragma once

#include "chart/chart_drawing.h"

#include <QWidget>

#include <optional>

namespace piezon
{

// The session's chart on screen: drawn by drawChart, the reading nearest the pointer pointed
// out with its time and value.
class ChartView : public QWidget
{
    Q_OBJECT
public:
    explicit ChartView(QWidget* parent = nullptr);

    // What to show; the chart is drawn again.
    void setScene(const ChartScene& scene);
    // The scene as it is drawn, the pointer's time included.
    ChartScene shownScene() const;
    // A moment to point out while the pointer is elsewhere (the maximum or the minimum the
    // operator asked to see); none clears it.
    void pointAt(std::optional<qint64> ms);
    std::optional<qint64> pointed() const { return m_pointed; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The left button drawn across the readings, from one time to another (ms since START), as
    // it goes.
    void spanDragged(qint64 fromMs, qint64 toMs);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ChartScene m_scene;
    std::optional<qint64> m_hover; // the pointer's time
    std::optional<qint64> m_pointed;
    std::optional<qint64> m_dragFrom;
};

} // namespace piezon
