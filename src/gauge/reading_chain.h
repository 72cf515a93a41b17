#pragma once

#include <QChar>
#include <QLocale>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace piezon
{

// One reading as the operator sees it, worked out from one received byte.
struct Reading {
    int raw = 0;          // the byte as received, 0-255
    double corrected = 0; // after the calibration table and the offset, in raw units
    float pressure = 0;   // kgf/cm2, already rounded to hundredths
    QString caption;      // what the window shows and the log records
};

// The offset picker's text ("   -30", "     0", "    30") as a number. Blanks before the
// number are allowed; anything else that is not a whole number gives nothing.
std::optional<int> parseOffset(const QString& text);

// The decimal separator captions use. The caption also goes into an 8-bit log file, so a
// locale whose separator is not a single ASCII character falls back to '.'.
QChar captionSeparator(const QLocale& locale);

// The shown text of a pressure value: shortest form, at most two decimals, ASCII digits and
// minus sign, the given separator.
QString pressureCaption(float pressure, QChar separator);

// The whole reading chain for one byte. Gives nothing when the offset text is not a number,
// in which case the byte must not change what is shown or logged.
std::optional<Reading> computeReading(quint8 byte, const QString& offsetText, QChar separator);

} // namespace piezon
