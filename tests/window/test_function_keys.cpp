// The start-up state and the function keys, delivered the way the keyboard delivers them: to
// whichever control has the focus.

#include "gauge/gauge_commands.h"
#include "support/window_session.h"
#include "window/chart_view.h"
#include "window/session_window.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using piezon::testing::WindowSession;

namespace
{

QByteArray rec8()
{
    return QByteArray("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC     0    |    8     "
                      "\xEA\xE3\xF1/c\xEC"
                      "2\r\n");
}

} // namespace

class FunctionKeysTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowSession> s;

    QWidget* control(const QString& name) const
    {
        if (name == "Command1")
            return s->form->Command1;
        if (name == "Command2")
            return s->form->Command2;
        if (name == "Combo1")
            return s->form->Combo1;
        if (name == "Combo2")
            return s->form->Combo2;
        return s->form->Check1;
    }

    void focusOn(QWidget* w)
    {
        w->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), w);
    }

private slots:
    void init()
    {
        s = std::make_unique<WindowSession>();
        QVERIFY(s->form);
        s->form->show();
        QVERIFY(QTest::qWaitForWindowActive(s->form.get()));
    }

    void cleanup() { s.reset(); }

    void startUpState()
    {
        auto& f = *s->form;
        QCOMPARE(f.Combo1->currentText(), QStringLiteral("     0"));
        QCOMPARE(f.Combo1->currentIndex(), 30);
        QCOMPARE(f.Combo1->count(), 61);
        QCOMPARE(f.Combo2->currentText(), QStringLiteral("   1"));
        QCOMPARE(f.Combo2->currentIndex(), 0);
        QVERIFY(f.Check1->isChecked());
        QVERIFY(f.Combo1->isEnabled());
        QVERIFY(f.Combo2->isEnabled());
        QCOMPARE(f.Label1->text(), QStringLiteral("0.00"));
        QCOMPARE(QApplication::focusWidget(), f.Command1);
        QVERIFY(!s->running());
        QVERIFY(!QFile::exists(s->logPath()));
    }

    void keysWorkWhereverTheFocusIs_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("startKey");
        QTest::addColumn<int>("startModifiers");
        QTest::addColumn<int>("stopModifiers");
        for (const char* w : {"Command1", "Command2", "Combo1", "Combo2", "Check1"})
            QTest::addRow("F1/F2 on %s", w) << w << int(Qt::Key_F1) << 0 << 0;
        QTest::newRow("Shift+F1, Ctrl+F2")
            << "Combo1" << int(Qt::Key_F1) << int(Qt::ShiftModifier) << int(Qt::ControlModifier);
        QTest::newRow("Alt+F1, Shift+Ctrl+F2")
            << "Check1" << int(Qt::Key_F1) << int(Qt::AltModifier)
            << int(Qt::ShiftModifier | Qt::ControlModifier);
        QTest::newRow("Enter starts (default button)") << "Check1" << int(Qt::Key_Return) << 0 << 0;
    }

    void keysWorkWhereverTheFocusIs()
    {
        QFETCH(QString, focus);
        QFETCH(int, startKey);
        QFETCH(int, startModifiers);
        QFETCH(int, stopModifiers);
        QWidget* w = control(focus);
        focusOn(w);
        QTest::keyClick(w, Qt::Key(startKey), Qt::KeyboardModifiers(startModifiers));
        QVERIFY(s->running());
        QVERIFY(!s->form->Combo2->isEnabled());
        QVERIFY(s->settle());
        QCOMPARE(s->line.readAvailable(1000), piezon::startCommand());

        QVERIFY(s->line.write(QByteArray(1, '\xFF')));
        QTRY_COMPARE(s->logBytes(), rec8());

        focusOn(w == s->form->Combo2 ? s->form->Combo1 : w); // Combo2 is disabled now
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2,
                        Qt::KeyboardModifiers(stopModifiers));
        QVERIFY(!s->running());
        QCOMPARE(s->line.readAvailable(1000), piezon::stopCommand() + piezon::stopCommand());
        QVERIFY(s->reporter.messages.isEmpty());
    }

    void guardsAndRepeats()
    {
        QWidget* w = s->form->Combo1;
        focusOn(w);
        QTest::keyClick(w, Qt::Key_F2); // nothing to stop
        QCOMPARE(s->line.readAvailable(200), QByteArray());
        QTest::keyClick(w, Qt::Key_F4); // no command of ours
        QVERIFY(!s->running());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        focusOn(w);

        // A held F1, as the keyboard repeats it: the first press starts, every repeat (a release
        // and a press, both marked as repeats) finds the port open.
        const auto send = [w](bool press, bool repeat) {
            QTest::simulateEvent(w, press, Qt::Key_F1, Qt::NoModifier, QString(), repeat);
        };
        send(true, false);
        for (int i = 0; i < 5; ++i) {
            send(false, true);
            send(true, true);
        }
        send(false, false);
        QVERIFY(s->running());
        QVERIFY(s->settle());
        QCOMPARE(s->line.readAvailable(1000), piezon::startCommand());
        QVERIFY(s->reporter.messages.isEmpty());
    }

    // A dropped-down list holds the keyboard: the keys reach its popup, not the box or the window.
    // They are sent to the window as the keyboard sends them, so Qt routes them to the popup.
    void keysWorkWithTheListOpen_data()
    {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<int>("key");
        QTest::newRow("F1 on the offset list") << "Combo1" << int(Qt::Key_F1);
        QTest::newRow("F1 on the port list") << "Combo2" << int(Qt::Key_F1);
        QTest::newRow("F3 on the offset list") << "Combo1" << int(Qt::Key_F3);
    }

    void keysWorkWithTheListOpen()
    {
        QFETCH(QString, combo);
        QFETCH(int, key);
        auto* box = static_cast<QComboBox*>(control(combo));
        QSignalSpy ended(s->form.get(), &piezon::Form1::programEnded);
        focusOn(box);
        box->showPopup();
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(s->form->windowHandle(), Qt::Key(key));

        if (key == Qt::Key_F3) {
            QCOMPARE(ended.size(), 1);
            QVERIFY(!s->form->isVisible());
            QVERIFY(!s->running());
            return;
        }
        QVERIFY(s->running());
        QVERIFY(s->settle());
        QCOMPARE(s->line.readAvailable(1000), piezon::startCommand());
        QVERIFY(s->reporter.messages.isEmpty());
        if (box == s->form->Combo2) { // the port cannot change now: its list goes
            QTRY_VERIFY(!QApplication::activePopupWidget());
            return;
        }
        // The list is still the operator's: the arrows move in it, Escape closes it unchanged.
        QVERIFY(QApplication::activePopupWidget());
        const int before = box->view()->currentIndex().row();
        QTest::keyClick(s->form->windowHandle(), Qt::Key_Down);
        QCOMPARE(box->view()->currentIndex().row(), before + 1);
        QTest::keyClick(s->form->windowHandle(), Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QCOMPARE(box->currentText(), QStringLiteral("     0"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
        QVERIFY(!s->running());
    }

    void logModeKeys_data()
    {
        QTest::addColumn<bool>("initially");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("after");
        QTest::newRow("F5 checks") << false << int(Qt::Key_F5) << true;
        QTest::newRow("F5 keeps checked") << true << int(Qt::Key_F5) << true;
        QTest::newRow("F6 clears") << true << int(Qt::Key_F6) << false;
        QTest::newRow("F6 keeps clear") << false << int(Qt::Key_F6) << false;
        QTest::newRow("F4 leaves it") << true << int(Qt::Key_F4) << true;
    }

    void logModeKeys()
    {
        QFETCH(bool, initially);
        QFETCH(int, key);
        QFETCH(bool, after);
        s->form->Check1->setChecked(initially);
        focusOn(s->form->Command2);
        QTest::keyClick(s->form->Command2, Qt::Key(key), Qt::ShiftModifier);
        QCOMPARE(s->form->Check1->isChecked(), after);
    }

    void focusedControlStillGetsItsKeys()
    {
        focusOn(s->form->Combo1);
        QTest::keyClick(s->form->Combo1, Qt::Key_Down);
        QCOMPARE(s->form->Combo1->currentText(), QStringLiteral("    -1"));
        QTest::keyClick(s->form->Combo1, Qt::Key_F5); // seen by the window, then by the box
        QTest::keyClick(s->form->Combo1, Qt::Key_Up);
        QCOMPARE(s->form->Combo1->currentText(), QStringLiteral("     0"));

        focusOn(s->form->Check1);
        s->form->Check1->setChecked(true);
        QTest::keyClick(s->form->Check1, Qt::Key_Space);
        QVERIFY(!s->form->Check1->isChecked());
    }

    // The session window (F7 in the main window) has keys of its own: F1, F2, F3, F5 and F6 as
    // in the main window, F7 back to the main window, and Enter never, whatever has the focus.
    // The table names the control focused in it, the keys pressed there, and what must follow.
    void sessionWindowKeys_data()
    {
        QTest::addColumn<bool>("startFirst"); // the port is open before the keys
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("mainInFront");

        QTest::newRow("F7 in either window")
            << false << "chart" << QList<int>{Qt::Key_F7} << false << true;
        QTest::newRow("Enter in a session-window field does not start")
            << false << "spanPicker" << QList<int>{Qt::Key_Return, Qt::Key_Enter} << false << false;
        QTest::newRow("F1 in the session window with the port open does nothing more")
            << true << "chart" << QList<int>{Qt::Key_F1} << true << false;
    }

    void sessionWindowKeys()
    {
        QFETCH(bool, startFirst);
        QFETCH(QString, focus);
        QFETCH(QList<int>, keys);
        QFETCH(bool, running);
        QFETCH(bool, mainInFront);

        if (startFirst) {
            s->start();
            QCOMPARE(s->line.readAvailable(1000), piezon::startCommand());
        }
        piezon::SessionWindow& w = s->form->sessionWindow();
        QVERIFY(!w.isVisible());
        // Not on СТАРТ: there the main window itself lets Enter be.
        focusOn(s->form->Combo1);
        QTest::keyClick(s->form->Combo1, Qt::Key_F7);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // It opens with the keys on the chart: no field takes them until the operator tabs.
        QTRY_COMPARE(QApplication::focusWidget(), w.chart);

        QWidget* target = w.findChild<QWidget*>(focus);
        QVERIFY(target);
        focusOn(target);
        for (const int key : keys)
            QTest::keyClick(target, Qt::Key(key));

        QCOMPARE(s->running(), running);
        QVERIFY(s->settle());
        // Nothing more on the line than the START the row began with, if any.
        QCOMPARE(s->line.readAvailable(300), QByteArray());
        QVERIFY(s->reporter.messages.isEmpty());
        if (mainInFront) {
            QVERIFY(QTest::qWaitForWindowActive(s->form.get()));
            QVERIFY(w.isVisible()); // brought behind, not closed
        } else {
            QVERIFY(w.isActiveWindow());
        }
    }

    // Closing the session window leaves the session running; ending the program from either
    // window closes both.
    void sessionWindowAndTheProgramsEnd_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("session window closed") << "close";
        QTest::newRow("F3 in the session window") << "F3";
        QTest::newRow("main window closed") << "main";
    }

    void sessionWindowAndTheProgramsEnd()
    {
        QFETCH(QString, how);
        QSignalSpy ended(s->form.get(), &piezon::Form1::programEnded);
        s->start();
        QCOMPARE(s->line.readAvailable(1000), piezon::startCommand());
        piezon::SessionWindow& w = s->form->sessionWindow();
        s->form->showSessionWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        if (how == "close")
            w.close();
        else if (how == "F3")
            QTest::keyClick(w.chart, Qt::Key_F3);
        else
            s->form->close();
        QVERIFY(!w.isVisible());
        QCOMPARE(s->running(), how == "close");
        QCOMPARE(ended.size(), how == "close" ? 0 : 1);
        QCOMPARE(s->form->isVisible(), how == "close");
        QCOMPARE(s->line.readAvailable(300), QByteArray());
    }

    void tabOrder()
    {
        auto& f = *s->form;
        focusOn(f.Command1);
        const QList<QWidget*> expected{f.Command2, f.Combo1, f.Combo2, f.Check1, f.Command1};
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void endingTheProgramKeepsTheLogAndSendsNoStop_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("F3") << true;
        QTest::newRow("window closed") << false;
    }

    void endingTheProgramKeepsTheLogAndSendsNoStop()
    {
        QFETCH(bool, byKey);
        QSignalSpy ended(s->form.get(), &piezon::Form1::programEnded);
        s->start();
        QCOMPARE(s->line.readAvailable(1000), piezon::startCommand());
        QVERIFY(s->line.write(QByteArray(3, '\xFF')));
        QTRY_COMPARE(s->logBytes(), rec8() + rec8() + rec8());
        if (byKey)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3);
        else
            s->form->close();
        QCOMPARE(ended.size(), 1);
        QVERIFY(!s->form->isVisible());
        QVERIFY(!s->running());
        QCOMPARE(s->line.readAvailable(300), QByteArray());
        QCOMPARE(s->logBytes(), rec8() + rec8() + rec8());
    }
};

QTEST_MAIN(FunctionKeysTest)
#include "test_function_keys.moc"
