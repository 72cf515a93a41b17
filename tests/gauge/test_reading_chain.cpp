#include "gauge/linearisation_table.h"
#include "gauge/reading_chain.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <charconv>
#include <cstdlib>
#include <type_traits>

using piezon::captionSeparator;
using piezon::computeReading;
using piezon::parseOffset;
using piezon::Reading;

namespace
{

// The offset picker's items: 30 down to -30, right-aligned in six characters.
QStringList offsetItems()
{
    QStringList items;
    for (int value = 30; value >= -30; --value)
        items << QString::number(value).rightJustified(6, QLatin1Char(' '));
    return items;
}

// corrected * 8 / 255 in hundredths, rounded half away from zero, in whole numbers only so that
// it cannot share a floating-point fault with the code under test. Ties cannot occur.
int roundedHundredths(int corrected)
{
    const int numerator = std::abs(corrected) * 800;
    const int hundredths = (2 * numerator + 255) / 510;
    return corrected < 0 ? -hundredths : hundredths;
}

// The caption for a value in hundredths: no trailing zeros, no separator for a whole value.
QString captionFor(int hundredths, QChar separator)
{
    QString text = hundredths < 0 ? QStringLiteral("-") : QString();
    const int magnitude = std::abs(hundredths);
    text += QString::number(magnitude / 100);
    int decimals = magnitude % 100;
    if (decimals != 0) {
        QString digits = QString::number(decimals).rightJustified(2, QLatin1Char('0'));
        if (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        text += separator + digits;
    }
    return text;
}

// The nearest float to a decimal text with a '.' separator.
float floatFromText(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    float value = 0;
    const auto result = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), value);
    if (result.ec != std::errc() || result.ptr != bytes.constData() + bytes.size())
        qFatal("not a decimal number: %s", bytes.constData());
    return value;
}

} // namespace

class TestReadingChain : public QObject
{
    Q_OBJECT

private slots:
    void workedCases_data();
    void workedCases();
    void workedCasesWithComma_data() { workedCases_data(); }
    void workedCasesWithComma();

    void captionSeparatorOfLocale_data();
    void captionSeparatorOfLocale();
    void nonAsciiDecimalPointFallsBack_data();
    void nonAsciiDecimalPointFallsBack();

    void parseOffsetAcceptsEveryItem_data();
    void parseOffsetAcceptsEveryItem();
    void parseOffsetRejects_data();
    void parseOffsetRejects();
    void rejectedOffsetGivesNoReading_data() { parseOffsetRejects_data(); }
    void rejectedOffsetGivesNoReading();

    void everyByteAndOffset_data();
    void everyByteAndOffset();
};

void TestReadingChain::workedCases_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("offset");
    QTest::addColumn<double>("corrected");
    QTest::addColumn<QString>("caption");

    const QString zero = QStringLiteral("     0");
    QTest::newRow("nothing received reads as 0") << 0 << zero << 0.0 << "0";
    QTest::newRow("13 has no table step") << 13 << zero << 13.0 << "0.41";
    QTest::newRow("14 lowered to 13") << 14 << zero << 13.0 << "0.41";
    QTest::newRow("12 lowered to 11") << 12 << zero << 11.0 << "0.35";
    QTest::newRow("100") << 100 << zero << 87.0 << "2.73";
    QTest::newRow("56, trailing zero dropped") << 56 << zero << 51.0 << "1.6";
    QTest::newRow("57, same corrected as 56") << 57 << zero << 51.0 << "1.6";
    QTest::newRow("255, whole value") << 255 << zero << 255.0 << "8";
    QTest::newRow("247") << 247 << zero << 246.0 << "7.72";
    QTest::newRow("248") << 248 << zero << 248.0 << "7.78";
    QTest::newRow("1, zero tenths kept") << 1 << zero << 1.0 << "0.03";
    QTest::newRow("offset -30, below the scale")
        << 0 << QStringLiteral("   -30") << -30.0 << "-0.94";
    QTest::newRow("offset 30, above the scale")
        << 255 << QStringLiteral("    30") << 285.0 << "8.94";
    QTest::newRow("offset -1 cancels raw 1") << 1 << QStringLiteral("    -1") << 0.0 << "0";
    QTest::newRow("offset -1, small negative") << 0 << QStringLiteral("    -1") << -1.0 << "-0.03";
    // Both rows would differ if the offset were added before the table.
    QTest::newRow("offset after the table, 12+1")
        << 12 << QStringLiteral("     1") << 12.0 << "0.38";
    QTest::newRow("offset after the table, 100+15")
        << 100 << QStringLiteral("    15") << 102.0 << "3.2";
}

void TestReadingChain::workedCases()
{
    QFETCH(int, raw);
    QFETCH(QString, offset);
    QFETCH(double, corrected);
    QFETCH(QString, caption);

    const std::optional<Reading> reading =
        computeReading(static_cast<quint8>(raw), offset, QLatin1Char('.'));
    QVERIFY(reading);
    QCOMPARE(reading->raw, raw);
    QCOMPARE(reading->corrected, corrected);
    QCOMPARE(reading->caption, caption);
    static_assert(std::is_same_v<decltype(Reading::pressure), float>);
    QCOMPARE(reading->pressure, floatFromText(caption));
}

