#include "dial/needle_geometry.h"

#include <QTest>

#include <cmath>

using piezon::GradusToRadian;
using piezon::kLine1AtRest;
using piezon::Line;
using piezon::lineAngleDegrees;
using piezon::RotationLine;

namespace
{

constexpr double kPi = 3.14159265358979323846;
constexpr double kNeedleLength = 1538.3758;

double lengthOf(const Line& lin)
{
    return std::hypot(static_cast<double>(lin.X2) - lin.X1, static_cast<double>(lin.Y2) - lin.Y1);
}

// Turns the line as the reading pipeline does, for a corrected reading.
void turnTo(Line& lin, double corrected)
{
    double angle = -corrected;
    RotationLine(lin, angle);
}

bool near(double actual, double expected, double tolerance)
{
    return std::abs(actual - expected) <= tolerance;
}

QString describe(const Line& lin)
{
    return QStringLiteral("(%1, %2) -> (%3, %4)")
        .arg(lin.X1, 0, 'f', 4)
        .arg(lin.Y1, 0, 'f', 4)
        .arg(lin.X2, 0, 'f', 4)
        .arg(lin.Y2, 0, 'f', 4);
}

} // namespace

class TestNeedleGeometry : public QObject
{
    Q_OBJECT

private slots:
    void gradusToRadian_data();
    void gradusToRadian();

    void tipFromRest_data();
    void tipFromRest();

    void screenAngle_data();
    void screenAngle();

    void axisAlignedNeedleIsExact();

    void moveAfterAxisAlignedNeedle_data();
    void moveAfterAxisAlignedNeedle();

    void restPositionIsNotQuite142();

    void sameReadingTwice_data();
    void sameReadingTwice();
};

void TestNeedleGeometry::gradusToRadian_data()
{
    QTest::addColumn<double>("degrees");
    QTest::addColumn<double>("radians");

    QTest::newRow("0") << 0.0 << 0.0;
    QTest::newRow("90") << 90.0 << kPi / 2;
    QTest::newRow("142, the 0 mark") << 142.0 << 142 * kPi / 180;
    QTest::newRow("180") << 180.0 << kPi;
    QTest::newRow("-30") << -30.0 << -kPi / 6;
    QTest::newRow("427, not wrapped") << 427.0 << 427 * kPi / 180;
}

void TestNeedleGeometry::gradusToRadian()
{
    QFETCH(double, degrees);
    QFETCH(double, radians);

    double argument = degrees;
    QVERIFY(near(GradusToRadian(argument), radians, 1e-12));
    QCOMPARE(argument, degrees);
}

void TestNeedleGeometry::tipFromRest_data()
{
    QTest::addColumn<double>("corrected");
    QTest::addColumn<double>("x2");
    QTest::addColumn<double>("y2");

    QTest::newRow("0, dial mark 0") << 0.0 << 827.74 << 2987.12;
    QTest::newRow("38, straight left") << 38.0 << 501.62 << 2040.0;
    QTest::newRow("128, straight up") << 128.0 << 2040.0 << 501.62;
    QTest::newRow("255, dial mark 8") << 255.0 << 3268.60 << 2965.82;
}

void TestNeedleGeometry::tipFromRest()
{
    QFETCH(double, corrected);
    QFETCH(double, x2);
    QFETCH(double, y2);

    Line lin = kLine1AtRest;
    double angle = -corrected;
    RotationLine(lin, angle);

    QVERIFY2(near(lin.X2, x2, 0.01) && near(lin.Y2, y2, 0.01), qPrintable(describe(lin)));
    QCOMPARE(lin.X1, kLine1AtRest.X1);
    QCOMPARE(lin.Y1, kLine1AtRest.Y1);
    QCOMPARE(angle, -corrected);
    QVERIFY2(near(lengthOf(lin), kNeedleLength, 0.001), qPrintable(describe(lin)));
}

