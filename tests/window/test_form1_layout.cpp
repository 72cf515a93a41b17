// The main window as the operator sees it: layout, fonts, texts, focus and what the dial shows
// before any reading. Registered twice, at device-pixel ratio 1 and 2; every position below is in
// logical pixels and the probes convert.

#include "support/form_probe.h"

#include "dial/dial_face.h"
#include "dial/hub_shape.h"
#include "dial/needle_geometry.h"
#include "dial/needle_view.h"
#include "gauge/reading_chain.h"
#include "window/session_window.h"
#include "window/texts.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <map>
#include <memory>
#include <set>

using piezon::Form1;

namespace
{

std::map<QString, QWidget*> controls(Form1& f)
{
    return {
        {"Command1", f.Command1}, {"Command2", f.Command2}, {"Combo1", f.Combo1},
        {"Combo2", f.Combo2},     {"Check1", f.Check1},     {"Label1", f.Label1},
        {"Label2", f.Label2},     {"Label3", f.Label3},     {"Line1", f.Line1},
        {"Shape1", f.Shape1},     {"Image1", f.Image1},
    };
}

QWidget* control(Form1& f, const QString& name)
{
    const std::map<QString, QWidget*> all = controls(f);
    const auto it = all.find(name);
    return it == all.end() ? nullptr : it->second;
}

// A control's name for a message; one the table does not know by its class.
QString nameOf(Form1& f, const QWidget* w)
{
    for (const auto& [name, known] : controls(f)) {
        if (known == w)
            return name;
    }
    return QString::fromLatin1(w->metaObject()->className());
}

QRect fromTwips(int left, int top, int width, int height)
{
    return {qRound(left / 15.0), qRound(top / 15.0), qRound(width / 15.0), qRound(height / 15.0)};
}

// A plain QLabel drawn as Label1 is (font, palette, alignment, roles), at `geometry`: what
// Label1 must look like, whatever pictures it keeps.
std::unique_ptr<QLabel> plainTwin(const QLabel& label, const QRect& geometry)
{
    auto twin = std::make_unique<QLabel>(label.text(), label.parentWidget());
    twin->setFont(label.font());
    twin->setPalette(label.palette());
    twin->setAlignment(label.alignment());
    twin->setAutoFillBackground(true);
    twin->setBackgroundRole(label.backgroundRole());
    twin->setForegroundRole(label.foregroundRole());
    twin->setGeometry(geometry);
    return twin;
}

} // namespace

class TestForm1Layout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void captionAndFixedClientArea();
    void iconIsTheGaugePicture();
    void controlGeometry_data();
    void controlGeometry();
    void controlsInsideAndApart();
    void needleRestsOnZeroMark();
    void fonts_data();
    void fonts();
    void alignment_data();
    void alignment();
    void toolTips_data();
    void toolTips();
    void comboItems_data();
    void comboItems();
    void readingLabelStartsAtZero();
    void readingLabelIsWhiteOnBlack();
    void everyCaptionFitsTheReadingLabel();
    void captionFollowsItsColour_data();
    void captionFollowsItsColour();
    void drawingOrder();
    void focusStartsOnStart();
    void tabOrder_data();
    void tabOrder();

    void grabShowsDialAtRest_data();
    void grabShowsDialAtRest();
    void restingNeedleIsRed();
    void faceShownAtScreenResolution();
    void sessionWindowLeavesTheMainWindowAlone_data();
    void sessionWindowLeavesTheMainWindowAlone();

private:
    void showAndActivate();
    QImage grab() const { return probe::toImage(m_window->form->grab()); }

    std::unique_ptr<probe::Window> m_window;
};

void TestForm1Layout::init()
{
    m_window = std::make_unique<probe::Window>();
}

void TestForm1Layout::cleanup()
{
    QVERIFY2(m_window->reporter.messages.isEmpty(),
             qPrintable(m_window->reporter.messages.join(QLatin1Char('\n'))));
    m_window.reset();
}

