#pragma once

#include <QFont>

namespace piezon
{

// The window's fonts come with the program (a sans serif with Cyrillic letters), so it looks the
// same on every machine. Sizes are in pixels at 96 dpi: 8.25 pt is 11 px, 18 pt is 24 px.
QFont windowFont();  // the window's default, regular
QFont boldFont();    // buttons and the "COM" label
QFont readingFont(); // the large reading

} // namespace piezon
