// What the dial draws: the face picture measured against its geometry, and the needle as the
// window shows it after readings. Positions are logical pixels: face pixels (centre 120, 120) for
// the picture, window pixels (pivot 136, 136) for the needle.

#include "support/form_probe.h"

#include "dial/dial_face.h"
#include "dial/needle_geometry.h"
#include "dial/needle_view.h"
#include "window/caption_label.h"

#include <QBackingStore>
#include <QComboBox>
#include <QLabel>
#include <QPaintEvent>
#include <QTest>

#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <vector>

using piezon::Form1;

namespace
{

// ---- the face picture ----------------------------------------------------------------------

constexpr double kFaceCentre = 120.0;

// The face drawn fine enough to measure fractions of a picture pixel.
constexpr double kMeasureRatio = 4.0;

const QImage& measuredFace()
{
    static const QImage face =
        piezon::renderDialFace(kMeasureRatio).toImage().convertToFormat(QImage::Format_RGB32);
    return face;
}

int lightness(QPointF p)
{
    const QImage& face = measuredFace();
    const int x = int(std::floor(p.x() * kMeasureRatio));
    const int y = int(std::floor(p.y() * kMeasureRatio));
    if (!face.valid(x, y))
        return -1;
    return face.pixelColor(x, y).lightness();
}

bool bright(QPointF p)
{
    return lightness(p) > 127;
}

QPointF onFace(double radius, double degrees)
{
    const double r = qDegreesToRadians(degrees);
    return {kFaceCentre + radius * std::cos(r), kFaceCentre + radius * std::sin(r)};
}

// Bright parts of the face inside a region, in face pixels.
struct Blob {
    QRectF box; // bounding box of the bright samples, each sample a device pixel
    int holes = 0;
};

Blob brightBlob(const std::function<bool(QPointF)>& inRegion, const QRectF& search)
{
    const QImage& face = measuredFace();
    const double step = 1.0 / kMeasureRatio;
    const QRect dev(int(search.left() * kMeasureRatio), int(search.top() * kMeasureRatio),
                    int(search.width() * kMeasureRatio), int(search.height() * kMeasureRatio));
    std::vector<char> ink(size_t(dev.width() * dev.height()), 0);
    auto idx = [&](int x, int y) { return size_t((y - dev.top()) * dev.width() + x - dev.left()); };
    QRect inkBox;
    for (int y = dev.top(); y <= dev.bottom(); ++y) {
        for (int x = dev.left(); x <= dev.right(); ++x) {
            const QPointF p((x + 0.5) * step, (y + 0.5) * step);
            if (inRegion(p) && face.pixelColor(x, y).lightness() > 100) {
                ink[idx(x, y)] = 1;
                inkBox = inkBox.united(QRect(x, y, 1, 1));
            }
        }
    }
    Blob blob;
    if (inkBox.isNull())
        return blob;
    blob.box = QRectF(inkBox.left() * step, inkBox.top() * step, inkBox.width() * step,
                      inkBox.height() * step);

    // Holes: dark areas inside the box that the surroundings cannot reach.
    const QRect area = inkBox.adjusted(-1, -1, 1, 1).intersected(dev);
    std::vector<char> seen(ink.size(), 0);
    auto fill = [&](int sx, int sy) {
        std::vector<QPoint> todo{{sx, sy}};
        seen[idx(sx, sy)] = 1;
        while (!todo.empty()) {
            const QPoint q = todo.back();
            todo.pop_back();
            for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                const QPoint n = q + d;
                if (area.contains(n) && !ink[idx(n.x(), n.y())] && !seen[idx(n.x(), n.y())]) {
                    seen[idx(n.x(), n.y())] = 1;
                    todo.push_back(n);
                }
            }
        }
    };
    for (int x = area.left(); x <= area.right(); ++x) {
        for (int y : {area.top(), area.bottom()}) {
            if (!ink[idx(x, y)] && !seen[idx(x, y)])
                fill(x, y);
        }
    }
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x : {area.left(), area.right()}) {
            if (!ink[idx(x, y)] && !seen[idx(x, y)])
                fill(x, y);
        }
    }
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (!ink[idx(x, y)] && !seen[idx(x, y)]) {
                ++blob.holes;
                fill(x, y);
            }
        }
    }
    return blob;
}