void TestForm1Layout::showAndActivate()
{
    Form1& f = *m_window->form;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
}

void TestForm1Layout::captionAndFixedClientArea()
{
    Form1& f = *m_window->form;
    QCOMPARE(f.windowTitle(), QStringLiteral("Пьезон для RX418"));
    QCOMPARE(f.size(), QSize(376, 273));
    QCOMPARE(f.minimumSize(), QSize(376, 273));
    QCOMPARE(f.maximumSize(), QSize(376, 273));

    showAndActivate();
    f.resize(500, 400);
    QCOMPARE(f.size(), QSize(376, 273));
}

void TestForm1Layout::iconIsTheGaugePicture()
{
    QVERIFY(!m_window->form->windowIcon().isNull());
    const QImage icon(QStringLiteral(":/piezon/icon.png"));
    QCOMPARE(icon.size(), QSize(95, 109));
    QVERIFY(!icon.hasAlphaChannel());
    QCOMPARE(icon.depth() >= 24, true);
    // Not a blank: a dark face with a red needle on it.
    int dark = 0;
    int red = 0;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            const QColor c = icon.pixelColor(x, y);
            dark += c.lightness() < 30;
            red += probe::isReddish(c);
        }
    }
    QVERIFY2(dark > icon.width() * icon.height() / 4, qPrintable(QString::number(dark)));
    QVERIFY2(red > 20, qPrintable(QString::number(red)));
}

void TestForm1Layout::controlGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");

    // Left, top, width, height in twips, 15 to a pixel.
    QTest::newRow("Check1") << "Check1" << QRect(4730, 1870, 255, 255);
    QTest::newRow("Combo2") << "Combo2" << QRect(4650, 360, 765, 315);
    QTest::newRow("Combo1") << "Combo1" << QRect(4360, 3480, 900, 315);
    QTest::newRow("Command2") << "Command2" << QRect(4200, 2280, 1215, 495);
    QTest::newRow("Command1") << "Command1" << QRect(4200, 1200, 1215, 495);
    QTest::newRow("Shape1") << "Shape1" << QRect(1560, 1800, 975, 495);
    QTest::newRow("Label3") << "Label3" << QRect(4200, 3240, 1215, 255);
    QTest::newRow("Label2") << "Label2" << QRect(3950, 425, 675, 255);
    QTest::newRow("Label1") << "Label1" << QRect(1680, 2880, 975, 375);
    QTest::newRow("Image1") << "Image1" << QRect(240, 240, 3600, 3600);
}

void TestForm1Layout::controlGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QWidget* w = control(*m_window->form, name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget(), m_window->form.get());
    QCOMPARE(w->geometry(), fromTwips(twips.x(), twips.y(), twips.width(), twips.height()));
}

// The window has the controls of the table and no others; each lies inside the fixed client
// area, clear of the others but where the layout stacks them: the dial's parts (face, needle,
// hub and reading) over one another, and the offset's caption, whose last pixel row lies under
// the offset's box (255 twips tall from 3240, the box from 3480).
void TestForm1Layout::controlsInsideAndApart()
{
    Form1& f = *m_window->form;
    const QRect client(QPoint(0, 0), f.size());
    const std::set<QWidget*> dial{f.Image1, f.Line1, f.Shape1, f.Label1};
    const std::set<QWidget*> offset{f.Label3, f.Combo1};
    QList<QWidget*> placed;
    for (QWidget* w : f.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isWindow()) // a message box is a window of its own, not a control
            placed << w;
    }
    QCOMPARE(placed.size(), qsizetype(controls(f).size()));
    for (qsizetype i = 0; i < placed.size(); ++i) {
        QWidget* w = placed[i];
        QVERIFY2(client.contains(w->geometry()), qPrintable(nameOf(f, w)));
        for (qsizetype j = i + 1; j < placed.size(); ++j) {
            QWidget* other = placed[j];
            if ((dial.count(w) && dial.count(other)) || (offset.count(w) && offset.count(other)))
                continue;
            QVERIFY2(!w->geometry().intersects(other->geometry()),
                     qPrintable(nameOf(f, w) + QStringLiteral(" overlaps ") + nameOf(f, other)));
        }
    }
}

