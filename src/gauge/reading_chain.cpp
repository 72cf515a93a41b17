#include "gauge/reading_chain.h"

#include "gauge/linearisation_table.h"

#include <charconv>
#include <system_error>

namespace piezon
{

std::optional<int> parseOffset(const QString& text)
{
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && text.at(i) == QLatin1Char('-')) {
        negative = true;
        ++i;
    }
    if (i == n)
        return std::nullopt;
    int value = 0;
    for (; i < n; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > 100000)
            return std::nullopt;
    }
    return negative ? -value : value;
}

QChar captionSeparator(const QLocale& locale)
{
    const QString point = locale.decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() > 0x20 && point.at(0).unicode() < 0x7f &&
        !point.at(0).isDigit() && point.at(0) != QLatin1Char('-'))
        return point.at(0);
    return QLatin1Char('.');
}

QString pressureCaption(float pressure, QChar separator)
{
    if (pressure == 0.0f)
        pressure = 0.0f; // never show "-0"
    char buf[64];
    // Shortest text that reads back as the same float: for a value rounded to hundredths this is
    // the value with its trailing zeros dropped (1.60 -> "1.6", 8.00 -> "8").
    const auto res = std::to_chars(buf, buf + sizeof buf, pressure, std::chars_format::fixed);
    QString caption = QString::fromLatin1(buf, static_cast<int>(res.ptr - buf));
    if (separator != QLatin1Char('.'))
        caption.replace(QLatin1Char('.'), separator);
    return caption;
}

std::optional<Reading> computeReading(quint8 byte, const QString& offsetText, QChar separator)
{
    const std::optional<int> offset = parseOffset(offsetText);
    if (!offset)
        return std::nullopt;

    Reading r;
    r.raw = byte;
    // The table always sees the raw code; the offset comes after it.
    r.corrected = static_cast<double>(linearise(r.raw)) + *offset;
    const double quotient = r.corrected * 8.0 / 255;

    // Round to hundredths as text, then read it back in single precision, so the shown value
    // is exactly what a two-decimal rounding gives.
    // to_chars, unlike printf, ignores the C locale that the toolkit sets from the environment.
    char text[64];
    const auto formatted =
        std::to_chars(text, text + sizeof text, quotient, std::chars_format::fixed, 2);
    float pressure = 0;
    std::from_chars(text, formatted.ptr, pressure);
    r.pressure = pressure;
    r.caption = pressureCaption(pressure, separator);
    return r;
}

} // namespace piezon
