// The reasons the operator reads in messages: the system's error numbers and texts put into plain
// Russian, whatever language the system speaks, and the system's own words where we have none.

#include "log/system_reason.h"

#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <clocale>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace
{

// The system's own words for an error number, as Qt's file and port classes report them.
QString systemWords(int number)
{
#ifdef Q_OS_WIN
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(number), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString words = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    ::LocalFree(text);
    return words.isEmpty() ? QStringLiteral("Системная ошибка %1").arg(number) : words;
#else
    return QString::fromLocal8Bit(std::strerror(number));
#endif
}

} // namespace

class TestSystemReason : public QObject
{
    Q_OBJECT

private slots:
    void systemReasonsInRussian_data();
    void systemReasonsInRussian();
};

void TestSystemReason::systemReasonsInRussian_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("russian"); // empty: the system's own words
    QTest::addColumn<QString>("ofAPort"); // said of a port instead; empty: the same
    QTest::addColumn<QByteArray>("locale");
#ifdef Q_OS_WIN
    QTest::newRow("missing device")
        << int(ERROR_FILE_NOT_FOUND) << "Нет такого файла или устройства" << QString()
        << QByteArray("C");
    QTest::newRow("port held by another program")
        << int(ERROR_ACCESS_DENIED)
        << "Доступ запрещён: порт или файл занят другой программой, или нет прав" << QString()
        << QByteArray("C");
    QTest::newRow("file held by another program")
        << int(ERROR_SHARING_VIOLATION) << "Файл занят другой программой" << QString()
        << QByteArray("C");
    QTest::newRow("device gone") << int(ERROR_DEVICE_NOT_CONNECTED) << "Устройство не подключено"
                                 << QString() << QByteArray("C");
    QTest::newRow("disk full") << int(ERROR_DISK_FULL) << "На диске не осталось места" << QString()
                               << QByteArray("C");
    QTest::newRow("write-protected")
        << int(ERROR_WRITE_PROTECT) << "Диск защищён от записи" << QString() << QByteArray("C");
    QTest::newRow("quota") << 1295 << "Превышена дисковая квота" << QString() << QByteArray("C");
    QTest::newRow("network folder gone")
        << int(ERROR_NETNAME_DELETED) << "Сетевая папка больше недоступна" << QString()
        << QByteArray("C");
    QTest::newRow("mapped by another program")
        << int(ERROR_USER_MAPPED_FILE)
        << "Файл открыт в другой программе, которая не даёт его изменить" << QString()
        << QByteArray("C");
    QTest::newRow("anything else")
        << int(ERROR_NOT_SAME_DEVICE) << QString() << QString() << QByteArray("C");
#else
    QTest::newRow("missing device")
        << ENOENT << "Нет такого файла или устройства" << QString() << QByteArray("C");
    QTest::newRow("no device") << ENODEV << "Устройство не найдено" << QString() << QByteArray("C");
    QTest::newRow("no permission") << EACCES << "Нет прав доступа" << QString() << QByteArray("C");
    QTest::newRow("busy") << EBUSY << "Устройство занято" << QString() << QByteArray("C");
    QTest::newRow("I/O error") << EIO << "Ошибка ввода-вывода" << QString() << QByteArray("C");
    QTest::newRow("disk full") << ENOSPC << "На диске не осталось места" << QString()
                               << QByteArray("C");
    QTest::newRow("read-only file system")
        << EROFS << "Файловая система доступна только для чтения" << QString() << QByteArray("C");
    QTest::newRow("quota") << EDQUOT << "Превышена дисковая квота" << QString() << QByteArray("C");
    QTest::newRow("network folder gone")
        << ESTALE << "Сетевая папка больше недоступна" << QString() << QByteArray("C");
    QTest::newRow("anything else") << EXDEV << QString() << QString() << QByteArray("C");
    // What opening something that is not a serial line as a port comes to, in any language.
    for (const QByteArray& locale : {QByteArray("C"), QByteArray("ru_RU.UTF-8")}) {
        QTest::addRow("not a terminal, %s", locale.constData())
            << ENOTTY << "Это не последовательный порт" << QString() << locale;
        QTest::addRow("a folder, %s", locale.constData())
            << EISDIR << "Это папка, а не файл"
            << "Это папка, а не последовательный порт" << locale;
        QTest::addRow("a link loop, %s", locale.constData())
            << ELOOP << "Ссылки замкнуты в кольцо и никуда не ведут" << QString() << locale;
    }
#endif
}

// From the number, and from the text Qt's file and port classes give for it.
void TestSystemReason::systemReasonsInRussian()
{
    QFETCH(int, number);
    QFETCH(QString, russian);
    QFETCH(QString, ofAPort);
    QFETCH(QByteArray, locale);
    const QByteArray before = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, locale.constData()))
        QSKIP("this language is not installed here (scripts/test.sh makes it)");
    const QString system = systemWords(number);
    std::setlocale(LC_ALL, before.constData());
    if (locale != "C")
        QVERIFY2(system.contains(QRegularExpression(QStringLiteral("[А-Яа-я]"))),
                 qPrintable(system)); // the system really spoke Russian
    const QString expected = russian.isEmpty() ? system : russian;
    std::setlocale(LC_ALL, locale.constData());
    QCOMPARE(piezon::systemReason(number), expected);
    QCOMPARE(piezon::russianReason(system), expected);
    QCOMPARE(piezon::russianPortReason(system), ofAPort.isEmpty() ? expected : ofAPort);
    std::setlocale(LC_ALL, before.constData());
    QCOMPARE(piezon::russianReason(QStringLiteral("Устройство отключилось")),
             QStringLiteral("Устройство отключилось"));
}

QTEST_GUILESS_MAIN(TestSystemReason)
#include "test_system_reason.moc"