// ---- the needle in the window ----------------------------------------------------------------

// The needle's length in pixels as the window places it.
const double kNeedleLength = std::hypot(2040.0 - 830.0, 2040.0 - 2990.0) / 15.0;

double needleAngle(double corrected)
{
    return 142.0 + corrected;
}

double distanceToSegment(QPointF p, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double t = qBound(0.0, QPointF::dotProduct(p - a, ab) / QPointF::dotProduct(ab, ab), 1.0);
    const QPointF d = p - (a + ab * t);
    return std::hypot(d.x(), d.y());
}

// Watches Line1's paint events: how many, and which part of the window they covered.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QWidget* watched) : m_watched(watched)
    {
        watched->installEventFilter(this);
    }
    int count = 0;
    QRegion region; // window coordinates

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (o == m_watched && e->type() == QEvent::Paint) {
            ++count;
            region += static_cast<QPaintEvent*>(e)->region().translated(m_watched->pos());
        }
        return false;
    }

private:
    QWidget* m_watched;
};

} // namespace

class TestDialRendering : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // The face picture.
    void faceMatchesDeviceRatio_data();
    void faceMatchesDeviceRatio();
    void discAndCorners_data();
    void discAndCorners();
    void marks_data();
    void marks();
    void noInkBetweenMarks_data();
    void noInkBetweenMarks();
    void numerals_data();
    void numerals();
    void unitUnderCentre();
    void centreDot();

    // The needle in the window.
    void needleFollowsReading_data();
    void needleFollowsReading();
    void needleDrawnOverReadingLabel();
    void previousNeedleErasedOnScreen_data();
    void previousNeedleErasedOnScreen();
    void moveRepaintsOnlyOldAndNewNeedle_data();
    void moveRepaintsOnlyOldAndNewNeedle();

    // What the needle and the caption keep of their pictures.
    void keptPicturesStayWithinBudget_data();
    void keptPicturesStayWithinBudget();

private:
    Form1& form() { return *m_window->form; }
    piezon::CaptionLabel& caption() { return *static_cast<piezon::CaptionLabel*>(form().Label1); }
    void show();
    void read(int raw, const QString& offset);
    QImage screenContent();
    void verifyNeedle(const QImage& image, double corrected);

    std::unique_ptr<probe::Window> m_window;
};

void TestDialRendering::init()
{
    m_window = std::make_unique<probe::Window>();
}

void TestDialRendering::cleanup()
{
    QVERIFY2(m_window->reporter.messages.isEmpty(),
             qPrintable(m_window->reporter.messages.join(QLatin1Char('\n'))));
    m_window.reset();
}

// ---- the face picture ----------------------------------------------------------------------

void TestDialRendering::faceMatchesDeviceRatio_data()
{
    QTest::addColumn<double>("ratio");
    QTest::addColumn<int>("side");

    QTest::newRow("1") << 1.0 << 240;
    QTest::newRow("1.25") << 1.25 << 300;
    QTest::newRow("1.5") << 1.5 << 360;
    QTest::newRow("2") << 2.0 << 480;
    QTest::newRow("3") << 3.0 << 720;
}

void TestDialRendering::faceMatchesDeviceRatio()
{
    QFETCH(double, ratio);
    QFETCH(int, side);
    const QPixmap face = piezon::renderDialFace(ratio);
    QCOMPARE(face.size(), QSize(side, side));
    QCOMPARE(face.devicePixelRatio(), ratio);
    QCOMPARE(face.deviceIndependentSize(), QSizeF(240, 240));
    QCOMPARE(face.depth() >= 24, true);
}

