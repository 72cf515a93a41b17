#include "dial/needle_geometry.h"

#include <cmath>

namespace piezon
{

namespace
{
constexpr double kPi = 3.14159265358979323846;
}

double GradusToRadian(double& Gradus)
{
    return Gradus * kPi / 180;
}

void RotationLine(Line& lin, double& Angle)
{
    // The order of reads and writes is part of the needle's behaviour: X2 is written before
    // Y2 is computed, and both use the freshly read pivot.
    const double x1 = lin.X1;
    const double y2 = lin.Y2;
    const double y1 = lin.Y1;
    const double x2 = lin.X2;
    const double length = std::sqrt(std::pow(y2 - y1, 2) + std::pow(x2 - x1, 2));
    double t = kNeedleZeroDegrees - Angle;
    const double r = GradusToRadian(t);
    lin.X2 = static_cast<float>(static_cast<double>(lin.X1) + std::cos(r) * length);
    lin.Y2 = static_cast<float>(static_cast<double>(lin.Y1) + std::sin(r) * length);
}

double lineAngleDegrees(const Line& lin)
{
    return std::atan2(static_cast<double>(lin.Y2) - lin.Y1, static_cast<double>(lin.X2) - lin.X1) *
           180 / kPi;
}

} // namespace piezon