void TestReadingChain::workedCasesWithComma()
{
    QFETCH(int, raw);
    QFETCH(QString, offset);
    QFETCH(double, corrected);
    QFETCH(QString, caption);

    const std::optional<Reading> reading =
        computeReading(static_cast<quint8>(raw), offset, QLatin1Char(','));
    QVERIFY(reading);
    QCOMPARE(reading->corrected, corrected);
    QCOMPARE(reading->caption, QString(caption).replace(QLatin1Char('.'), QLatin1Char(',')));
    // The separator is only for showing: the value is the same.
    QCOMPARE(reading->pressure, floatFromText(caption));
}

void TestReadingChain::captionSeparatorOfLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QChar>("separator");

    QTest::newRow("C") << QLocale::c() << QChar(u'.');
    QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates) << QChar(u'.');
    QTest::newRow("Russian") << QLocale(QLocale::Russian, QLocale::Russia) << QChar(u',');
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << QChar(u',');
}

void TestReadingChain::captionSeparatorOfLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QChar, separator);
    QCOMPARE(captionSeparator(locale), separator);
}

void TestReadingChain::nonAsciiDecimalPointFallsBack_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("Arabic, Egypt") << QLocale(QLocale::Arabic, QLocale::Egypt);
    QTest::newRow("Persian, Iran") << QLocale(QLocale::Persian, QLocale::Iran);
}

void TestReadingChain::nonAsciiDecimalPointFallsBack()
{
    QFETCH(QLocale, locale);
    const QString point = locale.decimalPoint();
    QVERIFY2(!point.isEmpty() && point.at(0).unicode() > 0x7f,
             "this locale no longer has a non-ASCII decimal point; pick another one");
    QCOMPARE(captionSeparator(locale), QChar(u'.'));
}

void TestReadingChain::parseOffsetAcceptsEveryItem_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    for (const QString& item : offsetItems())
        QTest::addRow("\"%s\"", qPrintable(item)) << item << item.trimmed().toInt();
}

void TestReadingChain::parseOffsetAcceptsEveryItem()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(text.size(), 6);
    QCOMPARE(parseOffset(text), std::optional<int>(value));
}

void TestReadingChain::parseOffsetRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks only") << QStringLiteral("  ");
    QTest::newRow("minus only") << QStringLiteral("-");
    QTest::newRow("blanks and minus") << QStringLiteral("     -");
    QTest::newRow("trailing letter") << QStringLiteral("1a");
    QTest::newRow("blank inside the number") << QStringLiteral(" 3 0");
    QTest::newRow("blank after the minus") << QStringLiteral("  - 3");
    QTest::newRow("double minus") << QStringLiteral("--3");
    QTest::newRow("minus after the digits") << QStringLiteral("3-");
    QTest::newRow("decimal") << QStringLiteral("3.0");
    QTest::newRow("non-ASCII digit") << QStringLiteral("\u0663");
    QTest::newRow("too large for int") << QStringLiteral("99999999999999999999");
}

void TestReadingChain::parseOffsetRejects()
{
    QFETCH(QString, text);
    QCOMPARE(parseOffset(text), std::nullopt);
}

void TestReadingChain::rejectedOffsetGivesNoReading()
{
    QFETCH(QString, text);
    QVERIFY(!computeReading(100, text, QLatin1Char('.')));
}

void TestReadingChain::everyByteAndOffset_data()
{
    QTest::addColumn<QChar>("separator");
    QTest::newRow("point") << QChar(u'.');
    QTest::newRow("comma") << QChar(u',');
}

void TestReadingChain::everyByteAndOffset()
{
    QFETCH(QChar, separator);
    const QRegularExpression shape(QStringLiteral("^-?[0-9]+(%1[0-9]{1,2})?$")
                                       .arg(QRegularExpression::escape(QString(separator))));
    QVERIFY(shape.isValid());

    for (const QString& offset : offsetItems()) {
        const int offsetValue = offset.trimmed().toInt();
        for (int raw = 0; raw <= 255; ++raw) {
            const auto where = [&] {
                return QStringLiteral("raw %1, offset \"%2\"").arg(raw).arg(offset);
            };
            const std::optional<Reading> reading =
                computeReading(static_cast<quint8>(raw), offset, separator);
            QVERIFY2(reading, qPrintable(where()));

            const int corrected = piezon::linearise(raw) + offsetValue;
            QVERIFY2(reading->corrected == corrected, qPrintable(where()));

            const QString& caption = reading->caption;
            QVERIFY2(shape.match(caption).hasMatch(), qPrintable(where() + ": " + caption));

            const int hundredths = roundedHundredths(corrected);
            const QString expected = captionFor(hundredths, separator);
            QVERIFY2(caption == expected,
                     qPrintable(where() + ": \"" + caption + "\", expected \"" + expected + "\""));

            // The caption reads back as exactly the single-precision value held.
            const float readBack =
                floatFromText(QString(caption).replace(separator, QLatin1Char('.')));
            QVERIFY2(readBack == reading->pressure, qPrintable(where()));
        }
    }
}

QTEST_GUILESS_MAIN(TestReadingChain)
#include "test_reading_chain.moc"