void TestDialRendering::discAndCorners_data()
{
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<bool>("white");

    QTest::newRow("top-left corner") << QPointF(0.5, 0.5) << true;
    QTest::newRow("top-right corner") << QPointF(239.5, 0.5) << true;
    QTest::newRow("bottom-left corner") << QPointF(0.5, 239.5) << true;
    QTest::newRow("bottom-right corner") << QPointF(239.5, 239.5) << true;
    QTest::newRow("just outside the rim at 45") << onFace(121, 45) << true;
    QTest::newRow("just outside the rim at 225") << onFace(121, 225) << true;
    QTest::newRow("just inside the rim at 45") << onFace(118.5, 45) << false;
    QTest::newRow("just inside the rim at 270") << onFace(118.5, 270) << false;
    QTest::newRow("rim left") << QPointF(1.0, 120.0) << false;
    QTest::newRow("rim bottom") << QPointF(120.0, 239.0) << false;
    QTest::newRow("between centre and marks") << onFace(50, 300) << false;
    QTest::newRow("below the centre") << onFace(50, 90) << false;
}

void TestDialRendering::discAndCorners()
{
    QFETCH(QPointF, point);
    QFETCH(bool, white);
    const int l = lightness(point);
    if (white)
        QVERIFY2(l == 255, qPrintable(QString::number(l)));
    else
        QVERIFY2(l == 0, qPrintable(QString::number(l)));
}

void TestDialRendering::marks_data()
{
    QTest::addColumn<double>("angle");
    QTest::addColumn<double>("inner");
    QTest::addColumn<double>("width");

    // Screen angles, y down, clockwise; 0 at the lower left, 8 at the lower right.
    const double major[] = {141.5, 174, 206, 238, 270, 302, 334, 366, 397.7};
    for (int i = 0; i < 9; ++i) {
        QTest::addRow("major %d", i) << major[i] << 89.0 << 3.0;
        if (i < 8) {
            QTest::addRow("minor %d-%d", i, i + 1) << (major[i] + major[i + 1]) / 2 << 91.0 << 1.0;
        }
    }
}

void TestDialRendering::marks()
{
    QFETCH(double, angle);
    QFETCH(double, inner);
    QFETCH(double, width);

    // Along the mark's own radius: ink from inner to 116 and nowhere else beyond the numerals.
    std::optional<double> first;
    std::optional<double> last;
    for (double r = 86; r < 119.5; r += 0.125) {
        if (bright(onFace(r, angle))) {
            if (!first)
                first = r;
            last = r;
        }
    }
    QVERIFY(first && last);
    QVERIFY2(std::abs(*first - inner) <= 0.75, qPrintable(QString::number(*first)));
    QVERIFY2(std::abs(*last - 116) <= 0.75, qPrintable(QString::number(*last)));

    // Across it, half-way out: its width, and that it stands on its angle.
    const double r = (inner + 116) / 2;
    const double a = qDegreesToRadians(angle);
    const QPointF across(-std::sin(a), std::cos(a));
    const double step = 1.0 / 32;
    double inked = 0;
    double sum = 0;
    for (double t = -5; t <= 5; t += step) {
        if (bright(onFace(r, angle) + across * t)) {
            inked += step;
            sum += t * step;
        }
    }
    QVERIFY2(std::abs(inked - width) <= 0.4, qPrintable(QString::number(inked)));
    QVERIFY2(std::abs(sum / inked) <= 0.35, qPrintable(QString::number(sum / inked)));
}

