#pragma once

#include <QFont>

namespace piezon
{

// The program's fonts come with it (a sans serif with Cyrillic letters and the narrow digits of
// the classic Windows dialog face), so it looks the same on every machine. The dial face letters
// its scale with them and the window sets its controls in them; they live here, below both.
// Sizes are in pixels at 96 dpi: 8.25 pt is 11 px, 18 pt is 24 px.
QFont windowFont();  // the window's default, regular
QFont boldFont();    // buttons and the "COM" label
QFont readingFont(); // the large reading

} // namespace piezon