void TestForm1Layout::needleRestsOnZeroMark()
{
    const piezon::Line& line = m_window->form->Line1->line();
    QCOMPARE(line.X1, 2040.0f);
    QCOMPARE(line.Y1, 2040.0f);
    QCOMPARE(line.X2, 830.0f);
    QCOMPARE(line.Y2, 2990.0f);
    // The needle must be able to reach every part of the dial picture.
    QVERIFY(m_window->form->Line1->geometry().contains(m_window->form->Image1->geometry()));
}

void TestForm1Layout::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<int>("pixelSize");

    // 8.25 pt is 11 px at 96 dpi, 18 pt is 24 px.
    QTest::newRow("Command1") << "Command1" << true << 11;
    QTest::newRow("Command2") << "Command2" << true << 11;
    QTest::newRow("Label2") << "Label2" << true << 11;
    QTest::newRow("Label1") << "Label1" << true << 24;
    QTest::newRow("Label3") << "Label3" << false << 11;
    QTest::newRow("Check1") << "Check1" << false << 11;
    QTest::newRow("Combo1") << "Combo1" << false << 11;
    QTest::newRow("Combo2") << "Combo2" << false << 11;
}

void TestForm1Layout::fonts()
{
    QFETCH(QString, name);
    QFETCH(bool, bold);
    QFETCH(int, pixelSize);
    QWidget* w = control(*m_window->form, name);
    QVERIFY(w);
    const QFont f = w->font();
    QCOMPARE(f.bold(), bold);
    QCOMPARE(f.pixelSize(), pixelSize);
    QVERIFY(!f.italic());
    QVERIFY(!f.underline());
    QVERIFY(!f.strikeOut());
    // Cyrillic must come out of the font itself, not from a fallback of another look.
    QVERIFY(QFontMetrics(f).inFont(QChar(0x0436)));
}

void TestForm1Layout::alignment_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("horizontal");

    QTest::newRow("Label1 left") << "Label1" << int(Qt::AlignLeft);
    QTest::newRow("Label2 right") << "Label2" << int(Qt::AlignRight);
    QTest::newRow("Label3 centred") << "Label3" << int(Qt::AlignHCenter);
}

void TestForm1Layout::alignment()
{
    QFETCH(QString, name);
    QFETCH(int, horizontal);
    auto* label = qobject_cast<QLabel*>(control(*m_window->form, name));
    QVERIFY(label);
    QCOMPARE(int(label->alignment() & Qt::AlignHorizontal_Mask), horizontal);
}

void TestForm1Layout::toolTips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tip");

    QTest::newRow("Command1") << "Command1" << QStringLiteral("  (F1)  Начать чтение данных. ");
    QTest::newRow("Command2") << "Command2" << QStringLiteral("  (F2)  Завершить чтение данных. ");
    QTest::newRow("Check1") << "Check1"
                            << QStringLiteral("(F5)(F6) Режим работы log файла. v - запись всех "
                                              "данных,    - запись только изменяющихся данных. ");
    QTest::newRow("Combo2") << "Combo2" << QStringLiteral("Введите номер COM порта.");
    QTest::newRow("Combo1") << "Combo1" << QStringLiteral("Введите погрешность.");
    QTest::newRow("Label2") << "Label2" << QStringLiteral("Введите номер COM порта.");
    QTest::newRow("Label3") << "Label3" << QStringLiteral("Введите погрешность.");
    QTest::newRow("Label1 has none") << "Label1" << QString();
}

void TestForm1Layout::toolTips()
{
    QFETCH(QString, name);
    QFETCH(QString, tip);
    QWidget* w = control(*m_window->form, name);
    QVERIFY(w);
    QCOMPARE(w->toolTip(), tip);
}

