#include "gauge/port_listing.h"
#include "gauge/port_mapping.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

using piezon::comPortDevice;
using piezon::describePort;
using piezon::entryExistsOnDisk;
using piezon::parsePortNumber;
using piezon::resolveComPort;

class TestPortMapping : public QObject
{
    Q_OBJECT

private slots:
    void resolveAgainstDeviceSet_data();
    void resolveAgainstDeviceSet();

    void entriesOnDisk_data();
    void entriesOnDisk();
    void danglingPinnedEntryWins();

    void describe_data();
    void describe();

    void portNumber_data();
    void portNumber();

    void identity_data();
    void identity();

    void reconnectFindsTheDevice_data();
    void reconnectFindsTheDevice();

    void systemPortList_data();
    void systemPortList();
};

void TestPortMapping::resolveAgainstDeviceSet_data()
{
    // What exists: "COMn" entries in a folder and device names in /dev. Built-in ports listed as
    // phantom have no UART behind them (the kernel's port type is 0).
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("phantom");
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");

    const QString prog = QStringLiteral("/opt/piezon");
    const QStringList none;
    const QStringList debianPhantoms{"ttyS0", "ttyS1", "ttyS2", "ttyS3"};
    const QStringList laptop{"/dev/ttyS0",   "/dev/ttyS1", "/dev/ttyS2",    "/dev/ttyS3",
                             "/dev/ttyUSB0", "/dev/tty0",  "/dev/ttyprintk"};
    QStringList thirtyTwoPhantoms;
    QStringList thirtyTwoAndBluetooth{"/dev/rfcomm0"};
    for (int i = 0; i < 32; ++i) {
        thirtyTwoPhantoms << QStringLiteral("ttyS%1").arg(i);
        thirtyTwoAndBluetooth << QStringLiteral("/dev/ttyS%1").arg(i);
    }
    const QStringList allFamilies{"/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyS0"};
    QStringList elevenSerial;
    for (int i = 10; i >= 0; --i)
        elevenSerial << QStringLiteral("/dev/ttyS%1").arg(i);

    QTest::newRow("pinned entry wins over devices")
        << QStringList{"/opt/piezon/COM1", "/dev/ttyS0"} << none << prog << 1 << "/opt/piezon/COM1";
    QTest::newRow("pinned entry only for its own number")
        << QStringList{"/opt/piezon/COM2", "/dev/ttyS0"} << none << prog << 1 << "/dev/ttyS0";
    QTest::newRow("pinned entry does not move the others")
        << QStringList{"/opt/piezon/COM1", "/dev/ttyS0", "/dev/ttyUSB0"} << none << prog << 2
        << "/dev/ttyUSB0";
    QTest::newRow("pinned entry with trailing slash on the folder")
        << QStringList{"/opt/piezon/COM16"} << none << "/opt/piezon/" << 16 << "/opt/piezon/COM16";
    QTest::newRow("pinned entry beyond the devices")
        << (QStringList(laptop) << "/opt/piezon/COM9") << debianPhantoms << prog << 9
        << "/opt/piezon/COM9";
    QTest::newRow("four phantom ttyS: the USB adapter is COM1")
        << laptop << debianPhantoms << prog << 1 << "/dev/ttyUSB0";
    QTest::newRow("four phantom ttyS and one USB: no COM2")
        << laptop << debianPhantoms << prog << 2 << "";
    QTest::newRow("32 phantom ttyS: Bluetooth is COM1")
        << thirtyTwoAndBluetooth << thirtyTwoPhantoms << prog << 1 << "/dev/rfcomm0";
    QTest::newRow("one real ttyS among phantoms is COM1")
        << laptop << QStringList{"ttyS0", "ttyS2", "ttyS3"} << prog << 1 << "/dev/ttyS1";
    QTest::newRow("one real ttyS among phantoms: USB is COM2")
        << laptop << QStringList{"ttyS0", "ttyS2", "ttyS3"} << prog << 2 << "/dev/ttyUSB0";
    QTest::newRow("four real ttyS: COM4 is ttyS3") << laptop << none << prog << 4 << "/dev/ttyS3";
    QTest::newRow("four real ttyS: USB is COM5") << laptop << none << prog << 5 << "/dev/ttyUSB0";
    QTest::newRow("family order: ttyS") << allFamilies << none << prog << 1 << "/dev/ttyS0";
    QTest::newRow("family order: ttyUSB") << allFamilies << none << prog << 2 << "/dev/ttyUSB0";
    QTest::newRow("family order: ttyACM") << allFamilies << none << prog << 3 << "/dev/ttyACM0";
    QTest::newRow("family order: rfcomm") << allFamilies << none << prog << 4 << "/dev/rfcomm0";
    QTest::newRow("phantom ttyS does not hide the others")
        << allFamilies << QStringList{"ttyS0"} << prog << 3 << "/dev/rfcomm0";
    QTest::newRow("numeric order, not the listing's: ttyS10 is COM11")
        << elevenSerial << none << prog << 11 << "/dev/ttyS10";
    QTest::newRow("numeric order: ttyUSB2 before ttyUSB10")
        << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2"} << none << prog << 1 << "/dev/ttyUSB2";
    QTest::newRow("gap in a family: ttyS2 after a missing ttyS1")
        << QStringList{"/dev/ttyS0", "/dev/ttyS2", "/dev/ttyUSB0"} << none << prog << 2
        << "/dev/ttyS2";
    QTest::newRow("family without its 0: the second adapter left plugged in")
        << QStringList{"/dev/ttyUSB1", "/dev/ttyACM0"} << none << prog << 1 << "/dev/ttyUSB1";
    QTest::newRow("not serial ports of ours")
        << QStringList{"/dev/ttySAC0", "/dev/ttyS", "/dev/ttyS01",
                       "/dev/ttyAMA0", "/dev/tty1", "/dev/ttyACM0"}
        << none << prog << 1 << "/dev/ttyACM0";
    QTest::newRow("no devices at all") << QStringList{} << none << prog << 1 << "";
    QTest::newRow("zero, even when pinned")
        << QStringList{"/opt/piezon/COM0", "/dev/ttyS0"} << none << prog << 0 << "";
    QTest::newRow("negative") << QStringList{"/dev/ttyS0"} << none << prog << -1 << "";
}

