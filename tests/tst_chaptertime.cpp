#include "chaptertime.h"

#include <QTest>

using namespace Tessaline;

class TestChapterTime : public QObject
{
    Q_OBJECT

private slots:
    void padTwo_data();
    void padTwo();
    void padThree_data();
    void padThree();
    void shiftChapterTime_data();
    void shiftChapterTime();
    void shiftChapterTimeRefuses_data();
    void shiftChapterTimeRefuses();
    void sameFrameSameResult();
};

void TestChapterTime::padTwo_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << qint64(0) << QStringLiteral("00");
    QTest::newRow("negative") << qint64(-3) << QStringLiteral("00");
    QTest::newRow("one digit") << qint64(7) << QStringLiteral("07");
    QTest::newRow("nine") << qint64(9) << QStringLiteral("09");
    QTest::newRow("ten") << qint64(10) << QStringLiteral("10");
    QTest::newRow("two digits") << qint64(20) << QStringLiteral("20");
    QTest::newRow("three digits, not cut") << qint64(123) << QStringLiteral("123");
    QTest::newRow("past 16 bits") << qint64(1000000) << QStringLiteral("1000000");
}

void TestChapterTime::padTwo()
{
    QFETCH(qint64, value);
    QFETCH(QString, expected);
    QCOMPARE(PadTwo(value), expected);
}

void TestChapterTime::padThree_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << qint64(0) << QStringLiteral("000");
    QTest::newRow("negative") << qint64(-1) << QStringLiteral("000");
    QTest::newRow("one digit") << qint64(5) << QStringLiteral("005");
    QTest::newRow("two digits") << qint64(50) << QStringLiteral("050");
    QTest::newRow("ninety-nine") << qint64(99) << QStringLiteral("099");
    QTest::newRow("hundred") << qint64(100) << QStringLiteral("100");
    QTest::newRow("four digits, not cut") << qint64(1234) << QStringLiteral("1234");
}

void TestChapterTime::padThree()
{
    QFETCH(qint64, value);
    QFETCH(QString, expected);
    QCOMPARE(PadThree(value), expected);
}

void TestChapterTime::shiftChapterTime_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("expected");
    // Frame counts at 30 fps in the row names.
    QTest::newRow("0: start") << QStringLiteral("00:00:00.000") << QStringLiteral("00:00:00.000");
    QTest::newRow("0: rounds down") << QStringLiteral("00:00:00.016") << QStringLiteral("00:00:00.000");
    QTest::newRow("1: rounds up") << QStringLiteral("00:00:00.017") << QStringLiteral("00:00:00.033");
    QTest::newRow("31") << QStringLiteral("00:00:01.017") << QStringLiteral("00:00:01.034");
    QTest::newRow("1800: one minute") << QStringLiteral("00:01:00.000") << QStringLiteral("00:01:00.060");
    QTest::newRow("9704") << QStringLiteral("00:05:23.456") << QStringLiteral("00:05:23.790");
    QTest::newRow("18000: ten minutes") << QStringLiteral("00:10:00.000") << QStringLiteral("00:10:00.600");
    QTest::newRow("108000: one hour") << QStringLiteral("01:00:00.000") << QStringLiteral("01:00:03.600");
    QTest::newRow("983040: 32767 s") << QStringLiteral("09:06:07.999") << QStringLiteral("09:06:40.768");
    QTest::newRow("4.5 frames: half to even, down") << QStringLiteral("00:00:00.150") << QStringLiteral("00:00:00.133");
    QTest::newRow("1.5 frames: half to even, up") << QStringLiteral("00:00:00.050") << QStringLiteral("00:00:00.067");
    QTest::newRow("past 32767 s") << QStringLiteral("09:06:08.000") << QStringLiteral("09:06:40.768");
    QTest::newRow("ten hours") << QStringLiteral("10:00:00.000") << QStringLiteral("10:00:36.000");
    QTest::newRow("989: .9996 s carries a second") << QStringLiteral("00:00:32.967") << QStringLiteral("00:00:33.000");
    QTest::newRow("8991: carry into minutes") << QStringLiteral("00:04:59.700") << QStringLiteral("00:05:00.000");
    QTest::newRow("separators not looked at") << QStringLiteral("00x05y23z456") << QStringLiteral("00:05:23.790");
    QTest::newRow("minutes past 59 carry") << QStringLiteral("00:75:00.000") << QStringLiteral("01:15:04.500");
    QTest::newRow("spaces and sign in fields") << QStringLiteral(" 0:+5: 3.456") << QStringLiteral("00:05:03.770");
}

void TestChapterTime::shiftChapterTime()
{
    QFETCH(QString, time);
    QFETCH(QString, expected);
    QCOMPARE(ShiftChapterTime(time), std::optional<QString>(expected));
}

void TestChapterTime::shiftChapterTimeRefuses_data()
{
    QTest::addColumn<QString>("time");
    QTest::newRow("empty") << QString();
    QTest::newRow("letters") << QStringLiteral("ab:cd:ef.ghi");
    QTest::newRow("letters in milliseconds") << QStringLiteral("00:00:01.2x4");
    QTest::newRow("no milliseconds") << QStringLiteral("00:05:23");
    QTest::newRow("empty minutes") << QStringLiteral("00:  :23.456");
    QTest::newRow("negative") << QStringLiteral("-1:00:00.000");
    QTest::newRow("past 99 hours once rescaled") << QStringLiteral("99:59:59.999");
}

void TestChapterTime::shiftChapterTimeRefuses()
{
    QFETCH(QString, time);
    QCOMPARE(ShiftChapterTime(time), std::nullopt);
}

void TestChapterTime::sameFrameSameResult()
{
    // 00:05:23.450 (9703.5 frames, a tie that goes to the even frame) to 00:05:23.483 all lie
    // nearest to frame 9704.
    for (int ms = 450; ms <= 483; ++ms) {
        const QString time = QStringLiteral("00:05:23.") + QString::number(ms);
        QCOMPARE(ShiftChapterTime(time), std::optional<QString>(QStringLiteral("00:05:23.790")));
    }
}

QTEST_GUILESS_MAIN(TestChapterTime)
#include "tst_chaptertime.moc"
