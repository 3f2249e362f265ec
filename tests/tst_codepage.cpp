#include "codepage.h"
#include "localecodepage.h"

#include <QTest>

using namespace Tessaline;

class TestCodePage : public QObject
{
    Q_OBJECT

private slots:
    void codePageForLocale_data();
    void codePageForLocale();
    void codePageFromEnvironment_data();
    void codePageFromEnvironment();
    void everyLocaleCodePageKeepsAscii_data();
    void everyLocaleCodePageKeepsAscii();
    void notAnsiCodePages();
    void encodeAndDecode_data();
    void encodeAndDecode();
    void unrepresentableBecomesQuestionMark_data();
    void unrepresentableBecomesQuestionMark();
    void undecodableBytes();
};

void TestCodePage::codePageForLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("codePage");
    QTest::newRow("Chinese, mainland") << QStringLiteral("zh_CN.UTF-8") << 936;
    QTest::newRow("Chinese, Taiwan") << QStringLiteral("zh_TW.Big5") << 950;
    QTest::newRow("Chinese, Hong Kong") << QStringLiteral("zh_HK") << 950;
    QTest::newRow("Japanese") << QStringLiteral("ja_JP.UTF-8") << 932;
    QTest::newRow("Korean") << QStringLiteral("ko_KR.EUC-KR") << 949;
    QTest::newRow("US English") << QStringLiteral("en_US.UTF-8") << 1252;
    QTest::newRow("Russian") << QStringLiteral("ru_RU.KOI8-R") << 1251;
    QTest::newRow("Polish") << QStringLiteral("pl_PL") << 1250;
    QTest::newRow("Greek") << QStringLiteral("el_GR.UTF-8") << 1253;
    QTest::newRow("Turkish") << QStringLiteral("tr_TR.UTF-8") << 1254;
    QTest::newRow("Hebrew") << QStringLiteral("he_IL.UTF-8") << 1255;
    QTest::newRow("Arabic") << QStringLiteral("ar_EG.UTF-8") << 1256;
    QTest::newRow("Lithuanian") << QStringLiteral("lt_LT.UTF-8") << 1257;
    QTest::newRow("Vietnamese") << QStringLiteral("vi_VN") << 1258;
    QTest::newRow("Thai") << QStringLiteral("th_TH.UTF-8") << 874;
    QTest::newRow("no ANSI code page: UTF-8") << QStringLiteral("am_ET.UTF-8") << 65001;
    QTest::newRow("@latin names the script") << QStringLiteral("sr_RS.UTF-8@latin") << 1250;
    QTest::newRow("@cyrillic names the script") << QStringLiteral("uz_UZ.UTF-8@cyrillic") << 1251;
    QTest::newRow("unknown region: the language") << QStringLiteral("de_XX.UTF-8") << 1252;
    QTest::newRow("language only") << QStringLiteral("zh") << 936;
    QTest::newRow("unknown language") << QStringLiteral("xx_YY.UTF-8") << 1252;
    QTest::newRow("C") << QStringLiteral("C") << 1252;
    QTest::newRow("C.UTF-8") << QStringLiteral("C.UTF-8") << 1252;
    QTest::newRow("POSIX") << QStringLiteral("POSIX") << 1252;
    QTest::newRow("empty") << QString() << 1252;
}

void TestCodePage::codePageForLocale()
{
    QFETCH(QString, locale);
    QFETCH(int, codePage);
    QCOMPARE(ansiCodePageForLocale(locale), codePage);
}

void TestCodePage::codePageFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("lcAll");
    QTest::addColumn<QByteArray>("lcCtype");
    QTest::addColumn<QByteArray>("lang");
    QTest::addColumn<int>("codePage");
    QTest::newRow("LANG alone") << QByteArray() << QByteArray() << QByteArray("zh_CN.UTF-8") << 936;
    QTest::newRow("LC_CTYPE over LANG") << QByteArray() << QByteArray("ja_JP.UTF-8") << QByteArray("zh_CN.UTF-8") << 932;
    QTest::newRow("LC_ALL over both") << QByteArray("ru_RU.UTF-8") << QByteArray("ja_JP.UTF-8") << QByteArray("zh_CN.UTF-8") << 1251;
    QTest::newRow("nothing set") << QByteArray() << QByteArray() << QByteArray() << 1252;
}

