#pragma once

#include <QtGlobal>

namespace piezon
{

// A pressure axis: from lo to hi in kgf/cm2, with a tick every `step`, lo and hi on ticks.
struct PressureAxis {
    double lo = 0;
    double hi = 8;
    double step = 1;
};

// Fits the readings between lo and hi (kgf/cm2): their range plus 10 % (of the range, half on
// each side), rounded out to ticks of 1, 2 or 5 x 10^n, never spanning less than 0.5.
PressureAxis fitPressureAxis(double lo, double hi);
// The dial's own scale, «Шкала 0–8».
PressureAxis dialPressureAxis();

// A round step for the time axis (1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min, 1, 2, 3, 6,
// 12 h, 1 day) that puts at most `maxTicks` ticks on `spanMs`.
qint64 timeTickStepMs(qint64 spanMs, int maxTicks);

} // namespace piezon