void TestPortMapping::resolveAgainstDeviceSet()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, phantom);
    QFETCH(QString, programDir);
    QFETCH(int, n);
    QFETCH(QString, expected);

    const QSet<QString> present(entries.cbegin(), entries.cend());
    const QSet<QString> noUart(phantom.cbegin(), phantom.cend());
    piezon::PortSystem system;
    system.exists = [&present](const QString& path) { return present.contains(path); };
    system.deviceNames = [&entries] {
        QStringList names;
        for (const QString& path : entries)
            if (path.startsWith(QLatin1String("/dev/")))
                names << path.mid(5);
        return names;
    };
    system.hasUart = [&noUart](const QString& name) { return !noUart.contains(name); };
    QCOMPARE(resolveComPort(n, programDir, system), expected);
}

void TestPortMapping::entriesOnDisk_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exists");

    QTest::newRow("regular file") << "COM3" << true;
    QTest::newRow("link to an existing file") << "COM4" << true;
    QTest::newRow("dangling link") << "COM7" << true;
    QTest::newRow("nothing there") << "COM9" << false;
}

void TestPortMapping::entriesOnDisk()
{
    QFETCH(QString, name);
    QFETCH(bool, exists);
#ifdef Q_OS_WIN
    QSKIP("Windows numbers its ports itself: no COMn entry is looked for");
#endif

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile regular(dir.filePath(QStringLiteral("COM3")));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    QVERIFY(
        QFile::link(dir.filePath(QStringLiteral("COM3")), dir.filePath(QStringLiteral("COM4"))));
    QVERIFY(
        QFile::link(dir.filePath(QStringLiteral("gone")), dir.filePath(QStringLiteral("COM7"))));

    QCOMPARE(entryExistsOnDisk(dir.filePath(name)), exists);
}