void TestDialRendering::noInkBetweenMarks_data()
{
    QTest::addColumn<double>("angle");

    // 4 degrees either side of each minor mark, and across the gap at the bottom.
    const double major[] = {141.5, 174, 206, 238, 270, 302, 334, 366, 397.7};
    for (int i = 0; i < 8; ++i) {
        const double minor = (major[i] + major[i + 1]) / 2;
        QTest::addRow("before minor %d", i) << minor - 4;
        QTest::addRow("after minor %d", i) << minor + 4;
    }
    // (straight down the unit lies inside the marks' radii)
    for (double a : {45.0, 60.0, 120.0, 135.0})
        QTest::addRow("bottom gap %g", a) << a;
}

void TestDialRendering::noInkBetweenMarks()
{
    QFETCH(double, angle);
    for (double r = 86; r < 119.5; r += 0.25) {
        const int l = lightness(onFace(r, angle));
        QVERIFY2(l < 40, qPrintable(QStringLiteral("%1 at radius %2").arg(l).arg(r)));
    }
}

void TestDialRendering::numerals_data()
{
    QTest::addColumn<double>("angle");
    QTest::addColumn<int>("holes");

    // The digits' closed loops tell them apart: 0, 4 and 6 have one, 8 has two.
    QTest::newRow("0") << 141.5 << 1;
    QTest::newRow("1") << 174.0 << 0;
    QTest::newRow("2") << 206.0 << 0;
    QTest::newRow("3") << 238.0 << 0;
    QTest::newRow("4") << 270.0 << 1;
    QTest::newRow("5") << 302.0 << 0;
    QTest::newRow("6") << 334.0 << 1;
    QTest::newRow("7") << 366.0 << 0;
    QTest::newRow("8") << 397.7 << 2;
}

void TestDialRendering::numerals()
{
    QFETCH(double, angle);
    QFETCH(int, holes);

    const QPointF centre = onFace(78, angle);
    const double reach = 8.5; // clear of the mark, whose inner end is 11 px further out
    const Blob digit = brightBlob(
        [&](QPointF p) {
            const QPointF d = p - centre;
            return std::hypot(d.x(), d.y()) < reach;
        },
        QRectF(centre - QPointF(reach, reach), QSizeF(2 * reach, 2 * reach)));

    QVERIFY(!digit.box.isNull());
    const QString where = QStringLiteral("box %1,%2 %3x%4")
                              .arg(digit.box.x())
                              .arg(digit.box.y())
                              .arg(digit.box.width())
                              .arg(digit.box.height());
    QVERIFY2(digit.box.height() >= 9.0 && digit.box.height() <= 10.5, qPrintable(where));
    QVERIFY2(digit.box.width() >= 3.0 && digit.box.width() <= 9.0, qPrintable(where));
    const QPointF off = digit.box.center() - centre;
    QVERIFY2(std::hypot(off.x(), off.y()) <= 1.0, qPrintable(where));
    QCOMPARE(digit.holes, holes);
}

void TestDialRendering::unitUnderCentre()
{
    const QRectF search(80, 192, 80, 40);
    const Blob unit = brightBlob([&](QPointF p) { return search.contains(p); }, search);
    const QRectF box = unit.box;
    const QString where = QStringLiteral("box %1,%2 - %3,%4")
                              .arg(box.left())
                              .arg(box.top())
                              .arg(box.right())
                              .arg(box.bottom());
    QVERIFY2(std::abs(box.left() - 100) <= 2 && std::abs(box.right() - 144) <= 2,
             qPrintable(where));
    QVERIFY2(std::abs(box.top() - 205) <= 1.5 && std::abs(box.bottom() - 217) <= 1.5,
             qPrintable(where));
    // кгс/см has no closed loop; the raised 2 has none either.
    QCOMPARE(unit.holes, 0);

    // The first letter, к, gives the baseline and the height of the lower case.
    const QRectF k(box.left(), box.top(), 5, box.height());
    const QRectF letterK =
        brightBlob([&](QPointF p) { return k.contains(p); }, k.adjusted(0, 0, 0, 1)).box;
    QVERIFY2(letterK.height() >= 6.0 && letterK.height() <= 7.5,
             qPrintable(QString::number(letterK.height())));
    const double baseline = letterK.bottom();

    // The 2 at the end is raised: it stays well above the baseline and reaches above the к.
    const QRectF tail(box.right() - 3, box.top(), 3, box.height());
    const QRectF two =
        brightBlob([&](QPointF p) { return tail.contains(p); }, tail.adjusted(0, 0, 0, 1)).box;
    QVERIFY2(two.bottom() <= baseline - 3, qPrintable(QString::number(two.bottom())));
    QVERIFY2(two.top() < letterK.top() - 2, qPrintable(QString::number(two.top())));

    // The letters without the 2 stand straight below the centre.
    const QRectF letters(box.left(), box.top(), two.left() - 0.5 - box.left(), box.height());
    const QRectF body =
        brightBlob([&](QPointF p) { return letters.contains(p); }, letters.adjusted(0, 0, 0, 1))
            .box;
    QVERIFY2(std::abs(body.center().x() - kFaceCentre) <= 2.5,
             qPrintable(QString::number(body.center().x())));
}