void TestCodePage::codePageFromEnvironment()
{
    QFETCH(QByteArray, lcAll);
    QFETCH(QByteArray, lcCtype);
    QFETCH(QByteArray, lang);
    QFETCH(int, codePage);
    qputenv("LC_ALL", lcAll);
    qputenv("LC_CTYPE", lcCtype);
    qputenv("LANG", lang);
    QCOMPARE(ansiCodePageFromEnvironment(), codePage);
}

void TestCodePage::everyLocaleCodePageKeepsAscii_data()
{
    QTest::addColumn<int>("codePage");
    for (int codePage : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 65001})
        QTest::addRow("%d", codePage) << codePage;
}

void TestCodePage::everyLocaleCodePageKeepsAscii()
{
    // Every byte below 80 is the character of the same number, control codes included (ICU's
    // own table for 932 moves 1A, 1C and 7F).
    QFETCH(int, codePage);
    QVERIFY(isCodePageSupported(codePage));
    QByteArray bytes;
    QString text;
    for (int c = 0; c < 0x80; ++c) {
        bytes.append(char(c));
        text.append(QChar(c));
    }
    QCOMPARE(decodeAnsi(bytes, codePage), text);
    QCOMPARE(encodeAnsi(text, codePage), bytes);
}

void TestCodePage::notAnsiCodePages()
{
    for (int notAnsi : {12345, 0, -1, 1200, 1201, 65000, 37})
        QVERIFY2(!isCodePageSupported(notAnsi), QByteArray::number(notAnsi).constData());
}

void TestCodePage::encodeAndDecode_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("936") << 936 << QStringLiteral("中文标题") << QByteArray("\xD6\xD0\xCE\xC4\xB1\xEA\xCC\xE2");
    QTest::newRow("932") << 932 << QStringLiteral("日本語") << QByteArray("\x93\xFA\x96\x7B\x8C\xEA");
    QTest::newRow("1252") << 1252 << QStringLiteral("Café €") << QByteArray("Caf\xE9 \x80");
    QTest::newRow("1251") << 1251 << QStringLiteral("Глава") << QByteArray("\xC3\xEB\xE0\xE2\xE0");
    QTest::newRow("65001") << 65001 << QStringLiteral("中文") << QByteArray("\xE4\xB8\xAD\xE6\x96\x87");
}

void TestCodePage::encodeAndDecode()
{
    QFETCH(int, codePage);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeAnsi(text, codePage), bytes);
    QCOMPARE(decodeAnsi(bytes, codePage), text);
}

void TestCodePage::unrepresentableBecomesQuestionMark_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("Chinese in 1252") << 1252 << QStringLiteral("A中B") << QByteArray("A?B");
    QTest::newRow("no look-alike for A with macron") << 1252 << QStringLiteral("\u0100") << QByteArray("?");
    QTest::newRow("Hangul in 936") << 936 << QStringLiteral("한") << QByteArray("?");
    QTest::newRow("emoji: one mark for the pair") << 936 << QStringLiteral("a\U0001F600b") << QByteArray("a?b");
    QTest::newRow("lone surrogate") << 1252 << QString(QChar(0xD800)) << QByteArray("?");
}

void TestCodePage::unrepresentableBecomesQuestionMark()
{
    QFETCH(int, codePage);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeAnsi(text, codePage), bytes);
}

void TestCodePage::undecodableBytes()
{
    // A lead byte of 936 with no trail byte.
    QCOMPARE(decodeAnsi(QByteArray("A\x81"), 936), QStringLiteral("A\uFFFD"));
}

QTEST_GUILESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