void TestPortMapping::danglingPinnedEntryWins()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
#ifdef Q_OS_WIN
    // There COM2 is the system's own, whatever is in the folder (the name is the device's
    // everywhere: no file of that name can even be made).
    QCOMPARE(comPortDevice(2, dir.path(), entryExistsOnDisk), QStringLiteral("COM2"));
    QCOMPARE(comPortDevice(16, dir.path(), entryExistsOnDisk), QStringLiteral("COM16"));
    QCOMPARE(comPortDevice(0, dir.path(), entryExistsOnDisk), QString());
    return;
#endif
    const QString pinned = dir.filePath(QStringLiteral("COM2"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("no-such-device")), pinned));
    QVERIFY(!QFile::exists(pinned));

    QCOMPARE(comPortDevice(2, dir.path(), entryExistsOnDisk), pinned);
}

void TestPortMapping::describe_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");

#ifdef Q_OS_WIN
    QTest::newRow("device path") << 5 << "//./COM5"
                                 << "COM5 (\\\\.\\COM5)";
#else
    QTest::newRow("device found") << 5 << "/dev/ttyUSB0"
                                  << "COM5 (/dev/ttyUSB0)";
    QTest::newRow("pinned entry") << 16 << "/opt/piezon/COM16"
                                  << "COM16 (/opt/piezon/COM16)";
#endif
    QTest::newRow("no device") << 3 << ""
                               << "COM3";
    // Windows' own port: its name says it all.
    QTest::newRow("the system's COM port") << 12 << "COM12"
                                           << "COM12";
}

void TestPortMapping::describe()
{
    QFETCH(int, n);
    QFETCH(QString, path);
    QFETCH(QString, text);
    QCOMPARE(describePort(n, path), text);
}

void TestPortMapping::portNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("n");

    // The picker's items are right-aligned in four characters.
    for (int n = 1; n <= 16; ++n) {
        const QString item = QString::number(n).rightJustified(4, QLatin1Char(' '));
        QTest::addRow("\"%s\"", qPrintable(item)) << item << n;
    }
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("not a number") << "COM1" << 0;
}

void TestPortMapping::portNumber()
{
    QFETCH(QString, text);
    QFETCH(int, n);
    QCOMPARE(parsePortNumber(text), n);
}

void TestPortMapping::identity_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("identity"); // relative to the test's folder
    // by-id/ holds udev's names; the plain files stand in for the devices.
    QTest::newRow("an adapter with a serial number") << "ttyUSB1"
                                                     << "by-id/usb-FTDI_FT232R_A10K3XYZ-if00-port0";
    QTest::newRow("asked by another name for it") << "COM5"
                                                  << "by-id/usb-FTDI_FT232R_A10K3XYZ-if00-port0";
    QTest::newRow("no name of its own") << "ttyUSB0"
                                        << "ttyUSB0";
    QTest::newRow("not there") << "ttyUSB7"
                               << "ttyUSB7";
}

// What a session remembers of its device must find that device again under another number, and
// never take another device for it.
void TestPortMapping::identity()
{
    QFETCH(QString, device);
    QFETCH(QString, identity);
#ifdef Q_OS_WIN
    QSKIP("Windows keeps its own COM numbers: the number is the identity");
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char* name : {"ttyUSB0", "ttyUSB1"}) {
        QFile f(dir.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("by-id")));
    QVERIFY(QFile::link(QStringLiteral("../ttyUSB1"),
                        dir.filePath(QStringLiteral("by-id/usb-FTDI_FT232R_A10K3XYZ-if00-port0"))));
    QVERIFY(QFile::link(QStringLiteral("../gone"),
                        dir.filePath(QStringLiteral("by-id/usb-Prolific_unplugged-port0"))));
    QVERIFY(
        QFile::link(dir.filePath(QStringLiteral("ttyUSB1")), dir.filePath(QStringLiteral("COM5"))));
    QCOMPARE(piezon::identityAmong(dir.filePath(device), dir.filePath(QStringLiteral("by-id"))),
             dir.filePath(identity));
}