void TestDialRendering::centreDot()
{
    const QRectF search(110, 110, 20, 20);
    const Blob dot = brightBlob([&](QPointF p) { return search.contains(p); }, search);
    QVERIFY2(std::abs(dot.box.width() - 7) <= 0.75 && std::abs(dot.box.height() - 7) <= 0.75,
             qPrintable(QStringLiteral("%1x%2").arg(dot.box.width()).arg(dot.box.height())));
    const QPointF off = dot.box.center() - QPointF(kFaceCentre, kFaceCentre);
    QVERIFY(std::hypot(off.x(), off.y()) <= 0.5);
    QCOMPARE(dot.holes, 0);
}

// ---- the needle in the window ----------------------------------------------------------------

void TestDialRendering::show()
{
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
}

void TestDialRendering::read(int raw, const QString& offset)
{
    form().Combo1->setCurrentText(offset);
    QCOMPARE(form().Combo1->currentText(), offset);
    form().MSComm1_OnComm(QByteArray(1, char(raw)));
    form().flushDisplay();
}

// What the window really holds, repainted piece by piece as the needle moved, as opposed to a
// fresh render of every widget. Read from the window's backing store, which is what the platform
// puts on screen; platforms that keep it elsewhere than in memory give a null image.
QImage TestDialRendering::screenContent()
{
    QBackingStore* store = form().backingStore();
    QPaintDevice* device = store ? store->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image)
        return {};
    QImage image = static_cast<QImage*>(device)->convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(form().devicePixelRatioF());
    return image;
}

// Red along the reading's direction from the hub's edge to the tip, the hub over the root.
void TestDialRendering::verifyNeedle(const QImage& image, double corrected)
{
    const double angle = needleAngle(corrected);
    for (double d = 18; d <= kNeedleLength - 2; d += 0.5) {
        const QColor c = probe::at(image, probe::fromPivot(angle, d));
        QVERIFY2(probe::isPureRed(c),
                 qPrintable(probe::describe(c) + " at distance " + QString::number(d)));
    }
    const QColor beyond = probe::at(image, probe::fromPivot(angle, kNeedleLength + 3));
    QVERIFY2(!probe::isReddish(beyond), qPrintable(probe::describe(beyond)));
    for (double d = 0; d <= 14; d += 1) {
        const QColor c = probe::at(image, probe::fromPivot(angle, d));
        QVERIFY2(c == QColor(224, 224, 224),
                 qPrintable(probe::describe(c) + " at distance " + QString::number(d)));
    }
}

