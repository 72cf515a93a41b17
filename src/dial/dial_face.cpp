#include "dial/dial_face.h"

#include "dial/cached_picture.h"
#include "dial/needle_geometry.h"
#include "dial/program_fonts.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cmath>

namespace piezon
{
namespace
{

constexpr double kCentre = 120.0;
constexpr double kDegreesPerUnit = 32.0; // per kgf/cm2
constexpr int kUnits = 8;

// Marks: radii from the centre and pen widths, in picture pixels.
constexpr double kMajorInner = 89.0;
constexpr double kMinorInner = 91.0;
constexpr double kMarkOuter = 116.0;
constexpr double kMajorWidth = 3.0;
constexpr double kMinorWidth = 1.0;

constexpr double kNumeralRadius = 78.0;
constexpr int kNumeralPixels = 13; // digits come out 9.5 px tall
constexpr int kUnitPixels = 13;    // lower case 6.7 px tall
// The unit's letters are set a little apart, as printed: close set they span 40 px, not 44.
constexpr double kUnitLetterSpacing = 0.6;
constexpr int kSuperscriptPixels = 8;
constexpr double kSuperscriptRise = 4.5; // baseline of the 2 above that of the letters
constexpr double kSuperscriptGap = 0.5;
// Where the whole unit, raised 2 included, is centred: under the pivot, the 2 hanging out to the
// right so that the letters themselves sit straight below the centre.
constexpr QPointF kUnitCentre{122.0, 211.0};

// A hair of outline around the lettering: at this size plain anti-aliased outlines come out
// grey rather than white.
constexpr double kLetterOutline = 0.4;

constexpr double kCentreDot = 7.0;

// Only the upright face is bundled, so the slant is applied here rather than left to whatever
// oblique the machine may or may not have: the face then looks the same everywhere. The shear is
// about the baseline, the tops leaning right by a fifth of their height.
constexpr double kSlant = 0.2;

QPointF polar(double radius, double degrees)
{
    const double r = qDegreesToRadians(degrees);
    return {kCentre + radius * std::cos(r), kCentre + radius * std::sin(r)};
}

// Where the printed scale puts each whole kgf/cm2: the printer's 0 and 8 sit half a degree
// and 0.7 degree off the 32-degree rhythm of the marks between them.
double markAngle(int value)
{
    if (value <= 0)
        return 141.5;
    if (value >= kUnits)
        return 397.7;
    return kNeedleZeroDegrees + value * kDegreesPerUnit;
}

QFont faceFont(int pixels, double letterSpacing)
{
    QFont font = windowFont();
    font.setPixelSize(pixels);
    font.setBold(false);
    font.setItalic(false);
    font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return font;
}

// Outline of text set on the baseline y = 0 from x = 0, slanted.
QPainterPath slantedText(const QString& text, int pixels, double letterSpacing = 0)
{
    QPainterPath path;
    path.addText(0, 0, faceFont(pixels, letterSpacing), text);
    return QTransform(1, 0, -kSlant, 1, 0, 0).map(path);
}

QPainterPath centredOn(const QPainterPath& path, QPointF centre)
{
    return path.translated(centre - path.boundingRect().center());
}

QPainterPath unitText()
{
    const QPainterPath letters =
        slantedText(QStringLiteral("кгс/см"), kUnitPixels, kUnitLetterSpacing);
    QPainterPath two = slantedText(QStringLiteral("2"), kSuperscriptPixels);
    two.translate(letters.boundingRect().right() + kSuperscriptGap - two.boundingRect().left(),
                  -kSuperscriptRise);
    QPainterPath unit = letters;
    unit.addPath(two);
    return centredOn(unit, kUnitCentre);
}

void drawMark(QPainter& p, double degrees, double inner, double width)
{
    p.setPen(QPen(Qt::white, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(polar(inner, degrees), polar(kMarkOuter, degrees));
}

} // namespace

QPixmap renderDialFace(qreal devicePixelRatio)
{
    const QSize logical(240, 240);
    QPixmap pixmap(QSize(qRound(logical.width() * devicePixelRatio),
                         qRound(logical.height() * devicePixelRatio)));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::white);

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(QPointF(0, 0), logical));

    for (int i = 0; i <= kUnits; ++i) {
        const double a = markAngle(i);
        drawMark(p, a, kMajorInner, kMajorWidth);
        if (i < kUnits)
            drawMark(p, (a + markAngle(i + 1)) / 2, kMinorInner, kMinorWidth);
    }

    p.setPen(QPen(Qt::white, kLetterOutline));
    p.setBrush(Qt::white);
    for (int i = 0; i <= kUnits; ++i) {
        p.drawPath(centredOn(slantedText(QString::number(i), kNumeralPixels),
                             polar(kNumeralRadius, markAngle(i))));
    }
    p.drawPath(unitText());

    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(kCentre, kCentre), kCentreDot / 2, kCentreDot / 2);
    return pixmap;
}

DialFace::DialFace(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void DialFace::paintEvent(QPaintEvent* event)
{
    const qreal dpr = devicePixelRatioF();
    if (m_cache.isNull() || !qFuzzyCompare(m_cache.devicePixelRatio(), dpr))
        m_cache = renderDialFace(dpr);
    QPainter p(this);
    paintCachedPicture(p, m_cache, event->region());
}

} // namespace piezon
