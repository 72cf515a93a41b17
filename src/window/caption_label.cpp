#include "window/caption_label.h"

#include "dial/cached_picture.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

#include <memory>

namespace piezon
{

CaptionLabel::CaptionLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent), m_pictures(kCaptionPicturesBytes)
{
    // The picture covers the whole label, its background included.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QPixmap CaptionLabel::picture(const QString& text) const
{
    const qreal ratio = devicePixelRatioF();
    if (ratio != m_ratio || alignment() != m_alignment) {
        m_pictures.clear();
        m_pictures.setMaxCost(scaledPictureBytes(kCaptionPicturesBytes, ratio));
        m_ratio = ratio;
        m_alignment = alignment();
    }
    if (const QPixmap* kept = m_pictures.object(text))
        return *kept;
    auto drawn = std::make_unique<QPixmap>(size() * ratio);
    drawn->setDevicePixelRatio(ratio);
    drawn->fill(palette().color(backgroundRole()));
    {
        // What QLabel::paintEvent does for plain text without margins, indent or frame, which
        // is all this label ever shows.
        QPainter p(drawn.get());
        p.setFont(font());
        style()->drawItemText(&p, contentsRect(),
                              QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                              isEnabled(), text, foregroundRole());
    }
    ++m_picturesDrawn;
    const QPixmap result = *drawn;
    // One larger than the whole budget is not kept, and pushes nothing out.
    m_pictures.insert(text, drawn.release(), pictureBytes(result));
    return result;
}

void CaptionLabel::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.drawPixmap(
        event->rect(), picture(text()),
        QRectF(QPointF(event->rect().topLeft()) * m_ratio, QSizeF(event->rect().size()) * m_ratio));
}

void CaptionLabel::changeEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::EnabledChange:
    case QEvent::LayoutDirectionChange:
        m_pictures.clear();
        break;
    default:
        break;
    }
    QLabel::changeEvent(event);
}

void CaptionLabel::resizeEvent(QResizeEvent* event)
{
    m_pictures.clear();
    QLabel::resizeEvent(event);
}

} // namespace piezon
