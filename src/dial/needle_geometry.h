#pragma once

namespace piezon
{

// A straight line in window twips. The needle keeps its coordinates in single precision and
// derives its length from them at every move, so rounding of the tip is carried along.
struct Line {
    float X1 = 0;
    float Y1 = 0;
    float X2 = 0;
    float Y2 = 0;
};

// The needle as the window first shows it: pivot on the dial centre, tip on the 0 mark.
constexpr Line kLine1AtRest{2040.0f, 2040.0f, 830.0f, 2990.0f};

// The screen angle, in degrees, of the needle at reading 0: the dial's printed scale and the
// needle both start here.
constexpr double kNeedleZeroDegrees = 142;

double GradusToRadian(double& Gradus);

// Turns lin about (X1, Y1) to 142 - Angle degrees (clockwise on screen, y down). The pivot is
// never written; the angle is neither wrapped nor clamped.
void RotationLine(Line& lin, double& Angle);

// The screen angle of the line, degrees in (-180, 180].
double lineAngleDegrees(const Line& lin);

} // namespace piezon
