#pragma once

// Helpers for tests that build the main window and look at what it draws. Positions are the
// window's logical pixels; images may come at any device-pixel ratio.

#include "support/collecting_reporter.h"
#include "window/form1.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPointF>
#include <QStringList>
#include <QTemporaryDir>
#include <QtMath>

#include <cmath>
#include <memory>

namespace probe
{

using piezon::testing::CollectingReporter;

// A window with its own folder and error sink, as the tests need it.
struct Window {
    Window()
    {
        piezon::Form1::Environment env;
        env.programDir = dir.path();
        env.reporter = &reporter;
        env.locale = QLocale::c();
        form = std::make_unique<piezon::Form1>(env);
    }
    QTemporaryDir dir;
    CollectingReporter reporter;
    std::unique_ptr<piezon::Form1> form;
};

// The needle's pivot in window pixels, and the point `distance` pixels from it at a screen angle.
inline constexpr QPointF kPivot{136.0, 136.0};

inline QPointF fromPivot(double degrees, double distance)
{
    const double r = qDegreesToRadians(degrees);
    return kPivot + QPointF(std::cos(r), std::sin(r)) * distance;
}

inline QImage toImage(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
}

// The device pixel under a logical point.
inline QColor at(const QImage& image, QPointF logical)
{
    const qreal dpr = image.devicePixelRatio();
    return image.pixelColor(int(std::floor(logical.x() * dpr)), int(std::floor(logical.y() * dpr)));
}

inline bool isPureRed(const QColor& c)
{
    return c.red() == 255 && c.green() == 0 && c.blue() == 0;
}

// Any noticeable trace of the needle: strong red, green and blue well below it.
inline bool isReddish(const QColor& c)
{
    return c.red() > 120 && c.red() - c.green() > 80 && c.red() - c.blue() > 80;
}

inline QString describe(const QColor& c)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

} // namespace probe
