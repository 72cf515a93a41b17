#include "chart/chart_axes.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace piezon
{

namespace
{

constexpr double kLeastSpan = 0.5;
// More ticks than this crowd the labels of a chart a few hundred pixels tall.
constexpr qint64 kMostIntervals = 8;

// A step of mantissa x 10^exponent. Values are whole multiples of it and are made by one
// division or multiplication of whole numbers, so that 29 steps of 0.1 are 2.9 and not
// 2.9000000000000004.
struct Step {
    int mantissa = 1; // 1, 2 or 5
    int exponent = 0;

    double scale() const
    {
        double p = 1;
        for (int i = 0; i < std::abs(exponent); ++i)
            p *= 10;
        return p;
    }
    double times(qint64 n) const
    {
        const double units = double(n * mantissa);
        return exponent >= 0 ? units * scale() : units / scale();
    }
    // How many steps `x` is, as a real number.
    double in(double x) const
    {
        return exponent >= 0 ? x / scale() / mantissa : x * scale() / mantissa;
    }
    Step next() const
    {
        if (mantissa == 1)
            return {2, exponent};
        if (mantissa == 2)
            return {5, exponent};
        return {1, exponent + 1};
    }
};

} // namespace

PressureAxis fitPressureAxis(double lo, double hi)
{
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return dialPressureAxis();
    if (hi < lo)
        std::swap(lo, hi);
    const double pad = (hi - lo) * 0.05;
    const double from = lo - pad;
    const double to = hi + pad;

    // The smallest round step that gives at most kMostIntervals, counting the least span. A
    // reading that is on a tick up to rounding noise counts as on it.
    constexpr double kNoise = 1e-9;
    Step step{1, -3};
    while (true) {
        const auto first = qint64(std::floor(step.in(from) + kNoise));
        const auto last = qint64(std::ceil(step.in(to)-kNoise));
        const auto least = qint64(std::ceil(step.in(kLeastSpan)-kNoise));
        const qint64 intervals = std::max(last - first, least);
        if (intervals <= kMostIntervals || step.exponent > 6) {
            // Widened to the least span: the top first, as the eye reads a chart upwards.
            const qint64 missing = intervals - (last - first);
            const qint64 below = missing / 2;
            const qint64 above = missing - below;
            return PressureAxis{step.times(first - below), step.times(last + above), step.times(1)};
        }
        step = step.next();
    }
}

PressureAxis dialPressureAxis()
{
    return PressureAxis{0, 8, 1};
}

qint64 timeTickStepMs(qint64 spanMs, int maxTicks)
{
    constexpr qint64 kSecond = 1000;
    constexpr qint64 kMinute = 60 * kSecond;
    constexpr qint64 kHour = 60 * kMinute;
    constexpr qint64 kDay = 24 * kHour;
    static constexpr std::array<qint64, 18> kSteps{
        kSecond, 2 * kSecond, 5 * kSecond, 10 * kSecond, 15 * kSecond, 30 * kSecond,
        kMinute, 2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute, 30 * kMinute,
        kHour,   2 * kHour,   3 * kHour,   6 * kHour,    12 * kHour,   kDay,
    };
    spanMs = std::max(spanMs, qint64(0));
    // Ticks on whole multiples of the step: a span holds at most span / step + 1 of them.
    const qint64 intervals = std::max(maxTicks - 1, 0);
    for (const qint64 step : kSteps) {
        if (spanMs / step <= intervals)
            return step;
    }
    // Longer than the list: whole days.
    return (spanMs / ((intervals + 1) * kDay) + 1) * kDay;
}

} // namespace piezon
