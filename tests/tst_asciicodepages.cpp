// Every ANSI code page reads and writes the bytes 00-7F as the characters U+0000-U+007F.
#include "codepage.h"

#include <QTest>

class TestAsciiCodePages : public QObject
{
    Q_OBJECT

private slots:
    void asciiIsItself_data();
    void asciiIsItself();
};

void TestAsciiCodePages::asciiIsItself_data()
{
    QTest::addColumn<int>("codePage");
    QTest::newRow("1252 Western") << 1252;
    QTest::newRow("1250 Central European") << 1250;
    QTest::newRow("1251 Cyrillic") << 1251;
    QTest::newRow("932 Japanese (ICU's table rotates 1A, 1C, 7F)") << 932;
    QTest::newRow("936 Simplified Chinese") << 936;
    QTest::newRow("949 Korean") << 949;
    QTest::newRow("950 Traditional Chinese") << 950;
    QTest::newRow("65001 UTF-8") << 65001;
}

void TestAsciiCodePages::asciiIsItself()
{
    QFETCH(int, codePage);
    if (!Tessaline::isCodePageSupported(codePage))
        QSKIP("code page not available here");
    QByteArray bytes;
    QString text;
    for (int c = 0; c < 0x80; ++c) {
        bytes.append(char(c));
        text.append(QChar(c));
    }
    const QString decoded = Tessaline::decodeAnsi(bytes, codePage);
    QCOMPARE(decoded.size(), text.size());
    for (qsizetype i = 0; i < text.size(); ++i)
        QCOMPARE(decoded[i].unicode(), text[i].unicode());
    QCOMPARE(Tessaline::encodeAnsi(text, codePage), bytes);
}

QTEST_GUILESS_MAIN(TestAsciiCodePages)
#include "tst_asciicodepages.moc"
