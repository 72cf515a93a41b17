#pragma once

#include <QPixmap>
#include <QWidget>

namespace piezon
{

// Shape1: the needle's hub, a grey disc over the pivot that hides the needle's inner end.
class HubShape : public QWidget
{
    Q_OBJECT
public:
    explicit HubShape(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_cache;
};

} // namespace piezon