void TestDialRendering::needleFollowsReading_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("offset");
    QTest::addColumn<double>("corrected");

    // corrected = raw less its calibration step, plus the offset; the needle at 142 + corrected.
    QTest::newRow("0 on the 0 mark") << 0 << "     0" << 0.0;
    QTest::newRow("38 straight left") << 41 << "     0" << 38.0;
    QTest::newRow("128 straight up") << 141 << "     1" << 128.0;
    QTest::newRow("255 on the 8 mark") << 255 << "     0" << 255.0;
    QTest::newRow("-30 below the 0 mark") << 0 << "   -30" << -30.0;
    QTest::newRow("285 below the 8 mark") << 255 << "    30" << 285.0;
}

void TestDialRendering::needleFollowsReading()
{
    QFETCH(int, raw);
    QFETCH(QString, offset);
    QFETCH(double, corrected);
    show();
    read(raw, offset);
    const QImage image = probe::toImage(form().grab());
    verifyNeedle(image, corrected);

    // Where the needle rested before, nothing of it is left, away from where it is now.
    const QPointF tip = probe::fromPivot(needleAngle(corrected), kNeedleLength);
    const QPointF restTip(830 / 15.0, 2990 / 15.0);
    for (double t = 0.2; t <= 1.0; t += 0.01) {
        const QPointF p = probe::kPivot + (restTip - probe::kPivot) * t;
        if (distanceToSegment(p, probe::kPivot, tip) < 6)
            continue;
        const QColor c = probe::at(image, p);
        QVERIFY2(!probe::isReddish(c), qPrintable(probe::describe(c)));
    }
}

void TestDialRendering::needleDrawnOverReadingLabel()
{
    show();
    // 285 points at 67 degrees, straight through the reading's box and its digits.
    read(255, QStringLiteral("    30"));
    QCOMPARE(form().Label1->text(), QStringLiteral("8.94"));
    const QImage image = probe::toImage(form().grab());
    const QRectF label = form().Label1->geometry();
    int inside = 0;
    for (double d = 18; d <= kNeedleLength - 1; d += 0.5) {
        const QPointF p = probe::fromPivot(needleAngle(285), d);
        if (!label.adjusted(1, 1, -1, -1).contains(p))
            continue;
        ++inside;
        const QColor c = probe::at(image, p);
        QVERIFY2(probe::isPureRed(c),
                 qPrintable(probe::describe(c) + " at distance " + QString::number(d)));
    }
    QVERIFY2(inside >= 40, qPrintable(QString::number(inside)));

    // The label is still there around the needle: white digits on black.
    int white = 0;
    const QRect box = form().Label1->geometry();
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x)
            white += probe::at(image, QPointF(x + 0.5, y + 0.5)).lightness() > 240;
    }
    QVERIFY2(white > 30, qPrintable(QString::number(white)));
}

void TestDialRendering::previousNeedleErasedOnScreen_data()
{
    QTest::addColumn<int>("rawBefore");
    QTest::addColumn<double>("before");
    QTest::addColumn<int>("rawAfter");
    QTest::addColumn<double>("after");
    QTest::addColumn<bool>("heldBefore"); // the needle was where it ends up once already

    QTest::newRow("0 to 255") << 0 << 0.0 << 255 << 255.0 << false;
    QTest::newRow("255 to 38") << 255 << 255.0 << 41 << 38.0 << false;
    QTest::newRow("38 to 0") << 41 << 38.0 << 0 << 0.0 << false;
    QTest::newRow("100 to 104, a small step") << 100 << 87.0 << 104 << 91.0 << false;
    QTest::newRow("38 to 255, across the top") << 41 << 38.0 << 255 << 255.0 << false;
    // The needle's picture at a position is drawn once and kept: back there, it is the kept one.
    QTest::newRow("38 to 255 and back") << 255 << 255.0 << 41 << 38.0 << true;
    QTest::newRow("91 to 87 and back, a small step") << 100 << 87.0 << 104 << 91.0 << true;
}

