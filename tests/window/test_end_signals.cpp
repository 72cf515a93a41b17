#include "window/end_signals.h"

#include <QAbstractEventDispatcher>
#include <QSignalSpy>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#endif

// The desktop ending the program must reach it as one request to end, as F3 does, and nothing
// else may look like one.
class TestEndSignals : public QObject
{
    Q_OBJECT

private slots:
    void desktopEndIsOneRequest_data();
    void desktopEndIsOneRequest();
};

void TestEndSignals::desktopEndIsOneRequest_data()
{
    QTest::addColumn<int>("what");
    QTest::addColumn<qlonglong>("detail");
    QTest::addColumn<int>("requests");
#ifdef Q_OS_WIN
    // The session ends (log off, shut down): the system may end the process as soon as the
    // message is handled, so the request must come inside it, not from the event loop later.
    QTest::newRow("session ends") << int(WM_ENDSESSION) << qlonglong(TRUE) << 1;
    QTest::newRow("session end called off") << int(WM_ENDSESSION) << qlonglong(FALSE) << 0;
    QTest::newRow("asked whether it may end") << int(WM_QUERYENDSESSION) << qlonglong(0) << 0;
    QTest::newRow("ordinary message") << int(WM_TIMER) << qlonglong(0) << 0;
#else
    QTest::newRow("SIGTERM at logout") << SIGTERM << qlonglong(0) << 1;
    QTest::newRow("SIGHUP, its terminal gone") << SIGHUP << qlonglong(0) << 1;
    QTest::newRow("SIGINT, Ctrl+C") << SIGINT << qlonglong(0) << 1;
#endif
}

void TestEndSignals::desktopEndIsOneRequest()
{
    QFETCH(int, what);
    QFETCH(qlonglong, detail);
    QFETCH(int, requests);

    piezon::EndSignals signals_;
    QSignalSpy spy(&signals_, &piezon::EndSignals::endRequested);
#ifdef Q_OS_WIN
    MSG message{};
    message.message = UINT(what);
    message.wParam = WPARAM(detail);
    qintptr result = 0;
    // Every window of the program gets it; the program ends once.
    for (const char* type : {"windows_generic_MSG", "windows_dispatcher_MSG"})
        QAbstractEventDispatcher::instance()->filterNativeEvent(type, &message, &result);
    QCOMPARE(spy.count(), requests);
#else
    Q_UNUSED(detail);
    QCOMPARE(::raise(what), 0);
    QTRY_COMPARE(spy.count(), requests);
#endif
    QTest::qWait(50);
    QCOMPARE(spy.count(), requests);
}

QTEST_GUILESS_MAIN(TestEndSignals)
#include "test_end_signals.moc"
