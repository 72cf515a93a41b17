#include "window/default_button_rest.h"

#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWidget>

// Stand-ins with the class names of the Windows style's own animations: the filter can only
// tell them apart by name, so a test of it needs the same names.
class QWindowsVistaPulse : public QVariantAnimation
{
    Q_OBJECT
public:
    using QVariantAnimation::QVariantAnimation;
};

class QWindowsVistaTransition : public QVariantAnimation
{
    Q_OBJECT
public:
    using QVariantAnimation::QVariantAnimation;
};

// Only a default button's endless pulse is refused: a refused hover or press transition would
// stop on its first frame and leave a button drawn as it was (hovered, pressed) after the fact.
class TestDefaultButtonRest : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheDefaultButtonsPulseIsRefused_data();
    void onlyTheDefaultButtonsPulseIsRefused();
};

void TestDefaultButtonRest::onlyTheDefaultButtonsPulseIsRefused_data()
{
    QTest::addColumn<bool>("isDefault");
    QTest::addColumn<QString>("animation");
    QTest::addColumn<bool>("refused");
    QTest::newRow("default button's pulse") << true << "pulse" << true;
    QTest::newRow("default button's hover transition") << true << "transition" << false;
    QTest::newRow("default button, no animation") << true << "none" << false;
    QTest::newRow("other button's pulse-like animation") << false << "pulse" << false;
    QTest::newRow("other button's transition") << false << "transition" << false;
}

void TestDefaultButtonRest::onlyTheDefaultButtonsPulseIsRefused()
{
    QFETCH(bool, isDefault);
    QFETCH(QString, animation);
    QFETCH(bool, refused);

    piezon::DefaultButtonRest rest;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton(QStringLiteral("СТАРТ"), &window);
    auto* other = new QPushButton(QStringLiteral("СТОП"), &window);
    layout->addWidget(button);
    layout->addWidget(other);
    button->setDefault(isDefault);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QAbstractAnimation* running = nullptr;
    if (animation == QLatin1String("pulse"))
        running = new QWindowsVistaPulse(button);
    else if (animation == QLatin1String("transition"))
        running = new QWindowsVistaTransition(button);

    // As the style asks for each frame: not accepted means "stop".
    QEvent update(QEvent::StyleAnimationUpdate);
    update.setAccepted(false);
    QCoreApplication::sendEvent(button, &update);
    QCOMPARE(!update.isAccepted(), refused);

    // The filter looks at the button's own animations, not at a sibling's.
    QEvent sibling(QEvent::StyleAnimationUpdate);
    sibling.setAccepted(false);
    QCoreApplication::sendEvent(other, &sibling);
    QVERIFY(sibling.isAccepted());
    delete running;
}

QTEST_MAIN(TestDefaultButtonRest)
#include "test_default_button_rest.moc"