void TestDialRendering::previousNeedleErasedOnScreen()
{
    QFETCH(int, rawBefore);
    QFETCH(double, before);
    QFETCH(int, rawAfter);
    QFETCH(double, after);
    QFETCH(bool, heldBefore);
    show();
    PaintWatch watch(form().Line1);

    QList<int> raws{rawBefore, rawAfter};
    if (heldBefore)
        raws.prepend(rawAfter);
    for (int raw : raws) {
        const int painted = watch.count;
        read(raw, QStringLiteral("     0"));
        QVERIFY(QTest::qWaitFor([&] { return watch.count > painted; }));
    }
    const QImage image = screenContent();
    if (image.isNull())
        QSKIP("this platform cannot read back the window's content");
    QCOMPARE(image.size(), form().size() * form().devicePixelRatio());

    verifyNeedle(image, after);
    const QPointF now = probe::fromPivot(needleAngle(after), kNeedleLength);
    for (double d = 18; d <= kNeedleLength; d += 0.5) {
        const QPointF p = probe::fromPivot(needleAngle(before), d);
        if (distanceToSegment(p, probe::kPivot, now) < 6)
            continue;
        const QColor c = probe::at(image, p);
        QVERIFY2(!probe::isReddish(c),
                 qPrintable(probe::describe(c) + " at distance " + QString::number(d)));
    }
}

void TestDialRendering::moveRepaintsOnlyOldAndNewNeedle_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");

    QTest::newRow("0 to 38") << 0.0 << 38.0;
    QTest::newRow("0 to 128") << 0.0 << 128.0;
    QTest::newRow("128 to 255") << 128.0 << 255.0;
    QTest::newRow("87 to 91") << 87.0 << 91.0;
}

void TestDialRendering::moveRepaintsOnlyOldAndNewNeedle()
{
    QFETCH(double, from);
    QFETCH(double, to);
    show();
    auto turned = [](double corrected) {
        piezon::Line line = piezon::kLine1AtRest;
        double angle = -corrected;
        piezon::RotationLine(line, angle);
        return line;
    };
    const piezon::Line a = turned(from);
    const piezon::Line b = turned(to);
    PaintWatch watch(form().Line1);
    form().Line1->setLine(a);
    QVERIFY(QTest::qWaitFor([&] { return watch.count > 0; }));
    watch.count = 0;
    watch.region = QRegion();
    form().Line1->setLine(b);
    QVERIFY(QTest::qWaitFor([&] { return watch.count > 0; }));

    // The needle's box, widened by its half width and a little for anti-aliasing and rounding.
    auto box = [](const piezon::Line& l) {
        return QRectF(QPointF(l.X1, l.Y1) / 15.0, QPointF(l.X2, l.Y2) / 15.0)
            .normalized()
            .adjusted(-6, -6, 6, 6)
            .toAlignedRect();
    };
    const QRegion allowed = QRegion(box(a)) + QRegion(box(b));
    const QRegion outside = watch.region - allowed;
    QVERIFY2(outside.isEmpty(),
             qPrintable(QStringLiteral("repainted outside the needles: %1,%2 %3x%4")
                            .arg(outside.boundingRect().x())
                            .arg(outside.boundingRect().y())
                            .arg(outside.boundingRect().width())
                            .arg(outside.boundingRect().height())));
    // And both needles are inside what was repainted.
    for (const piezon::Line& l : {a, b}) {
        const QPointF tip(l.X2 / 15.0, l.Y2 / 15.0);
        QVERIFY(watch.region.contains(tip.toPoint()));
        QVERIFY(watch.region.contains(((probe::kPivot + tip) / 2).toPoint()));
    }
}

// ---- the kept pictures -----------------------------------------------------------------------