void TestForm1Layout::comboItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("startIndex");
    QTest::addColumn<QString>("startText");

    QTest::newRow("Combo1 offset")
        << "Combo1" << 61 << 6 << 30 << -1 << 30 << QStringLiteral("     0");
    QTest::newRow("Combo2 port") << "Combo2" << 16 << 4 << 1 << 1 << 0 << QStringLiteral("   1");
}

void TestForm1Layout::comboItems()
{
    QFETCH(QString, name);
    QFETCH(int, count);
    QFETCH(int, width);
    QFETCH(int, first);
    QFETCH(int, step);
    QFETCH(int, startIndex);
    QFETCH(QString, startText);

    auto* combo = qobject_cast<QComboBox*>(control(*m_window->form, name));
    QVERIFY(combo);
    QVERIFY(!combo->isEditable());
    QCOMPARE(combo->count(), count);
    for (int i = 0; i < count; ++i) {
        const QString item = combo->itemText(i);
        QCOMPARE(item.size(), width);
        // Right-aligned: blanks, then the number with its sign, nothing after it.
        QVERIFY2(!item.endsWith(QLatin1Char(' ')), qPrintable(item));
        const QString digits = item.trimmed();
        QCOMPARE(QString(item.size() - digits.size(), QLatin1Char(' ')) + digits, item);
        bool ok = false;
        QCOMPARE(digits.toInt(&ok), first + i * step);
        QVERIFY(ok);
    }
    QCOMPARE(combo->currentIndex(), startIndex);
    QCOMPARE(combo->currentText(), startText);
}

void TestForm1Layout::readingLabelStartsAtZero()
{
    QCOMPARE(m_window->form->Label1->text(), QStringLiteral("0.00"));
}

void TestForm1Layout::readingLabelIsWhiteOnBlack()
{
    QLabel* label = m_window->form->Label1;
    QVERIFY(label->autoFillBackground());
    const QPalette pal = label->palette();
    QCOMPARE(pal.color(label->foregroundRole()), QColor(Qt::white));
    QCOMPARE(pal.color(label->backgroundRole()), QColor(Qt::black));

    // And on screen: a black box with white digits in it.
    showAndActivate();
    const QImage image = grab();
    const QRect box = label->geometry();
    int white = 0;
    int black = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            const QColor c = probe::at(image, QPointF(x + 0.5, y + 0.5));
            white += c.lightness() > 240;
            black += c.lightness() < 15;
        }
    }
    const int area = box.width() * box.height();
    QVERIFY2(black > area / 2, qPrintable(QString::number(black)));
    QVERIFY2(white > 30, qPrintable(QString::number(white)));
    QCOMPARE(probe::at(image, box.topRight() + QPointF(-1.5, 1.5)), QColor(Qt::black));
}

void TestForm1Layout::everyCaptionFitsTheReadingLabel()
{
    // Every caption the chain can make: all offsets, all bytes, with a point and with a comma.
    std::set<QString> captions;
    for (const QString& offset : piezon::texts::offsetItems()) {
        for (int byte = 0; byte <= 255; ++byte) {
            for (const QChar separator : {QLatin1Char('.'), QLatin1Char(',')}) {
                const auto reading = piezon::computeReading(quint8(byte), offset, separator);
                QVERIFY(reading);
                captions.insert(reading->caption);
            }
        }
    }
    QVERIFY(captions.count(QStringLiteral("-0.94")) && captions.count(QStringLiteral("8,94")));

    showAndActivate();
    QLabel* label = m_window->form->Label1;
    // The same label with room to spare on every side (centred vertically, so one label height
    // above and below): what it draws is the caption whole, and Label1 must draw exactly that.
    const std::unique_ptr<QLabel> twinLabel =
        plainTwin(*label, QRect(0, 0, label->width() * 3, label->height() * 3));
    QLabel& twin = *twinLabel;

    const QString original = label->text();
    for (const QString& caption : captions) {
        label->setText(caption);
        twin.setText(caption);
        const QImage shown = probe::toImage(label->grab());
        const QImage whole = probe::toImage(twin.grab());
        // Label1's place inside the twin, in device pixels.
        const QRect inside(0, shown.height(), shown.width(), shown.height());
        QRect ink;
        for (int y = 0; y < whole.height(); ++y) {
            for (int x = 0; x < whole.width(); ++x) {
                if (whole.pixelColor(x, y).lightness() >= 64)
                    ink |= QRect(x, y, 1, 1);
            }
        }
        QVERIFY2(!ink.isEmpty() && inside.contains(ink),
                 qPrintable(QStringLiteral("%1: ink at %2,%3 to %4,%5, label %6x%7")
                                .arg(caption)
                                .arg(ink.left())
                                .arg(ink.top() - inside.top())
                                .arg(ink.right())
                                .arg(ink.bottom() - inside.top())
                                .arg(shown.width())
                                .arg(shown.height())));
        QVERIFY2(whole.copy(inside) == shown, qPrintable(caption));
    }
    label->setText(original);
}