void TestNeedleGeometry::screenAngle_data()
{
    QTest::addColumn<double>("corrected");
    QTest::addColumn<double>("degrees");

    QTest::newRow("0 at 142") << 0.0 << 142.0;
    QTest::newRow("100 at 242, over the top") << 100.0 << -118.0;
    QTest::newRow("255 at 397, the same as 37") << 255.0 << 37.0;
    QTest::newRow("-30 at 112, below the 0 mark") << -30.0 << 112.0;
    QTest::newRow("285 at 427, the same as 67, below the 8 mark") << 285.0 << 67.0;
    QTest::newRow("fractional reading") << 12.5 << 154.5;
}

void TestNeedleGeometry::screenAngle()
{
    QFETCH(double, corrected);
    QFETCH(double, degrees);

    Line lin = kLine1AtRest;
    turnTo(lin, corrected);
    QVERIFY2(near(lineAngleDegrees(lin), degrees, 0.001),
             qPrintable(QString::number(lineAngleDegrees(lin), 'f', 6)));
    QCOMPARE(lin.X1, kLine1AtRest.X1);
    QCOMPARE(lin.Y1, kLine1AtRest.Y1);
}

void TestNeedleGeometry::axisAlignedNeedleIsExact()
{
    Line horizontal = kLine1AtRest;
    turnTo(horizontal, 38);
    QCOMPARE(horizontal.Y2, horizontal.Y1);
    QVERIFY(horizontal.X2 < horizontal.X1);

    Line vertical = kLine1AtRest;
    turnTo(vertical, 128);
    QCOMPARE(vertical.X2, vertical.X1);
    QVERIFY(vertical.Y2 < vertical.Y1);
}

void TestNeedleGeometry::moveAfterAxisAlignedNeedle_data()
{
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("next");
    QTest::addColumn<double>("x2");
    QTest::addColumn<double>("y2");

    QTest::newRow("horizontal, then 0") << 38.0 << 0.0 << 827.74 << 2987.12;
    QTest::newRow("horizontal, then 255") << 38.0 << 255.0 << 3268.60 << 2965.82;
    QTest::newRow("vertical, then 0") << 128.0 << 0.0 << 827.74 << 2987.12;
    QTest::newRow("vertical, then horizontal") << 128.0 << 38.0 << 501.62 << 2040.0;
}

void TestNeedleGeometry::moveAfterAxisAlignedNeedle()
{
    QFETCH(double, first);
    QFETCH(double, next);
    QFETCH(double, x2);
    QFETCH(double, y2);

    Line lin = kLine1AtRest;
    turnTo(lin, first);
    turnTo(lin, next);
    QVERIFY2(near(lin.X2, x2, 0.01) && near(lin.Y2, y2, 0.01), qPrintable(describe(lin)));
    QVERIFY2(near(lengthOf(lin), kNeedleLength, 0.001), qPrintable(describe(lin)));
}

void TestNeedleGeometry::restPositionIsNotQuite142()
{
    const double angle = lineAngleDegrees(kLine1AtRest);
    QVERIFY2(near(angle, 141.86, 0.005), qPrintable(QString::number(angle, 'f', 6)));
    QVERIFY(!near(angle, 142.0, 0.1));
    QVERIFY(near(lengthOf(kLine1AtRest), kNeedleLength, 0.0001));
}

void TestNeedleGeometry::sameReadingTwice_data()
{
    QTest::addColumn<double>("corrected");
    QTest::newRow("0") << 0.0;
    QTest::newRow("38") << 38.0;
    QTest::newRow("87") << 87.0;
    QTest::newRow("128") << 128.0;
    QTest::newRow("255") << 255.0;
    QTest::newRow("-30") << -30.0;
}

void TestNeedleGeometry::sameReadingTwice()
{
    QFETCH(double, corrected);

    Line lin = kLine1AtRest;
    turnTo(lin, corrected);
    const Line once = lin;
    turnTo(lin, corrected);

    // A float near 3000 is spaced 2^-12 apart; one or two steps of rounding is all that may move.
    const double tolerance = 2.0 / 4096;
    QVERIFY2(near(lin.X2, once.X2, tolerance) && near(lin.Y2, once.Y2, tolerance),
             qPrintable(describe(once) + QStringLiteral(" then ") + describe(lin)));
    QVERIFY(near(lengthOf(lin), lengthOf(once), 0.0002));
}

QTEST_GUILESS_MAIN(TestNeedleGeometry)
#include "test_needle_geometry.moc"