void TestDialRendering::keptPicturesStayWithinBudget_data()
{
    QTest::addColumn<QString>("offset");
    QTest::addColumn<int>("first"); // the working set: raw values first ... first+count-1
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("shownLast"); // the working set ends what every value showed

    // The needle's pictures are largest near the diagonals (raw 75-114 point up and left, 162-201
    // up and right) and smallest near the level; the captions are all the same size.
    QTest::newRow("40 values mid-dial") << "     0" << 100 << 40 << false;
    QTest::newRow("40 values on the upper-left diagonal") << "     0" << 75 << 40 << false;
    QTest::newRow("40 values on the upper-right diagonal") << "     0" << 162 << 40 << false;
    // Twice as many across the upper left, where the needle's pictures are among the largest:
    // still within the needle's share.
    QTest::newRow("80 values about the upper-left diagonal") << "     0" << 55 << 80 << false;
    QTest::newRow("60 values at offset -30") << "   -30" << 60 << 60 << false;
    QTest::newRow("the last 40 values shown") << "    30" << 216 << 40 << true;
}

// Every byte value at offsets -30, 0 and 30 (every needle position and caption there is, far
// more than may be kept), then a gauge's few dozen values recurring: the pictures kept stay
// within 2 MiB at a pixel ratio of 1 (ratio² as much on a denser screen) throughout, and the
// working set stays kept, however long it recurs, so that the steady state draws nothing.
void TestDialRendering::keptPicturesStayWithinBudget()
{
    QFETCH(QString, offset);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(bool, shownLast);
    show();
    const qreal ratio = form().devicePixelRatioF();
    const qsizetype budget = qsizetype((2 << 20) * ratio * ratio);
    piezon::NeedleView& needle = *form().Line1;
    // Every caption's picture covers the label at the screen's pixels.
    const QSize label = form().Label1->size() * ratio;
    const qsizetype captionBytes = qsizetype(label.width()) * label.height() * 4;
    auto kept = [&] { return needle.keptBytes() + caption().keptCount() * captionBytes; };
    auto drawn = [&] { return needle.picturesDrawn() + caption().picturesDrawn(); };
    auto showReading = [&](int raw, const QString& at) {
        read(raw, at);
        QCoreApplication::processEvents();
        QVERIFY2(
            kept() <= budget,
            qPrintable(
                QStringLiteral("%1 bytes kept after raw %2 at %3").arg(kept()).arg(raw).arg(at)));
    };

    for (const QString& at :
         {QStringLiteral("   -30"), QStringLiteral("     0"), QStringLiteral("    30")}) {
        for (int raw = 0; raw < 256; ++raw) {
            showReading(raw, at);
            if (QTest::currentTestFailed())
                return;
        }
    }
    // The readings were drawn: there are some 300 needle positions and captions.
    QVERIFY2(needle.picturesDrawn() > 300, qPrintable(QString::number(needle.picturesDrawn())));
    QVERIFY2(caption().picturesDrawn() > 300,
             qPrintable(QString::number(caption().picturesDrawn())));

    auto play = [&] {
        for (int i = 0; i < count; ++i) {
            // In steps of 7, so that the needle jumps about as a noisy gauge's does.
            showReading(first + (i * 7) % count, offset);
            if (QTest::currentTestFailed())
                return;
        }
    };
    const int before = drawn();
    play();
    QVERIFY(!QTest::currentTestFailed());
    if (shownLast)
        QCOMPARE(drawn(), before);

    // The same values for a long while, in one batch, not drawn: the needle's tip is carried
    // along from move to move, and its coordinates wander by the rounding of each.
    std::mt19937 random(7);
    QByteArray recurring;
    for (int i = 0; i < 20000; ++i)
        recurring += char(first + int(random() % unsigned(count)));
    form().Combo1->setCurrentText(offset);
    form().MSComm1_OnComm(recurring);
    form().flushDisplay();
    QCoreApplication::processEvents();

    const int settled = drawn();
    play();
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(drawn(), settled);
    QVERIFY(kept() <= budget);
    // What the caption counts against its share is what its pictures hold.
    QCOMPARE(caption().keptBytes(), caption().keptCount() * captionBytes);
}

QTEST_MAIN(TestDialRendering)
#include "test_dial_rendering.moc"