void TestForm1Layout::captionFollowsItsColour_data()
{
    QTest::addColumn<QList<QColor>>("colours"); // the caption's, one after the other

    const QColor grey(128, 128, 128); // the link is lost: the reading is stale
    QTest::newRow("grey") << QList<QColor>{grey};
    QTest::newRow("grey, then white again") << QList<QColor>{grey, QColor(Qt::white)};
}

// Label1 keeps the pictures of captions it has shown; a new colour (set through its palette)
// must show on every caption at once, those drawn before included.
void TestForm1Layout::captionFollowsItsColour()
{
    QFETCH(QList<QColor>, colours);
    showAndActivate();
    QLabel* label = m_window->form->Label1;
    const QStringList captions{QStringLiteral("2.73"), QStringLiteral("0.00")};
    for (const QString& caption : captions) {
        label->setText(caption);
        QVERIFY(!probe::toImage(label->grab()).isNull());
    }
    for (const QColor& colour : colours) {
        QPalette pal = label->palette();
        pal.setColor(label->foregroundRole(), colour);
        label->setPalette(pal);
        const std::unique_ptr<QLabel> twinLabel = plainTwin(*label, label->geometry());
        QLabel& twin = *twinLabel;
        for (const QString& caption : captions) {
            label->setText(caption);
            twin.setText(caption);
            const QImage shown = probe::toImage(label->grab());
            QVERIFY2(shown == probe::toImage(twin.grab()),
                     qPrintable(caption + QLatin1Char(' ') + colour.name()));
            int inked = 0;
            for (int y = 0; y < shown.height(); ++y) {
                for (int x = 0; x < shown.width(); ++x)
                    inked += shown.pixelColor(x, y) == colour;
            }
            QVERIFY2(inked > 10, qPrintable(caption + QLatin1Char(' ') + colour.name()));
        }
    }
}

void TestForm1Layout::drawingOrder()
{
    Form1& f = *m_window->form;
    // Siblings are stacked in the order of the parent's children, bottom first.
    const QObjectList& stack = f.children();
    const qsizetype image = stack.indexOf(f.Image1);
    const qsizetype label = stack.indexOf(f.Label1);
    const qsizetype needle = stack.indexOf(f.Line1);
    const qsizetype hub = stack.indexOf(f.Shape1);
    QVERIFY(image >= 0);
    QVERIFY2(image < label && label < needle && needle < hub,
             qPrintable(QStringLiteral("Image1 %1, Label1 %2, Line1 %3, Shape1 %4")
                            .arg(image)
                            .arg(label)
                            .arg(needle)
                            .arg(hub)));
    // The controls the operator works never lie under the dial's parts.
    for (QWidget* w : {static_cast<QWidget*>(f.Command1), static_cast<QWidget*>(f.Command2),
                       static_cast<QWidget*>(f.Combo1), static_cast<QWidget*>(f.Combo2),
                       static_cast<QWidget*>(f.Check1)}) {
        QVERIFY2(!w->geometry().intersects(f.Image1->geometry()), qPrintable(w->objectName()));
        QWidget* hit = f.childAt(w->geometry().center());
        QVERIFY2(hit == w || w->isAncestorOf(hit), qPrintable(w->objectName()));
    }
}