void TestPortMapping::reconnectFindsTheDevice_data()
{
    QTest::addColumn<QString>("identity"); // relative to the test's folder on Unix
    QTest::addColumn<bool>("found");
#ifdef Q_OS_WIN
    // A COM port's name is no file: asked of the file system, "COM3" is a file in the current
    // folder and "COM12" an invalid path, and a lost line would never be tried again. The open
    // itself is the only test of whether the device is back.
    QTest::newRow("COM3") << "COM3" << true;
    QTest::newRow("COM12") << "COM12" << true;
    QTest::newRow("COM16") << "COM16" << true;
#else
    QTest::newRow("the device is there") << "ttyUSB0" << true;
    QTest::newRow("an adapter's name, the adapter back") << "by-id/usb-back-port0" << true;
    QTest::newRow("an adapter's name, the adapter away") << "by-id/usb-away-port0" << false;
    QTest::newRow("the device is gone") << "ttyUSB7" << false;
#endif
}

// Where the session's device is now, once a second while its line is lost: the device
// itself, never another one, and nothing while it is surely away.
void TestPortMapping::reconnectFindsTheDevice()
{
    QFETCH(QString, identity);
    QFETCH(bool, found);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const piezon::PortNaming naming = piezon::portNamingOnDisk(dir.path());
#ifdef Q_OS_WIN
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const QString located = naming.locate(identity);
    QDir::setCurrent(saved);
    QCOMPARE(located, found ? identity : QString());
#else
    QFile device(dir.filePath(QStringLiteral("ttyUSB0")));
    QVERIFY(device.open(QIODevice::WriteOnly));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("by-id")));
    QVERIFY(QFile::link(QStringLiteral("../ttyUSB0"),
                        dir.filePath(QStringLiteral("by-id/usb-back-port0"))));
    const QString path = dir.filePath(identity);
    QCOMPARE(naming.locate(path), found ? path : QString());
#endif
}

using Ports = QList<piezon::SystemPort>;

void TestPortMapping::systemPortList_data()
{
    QTest::addColumn<Ports>("ports");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("none") << Ports{} << QStringList{};
    // The system lists them in any order; the operator reads them by number, COM10 after COM9.
    QTest::newRow("number order")
        << Ports{{"COM10", "USB Serial Port", "FTDI", "A12345"},
                 {"COM3", "Standard Serial over Bluetooth link", "Microsoft", ""},
                 {"COM1", "Communications Port", "(Standard port types)", ""}}
        << QStringList{"COM1  — Communications Port, (Standard port types)",
                       "COM3  — Standard Serial over Bluetooth link, Microsoft",
                       "COM10 — USB Serial Port, FTDI, серийный номер A12345"};
    QTest::newRow("nothing known, a fact twice")
        << Ports{{"COM2", "", "  ", ""}, {"COM4", "Gauge", "Gauge", ""}}
        << QStringList{"COM2  — последовательный порт", "COM4  — Gauge"};
    // A number the picker does not offer must not look like one the operator can choose.
    QTest::newRow("above 16")
        << Ports{{"COM17", "USB Serial Port", "", ""}}
        << QStringList{"COM17 — USB Serial Port (номер больше 16: в программе его не выбрать; "
                       "задайте порту номер 1–16 в Диспетчере устройств)"};
    QTest::newRow("not a COM port")
        << Ports{{"LPT1", "Printer Port", "", ""}, {"COM0", "", "", ""}} << QStringList{};
}

void TestPortMapping::systemPortList()
{
    QFETCH(Ports, ports);
    QFETCH(QStringList, lines);
    QCOMPARE(piezon::listSystemPorts(ports), lines);
}

QTEST_GUILESS_MAIN(TestPortMapping)
#include "test_port_mapping.moc"
