#include "gauge/port_mapping.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

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
};

void TestPortMapping::resolveAgainstDeviceSet_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");

    const QString prog = QStringLiteral("/opt/piezon");
    const QStringList fourSerialOneUsb{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3",
                                       "/dev/ttyUSB0"};
    const QStringList allFamilies{"/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyS0"};

    QTest::newRow("pinned entry wins over devices")
        << QStringList{"/opt/piezon/COM1", "/dev/ttyS0"} << prog << 1 << "/opt/piezon/COM1";
    QTest::newRow("pinned entry only for its own number")
        << QStringList{"/opt/piezon/COM2", "/dev/ttyS0"} << prog << 1 << "/dev/ttyS0";
    QTest::newRow("pinned entry with trailing slash on the folder")
        << QStringList{"/opt/piezon/COM16"} << "/opt/piezon/" << 16 << "/opt/piezon/COM16";
    QTest::newRow("COM1 is ttyS0") << fourSerialOneUsb << prog << 1 << "/dev/ttyS0";
    QTest::newRow("COM4 is ttyS3") << fourSerialOneUsb << prog << 4 << "/dev/ttyS3";
    QTest::newRow("COM5 is ttyUSB0 after four ttyS")
        << fourSerialOneUsb << prog << 5 << "/dev/ttyUSB0";
    QTest::newRow("COM6 beyond the devices") << fourSerialOneUsb << prog << 6 << "";
    QTest::newRow("family order: ttyS") << allFamilies << prog << 1 << "/dev/ttyS0";
    QTest::newRow("family order: ttyUSB") << allFamilies << prog << 2 << "/dev/ttyUSB0";
    QTest::newRow("family order: ttyACM") << allFamilies << prog << 3 << "/dev/ttyACM0";
    QTest::newRow("family order: rfcomm") << allFamilies << prog << 4 << "/dev/rfcomm0";
    QTest::newRow("gap: ttyS2 after a missing ttyS1 is not counted")
        << QStringList{"/dev/ttyS0", "/dev/ttyS2", "/dev/ttyUSB0"} << prog << 2 << "/dev/ttyUSB0";
    QTest::newRow("gap: nothing left after the gap")
        << QStringList{"/dev/ttyS0", "/dev/ttyS2"} << prog << 2 << "";
    QTest::newRow("family without its 0 is skipped")
        << QStringList{"/dev/ttyUSB1", "/dev/ttyACM0"} << prog << 1 << "/dev/ttyACM0";
    QTest::newRow("two-digit device numbers")
        << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3",
                       "/dev/ttyS4", "/dev/ttyS5", "/dev/ttyS6", "/dev/ttyS7",
                       "/dev/ttyS8", "/dev/ttyS9", "/dev/ttyS10"}
        << prog << 11 << "/dev/ttyS10";
    QTest::newRow("no devices at all") << QStringList{} << prog << 1 << "";
    QTest::newRow("zero, even when pinned")
        << QStringList{"/opt/piezon/COM0", "/dev/ttyS0"} << prog << 0 << "";
    QTest::newRow("negative") << QStringList{"/dev/ttyS0"} << prog << -1 << "";
}

void TestPortMapping::resolveAgainstDeviceSet()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, programDir);
    QFETCH(int, n);
    QFETCH(QString, expected);

    const QSet<QString> present(entries.cbegin(), entries.cend());
    const auto exists = [&present](const QString& path) { return present.contains(path); };
    QCOMPARE(resolveComPort(n, programDir, exists), expected);
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
    const QString pinned = dir.filePath(QStringLiteral("COM2"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("no-such-device")), pinned));
    QVERIFY(!QFile::exists(pinned));

    QCOMPARE(resolveComPort(2, dir.path(), entryExistsOnDisk), pinned);
}

void TestPortMapping::describe_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");

    QTest::newRow("device found") << 5 << "/dev/ttyUSB0"
                                  << "COM5 (/dev/ttyUSB0)";
    QTest::newRow("pinned entry") << 16 << "/opt/piezon/COM16"
                                  << "COM16 (/opt/piezon/COM16)";
    QTest::newRow("no device") << 3 << ""
                               << "COM3";
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

QTEST_GUILESS_MAIN(TestPortMapping)
#include "test_port_mapping.moc"