void TestForm1Layout::focusStartsOnStart()
{
    showAndActivate();
    QCOMPARE(QApplication::focusWidget(), m_window->form->Command1);
}

void TestForm1Layout::tabOrder_data()
{
    QTest::addColumn<bool>("backwards");
    QTest::addColumn<QStringList>("visits");

    QTest::newRow("Tab") << false
                         << QStringList{"Command2", "Combo1", "Combo2", "Check1", "Command1"};
    QTest::newRow("Shift+Tab") << true
                               << QStringList{"Check1", "Combo2", "Combo1", "Command2", "Command1"};
}

void TestForm1Layout::tabOrder()
{
    QFETCH(bool, backwards);
    QFETCH(QStringList, visits);
    showAndActivate();
    Form1& f = *m_window->form;
    QCOMPARE(QApplication::focusWidget(), f.Command1);
    for (const QString& name : visits) {
        QWidget* from = QApplication::focusWidget();
        QVERIFY(from);
        QTest::keyClick(from, Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        QCOMPARE(QApplication::focusWidget(), control(f, name));
    }
}

void TestForm1Layout::grabShowsDialAtRest_data()
{
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<QColor>("colour");

    const QColor white(Qt::white);
    const QColor black(Qt::black);
    const QColor hubFill(224, 224, 224);

    // The dial picture sits at (16, 16), 240 px square.
    QTest::newRow("top-left corner") << QPointF(16.5, 16.5) << white;
    QTest::newRow("top-right corner") << QPointF(254.5, 16.5) << white;
    QTest::newRow("bottom-left corner") << QPointF(16.5, 254.5) << white;
    QTest::newRow("bottom-right corner") << QPointF(254.5, 254.5) << white;
    QTest::newRow("disc above the hub") << QPointF(136.5, 100.5) << black;
    QTest::newRow("disc left of centre") << QPointF(80.5, 136.5) << black;
    QTest::newRow("disc right of centre") << QPointF(190.5, 136.5) << black;
    QTest::newRow("disc near the rim") << probe::fromPivot(0, 118) << black;
    QTest::newRow("hub over the pivot") << probe::kPivot << hubFill;
    QTest::newRow("hub over the needle's root") << probe::fromPivot(141.86, 10) << hubFill;
}

void TestForm1Layout::grabShowsDialAtRest()
{
    QFETCH(QPointF, point);
    QFETCH(QColor, colour);
    showAndActivate();
    const QImage image = grab();
    const QColor seen = probe::at(image, point);
    QVERIFY2(seen == colour,
             qPrintable(probe::describe(seen) + " at " + QString::number(point.x()) + "," +
                        QString::number(point.y())));
}

void TestForm1Layout::restingNeedleIsRed()
{
    showAndActivate();
    const QImage image = grab();
    // Red from the hub's edge all the way to the tip at (55.3, 199.3), and nothing beyond it.
    const QPointF tip(830 / 15.0, 2990 / 15.0);
    const QPointF along = tip - probe::kPivot;
    const double length = std::hypot(along.x(), along.y());
    for (double d = 18; d <= length - 1; d += 0.5) {
        const QColor c = probe::at(image, probe::kPivot + along * (d / length));
        QVERIFY2(probe::isPureRed(c),
                 qPrintable(probe::describe(c) + " at distance " + QString::number(d)));
    }
    const QColor beyond = probe::at(image, probe::kPivot + along * ((length + 3) / length));
    QVERIFY2(!probe::isReddish(beyond), qPrintable(probe::describe(beyond)));
}

void TestForm1Layout::faceShownAtScreenResolution()
{
    showAndActivate();
    Form1& f = *m_window->form;
    const qreal dpr = f.devicePixelRatioF();
    const QImage image = grab();
    QCOMPARE(image.devicePixelRatio(), dpr);
    QCOMPARE(image.size(), QSize(qRound(376 * dpr), qRound(273 * dpr)));

    // The upper part of the dial, clear of needle, hub and reading, must be the face as drawn for
    // this ratio, device pixel for device pixel.
    const QImage face = piezon::renderDialFace(dpr).toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(face.size(), QSize(qRound(240 * dpr), qRound(240 * dpr)));
    const int offset = qRound(16 * dpr);
    const int rows = qRound(100 * dpr); // down to y 116, above the hub at 120
    int mismatches = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < face.width(); ++x) {
            const QColor a = face.pixelColor(x, y);
            const QColor b = image.pixelColor(x + offset, y + offset);
            const int diff = qMax(qAbs(a.red() - b.red()),
                                  qMax(qAbs(a.green() - b.green()), qAbs(a.blue() - b.blue())));
            mismatches += diff > 2;
        }
    }
    QCOMPARE(mismatches, 0);

    if (dpr < 2 || !qFuzzyCompare(dpr, std::round(dpr)))
        return;

    // A face drawn once at 1x and blown up would blur every edge. The "4" mark stands straight up
    // from the centre, 3 px wide about x = 120 of the face: at an integer ratio its edges fall on
    // device pixel boundaries and must come out hard.
    const int row = qRound((16 + 20.5) * dpr); // 99.5 px above the centre, within the mark
    const int left = qRound((16 + 118.5) * dpr);
    const int right = qRound((16 + 121.5) * dpr); // one past the mark
    for (int x = left; x < right; ++x)
        QVERIFY2(image.pixelColor(x, row).lightness() > 250, qPrintable(QString::number(x)));
    QVERIFY(image.pixelColor(left - 1, row).lightness() < 5);
    QVERIFY(image.pixelColor(right, row).lightness() < 5);

    // And the whole upper face differs plainly from a smooth upscale of the 1x face.
    const QImage blown = piezon::renderDialFace(1)
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32)
                             .scaled(face.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int different = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < face.width(); ++x)
            different += qAbs(blown.pixelColor(x, y).lightness() -
                              image.pixelColor(x + offset, y + offset).lightness()) > 64;
    }
    QVERIFY2(different > 200, qPrintable(QString::number(different)));
}

