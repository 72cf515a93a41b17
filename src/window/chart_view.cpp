#include "window/chart_view.h"

#include <QMouseEvent>
#include <QPainter>

namespace piezon
{

ChartView::ChartView(QWidget* parent) : QWidget(parent)
{
    // The chart is where the keys go when the window opens: no field blinks a cursor at the
    // operator until they tab into one.
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    // drawChart covers every pixel: nothing behind it needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartView::setScene(const ChartScene& scene)
{
    m_scene = scene;
    update();
}

ChartScene ChartView::shownScene() const
{
    ChartScene scene = m_scene;
    scene.hoverMs = m_hover ? m_hover : m_pointed;
    return scene;
}

void ChartView::pointAt(std::optional<qint64> ms)
{
    if (m_pointed == ms)
        return;
    m_pointed = ms;
    update();
}

QSize ChartView::sizeHint() const
{
    return {520, 300};
}

QSize ChartView::minimumSizeHint() const
{
    return {200, 140};
}

void ChartView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawChart(painter, QRectF(rect()), shownScene());
}

void ChartView::mousePressEvent(QMouseEvent* event)
{
    m_dragFrom.reset();
    const QRectF plot = chartPlotArea(*this, QRectF(rect()));
    if (event->button() == Qt::LeftButton && m_scene.history &&
        plot.adjusted(-1, 0, 1, 0).contains(event->position()))
        m_dragFrom = chartTimeAt(plot, m_scene, event->position().x());
    QWidget::mousePressEvent(event);
}

void ChartView::mouseMoveEvent(QMouseEvent* event)
{
    const QRectF plot = chartPlotArea(*this, QRectF(rect()));
    const QPointF at = event->position();
    if (m_dragFrom && (event->buttons() & Qt::LeftButton))
        emit spanDragged(*m_dragFrom, chartTimeAt(plot, m_scene, at.x()));
    std::optional<qint64> hover;
    if (m_scene.history && plot.adjusted(-1, 0, 1, 0).contains(at))
        hover = chartTimeAt(plot, m_scene, at.x());
    if (hover != m_hover) {
        m_hover = hover;
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void ChartView::leaveEvent(QEvent* event)
{
    if (m_hover) {
        m_hover.reset();
        update();
    }
    QWidget::leaveEvent(event);
}

} // namespace piezon
