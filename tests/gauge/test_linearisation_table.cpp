#include "gauge/linearisation_table.h"

#include <QList>
#include <QTest>

using piezon::linearisationAmount;
using piezon::linearise;

class TestLinearisationTable : public QObject
{
    Q_OBJECT

private slots:
    void workedRows_data();
    void workedRows();

    void uncorrectedCodes_data();
    void uncorrectedCodes();

    void growingAmountGivesEqualNeighbours_data();
    void growingAmountGivesEqualNeighbours();

    void neverFalls();
    void exactlyTheseValuesAreNeverProduced();
    void correctionCoversEightTo247ExceptThirteen();
};

void TestLinearisationTable::workedRows_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<int>("corrected");

    QTest::newRow("0") << 0 << 0;
    QTest::newRow("7, last uncorrected low code") << 7 << 7;
    QTest::newRow("8, first corrected code") << 8 << 7;
    QTest::newRow("12") << 12 << 11;
    QTest::newRow("13 is left alone") << 13 << 13;
    QTest::newRow("14") << 14 << 13;
    QTest::newRow("30") << 30 << 28;
    QTest::newRow("100") << 100 << 87;
    QTest::newRow("115, start of the largest correction") << 115 << 101;
    QTest::newRow("141, end of the largest correction") << 141 << 127;
    QTest::newRow("142") << 142 << 129;
    QTest::newRow("200") << 200 << 194;
    QTest::newRow("247, last corrected code") << 247 << 246;
    QTest::newRow("248, first uncorrected high code") << 248 << 248;
    QTest::newRow("255") << 255 << 255;
}

void TestLinearisationTable::workedRows()
{
    QFETCH(int, raw);
    QFETCH(int, corrected);
    QCOMPARE(linearise(raw), corrected);
}

void TestLinearisationTable::uncorrectedCodes_data()
{
    QTest::addColumn<int>("code");
    for (int code = 0; code <= 7; ++code)
        QTest::addRow("%d", code) << code;
    QTest::addRow("13") << 13;
    for (int code = 248; code <= 255; ++code)
        QTest::addRow("%d", code) << code;
}

void TestLinearisationTable::uncorrectedCodes()
{
    QFETCH(int, code);
    QCOMPARE(linearisationAmount(code), 0);
    QCOMPARE(linearise(code), code);
}

void TestLinearisationTable::growingAmountGivesEqualNeighbours_data()
{
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("corrected");

    // Each row: codes lower and lower + 1 both give `corrected`.
    const QList<std::pair<int, int>> pairs{{7, 7},   {13, 13}, {29, 28}, {37, 35}, {49, 46},
                                           {52, 48}, {56, 51}, {61, 55}, {69, 62}, {71, 63},
                                           {74, 65}, {78, 68}, {89, 78}, {99, 87}, {114, 101}};
    for (const auto& [lower, corrected] : pairs)
        QTest::addRow("%d and %d", lower, lower + 1) << lower << corrected;
}

void TestLinearisationTable::growingAmountGivesEqualNeighbours()
{
    QFETCH(int, lower);
    QFETCH(int, corrected);
    QCOMPARE(linearise(lower), corrected);
    QCOMPARE(linearise(lower + 1), corrected);
}

void TestLinearisationTable::neverFalls()
{
    for (int raw = 1; raw <= 255; ++raw) {
        if (linearise(raw) < linearise(raw - 1))
            QFAIL(qPrintable(QStringLiteral("raw %1 gives %2, below raw %3's %4")
                                 .arg(raw)
                                 .arg(linearise(raw))
                                 .arg(raw - 1)
                                 .arg(linearise(raw - 1))));
    }
}

void TestLinearisationTable::exactlyTheseValuesAreNeverProduced()
{
    QList<bool> produced(256, false);
    for (int raw = 0; raw <= 255; ++raw) {
        const int corrected = linearise(raw);
        QVERIFY2(corrected >= 0 && corrected <= 255, qPrintable(QString::number(raw)));
        produced[corrected] = true;
    }
    QList<int> missing;
    for (int value = 0; value <= 255; ++value) {
        if (!produced[value])
            missing.append(value);
    }
    const QList<int> expected{12,  128, 145, 156, 168, 173, 177, 180,
                              189, 195, 200, 204, 217, 226, 247};
    QCOMPARE(missing, expected);
}

void TestLinearisationTable::correctionCoversEightTo247ExceptThirteen()
{
    int corrected = 0;
    for (int code = 0; code <= 255; ++code) {
        const int amount = linearisationAmount(code);
        const bool expectCorrection = code >= 8 && code <= 247 && code != 13;
        QVERIFY2(expectCorrection ? (amount >= 1 && amount <= 14) : amount == 0,
                 qPrintable(QStringLiteral("code %1 has amount %2").arg(code).arg(amount)));
        if (amount > 0)
            ++corrected;
    }
    QCOMPARE(corrected, 239);
}

QTEST_GUILESS_MAIN(TestLinearisationTable)
#include "test_linearisation_table.moc"