void TestForm1Layout::sessionWindowLeavesTheMainWindowAlone_data()
{
    QTest::addColumn<bool>("mainActive");
    QTest::newRow("main window active") << true;
    QTest::newRow("main window behind another") << false;
}

// The main window looks the same, pixel for pixel, whether the session window is open or not:
// compared in the same state of activation, for an inactive window is drawn differently.
void TestForm1Layout::sessionWindowLeavesTheMainWindowAlone()
{
    QFETCH(bool, mainActive);
    Form1& f = *m_window->form;
    piezon::SessionWindow& session = f.sessionWindow();
    QWidget other;
    other.setWindowTitle(QStringLiteral("other"));
    other.resize(100, 100);
    const auto bringForward = [](QWidget& w) {
        w.show();
        w.raise();
        w.activateWindow();
        return QTest::qWaitForWindowActive(&w);
    };

    showAndActivate();
    if (!mainActive)
        QVERIFY(bringForward(other));
    QCOMPARE(f.isActiveWindow(), mainActive);
    const QImage closed = grab();

    f.showSessionWindow();
    QVERIFY(QTest::qWaitForWindowActive(&session));
    QVERIFY(bringForward(mainActive ? static_cast<QWidget&>(f) : other));
    QVERIFY(session.isVisible());
    QCOMPARE(f.isActiveWindow(), mainActive);
    const QImage open = grab();
    QCOMPARE(open.size(), closed.size());
    QVERIFY(open == closed);

    // And with the session window in front.
    if (!mainActive) {
        QVERIFY(bringForward(session));
        QVERIFY(grab() == closed);
    }
    session.close();
}

QTEST_MAIN(TestForm1Layout)
#include "test_form1_layout.moc"
