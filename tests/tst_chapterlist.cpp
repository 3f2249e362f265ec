#include "chapterlist.h"
#include "textlinereader.h"

#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>

using namespace Tessaline;

namespace {

// Two chapters in the common form, with the given line end.
QByteArray twoChapters(const QByteArray &lineEnd)
{
    return "CHAPTER01=00:00:00.000" + lineEnd + "CHAPTER01NAME=Opening" + lineEnd
        + "CHAPTER02=00:05:23.456" + lineEnd + "CHAPTER02NAME=Part 2" + lineEnd;
}

QByteArray utf16(const QString &text, QStringEncoder::Encoding encoding, const QByteArray &mark)
{
    QStringEncoder encoder(encoding);
    return mark + QByteArray(encoder.encode(text));
}

// count chapters a second apart, numbered as the program numbers them.
QString chapters(int count)
{
    QStringList lines;
    for (int k = 1; k <= count; ++k) {
        const QString number = k < 10 ? QLatin1Char('0') + QString::number(k) : QString::number(k);
        lines << u"CHAPTER" + number + QStringLiteral("=00:00:%1.000").arg(k % 60, 2, 10, QLatin1Char('0'));
        lines << u"CHAPTER" + number + u"NAME=Title " + QString::number(k);
    }
    return lines.join(u"\r\n");
}

ConvertOptions plainOptions()
{
    ConvertOptions options;
    options.ShiftFrameRate = false;
    return options;
}

} // namespace

class TestChapterList : public QObject
{
    Q_OBJECT

private slots:
    void convert_data();
    void convert();
    void refusesUnreadableTimes_data();
    void refusesUnreadableTimes();
    void numbersPastNinetyNine();
    void nameFromText_data();
    void nameFromText();
    void linesAcrossChunks_data();
    void linesAcrossChunks();
};

void TestChapterList::convert_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<bool>("useNames");
    QTest::addColumn<QString>("names");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("expected");

    const QString twoOut = QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Opening\r\n"
                                          "CHAPTER02=00:05:23.456\r\nCHAPTER02NAME=Part 2");
    const QString twoShifted = QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Opening\r\n"
                                              "CHAPTER02=00:05:23.790\r\nCHAPTER02NAME=Part 2");

    QTest::newRow("two chapters, times rescaled")
        << twoChapters("\r\n") << true << false << QString() << 1252 << twoShifted;
    QTest::newRow("times kept") << twoChapters("\r\n") << false << false << QString() << 1252 << twoOut;
    QTest::newRow("renumbered from 01")
        << QByteArray("CHAPTER05=00:00:01.000\r\nCHAPTER05NAME=A\r\nCHAPTER06=00:00:02.000\r\n"
                      "CHAPTER06NAME=B\r\nCHAPTER07=00:00:03.000\r\nCHAPTER07NAME=C")
        << false << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=A\r\nCHAPTER02=00:00:02.000\r\n"
                          "CHAPTER02NAME=B\r\nCHAPTER03=00:00:03.000\r\nCHAPTER03NAME=C");
    QTest::newRow("empty file") << QByteArray() << true << false << QString() << 1252 << QString();
    QTest::newRow("last time line without a name is dropped")
        << QByteArray(twoChapters("\r\n") + "CHAPTER03=00:09:00.000") << false << false << QString() << 1252 << twoOut;
    QTest::newRow("trailing blank line, times rescaled")
        << QByteArray(twoChapters("\r\n") + "\r\n") << true << false << QString() << 1252 << twoShifted;
    QTest::newRow("short time field copied as it is")
        << QByteArray("CHAPTER01=00:05\r\nCHAPTER01NAME=A") << false << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:05\r\nCHAPTER01NAME=A");
    QTest::newRow("characters after the time dropped")
        << QByteArray("CHAPTER01=00:05:23.456 extra\r\nCHAPTER01NAME=A") << false << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:05:23.456\r\nCHAPTER01NAME=A");
    QTest::newRow("empty title and a title with =")
        << QByteArray("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=\r\nCHAPTER02=00:00:02.000\r\nCHAPTER02NAME=A=B")
        << false << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=\r\nCHAPTER02=00:00:02.000\r\nCHAPTER02NAME=A=B");
    QTest::newRow("titles from the names box")
        << twoChapters("\r\n") << false << true << QStringLiteral("Intro\r\nFinale") << 1252
        << QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Intro\r\n"
                          "CHAPTER02=00:05:23.456\r\nCHAPTER02NAME=Finale");
    QTest::newRow("an empty names line gives an empty title")
        << twoChapters("\r\n") << false << true << QStringLiteral("Intro\r\n\r\nEnd") << 1252
        << QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Intro\r\n"
                          "CHAPTER02=00:05:23.456\r\nCHAPTER02NAME=");
    QTest::newRow("fewer names than chapters: file titles kept")
        << twoChapters("\r\n") << false << true << QStringLiteral("Intro") << 1252
        << QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Intro\r\n"
                          "CHAPTER02=00:05:23.456\r\nCHAPTER02NAME=Part 2");
    QTest::newRow("empty names box: file titles kept")
        << twoChapters("\r\n") << false << true << QString() << 1252 << twoOut;
    QTest::newRow("a blank line shifts the pairing")
        << QByteArray("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=A\r\n\r\nCHAPTER02=00:00:02.000\r\nCHAPTER02NAME=B")
        << false << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=A\r\nCHAPTER02=\r\nCHAPTER02NAME=0:02.000");
    QTest::newRow("LF line ends") << twoChapters("\n") << false << false << QString() << 1252 << twoOut;
    QTest::newRow("CR line ends") << twoChapters("\r") << false << false << QString() << 1252 << twoOut;
    QTest::newRow("LF CR is two line ends")
        << QByteArray("CHAPTER01=00:00:01.000\n\rCHAPTER01NAME=A\r\nCHAPTER02NAME=B")
        << false << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=\r\nCHAPTER02=AME=A\r\nCHAPTER02NAME=B");
    QTest::newRow("UTF-8 mark is not part of the first line")
        << QByteArray("\xEF\xBB\xBF" + twoChapters("\r\n")) << false << false << QString() << 1252 << twoOut;
    QTest::newRow("UTF-8 without a mark, Chinese title, 936 system")
        << QByteArray("CHAPTER01=00:00:01.000\nCHAPTER01NAME=\xE5\xBC\x80\xE5\x9C\xBA")
        << false << false << QString() << 936 << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=开场");
    QTest::newRow("UTF-16LE with mark")
        << utf16(QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=开场"), QStringEncoder::Utf16LE, "\xFF\xFE")
        << false << false << QString() << 1252 << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=开场");
    QTest::newRow("UTF-16BE with mark")
        << utf16(QStringLiteral("CHAPTER01=00:00:01.000\nCHAPTER01NAME=开场"), QStringEncoder::Utf16BE, "\xFE\xFF")
        << false << false << QString() << 1252 << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=开场");
    QTest::newRow("code page 936")
        << QByteArray("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=\xBF\xAA\xB3\xA1")
        << false << false << QString() << 936 << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=开场");
    QTest::newRow("code page 932")
        << QByteArray("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=\x8A\x4A\x8E\x6E")
        << false << false << QString() << 932 << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=開始");
    QTest::newRow("code page 1252")
        << QByteArray("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=Caf\xE9")
        << false << false << QString() << 1252 << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=Café");
    QTest::newRow("overlong UTF-8 is not UTF-8")
        << QByteArray("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=\xC0\xAF")
        << false << false << QString() << 1252 << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=À¯");
    QTest::newRow("one-digit chapter numbers")
        << QByteArray("CHAPTER1=00:00:01.000\r\nCHAPTER1NAME=One") << false << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=One");
    QTest::newRow("three-digit chapter numbers")
        << QByteArray("CHAPTER100=00:00:01.000\r\nCHAPTER100NAME=Hundred") << true << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:00:01.001\r\nCHAPTER01NAME=Hundred");
    QTest::newRow("other shapes read at fixed positions")
        << QByteArray("Chapter01:00:00:01.000\r\nxxxxxxxxxxxxxxTitle") << false << false << QString() << 1252
        << QStringLiteral("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=Title");
}

void TestChapterList::convert()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, shift);
    QFETCH(bool, useNames);
    QFETCH(QString, names);
    QFETCH(int, codePage);
    QFETCH(QString, expected);

    ConvertOptions options;
    options.ShiftFrameRate = shift;
    options.UseNameBox = useNames;
    options.NameBoxText = names;
    options.codePage = codePage;
    const ConvertedText converted = convertChapterBytes(input, options);
    QCOMPARE(converted.error, QString());
    QCOMPARE(converted.text, expected);
}

void TestChapterList::refusesUnreadableTimes_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("reason");
    QTest::newRow("letters")
        << QByteArray("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=A\r\nCHAPTER02=ab:cd:ef.ghi\r\nCHAPTER02NAME=B")
        << QStringLiteral("line 3 has no time that can be rescaled: \"CHAPTER02=ab:cd:ef.ghi\"");
    QTest::newRow("blank time line before a name line")
        << QByteArray("\r\nCHAPTER01NAME=A")
        << QStringLiteral("line 1 has no time that can be rescaled: \"\"");
    QTest::newRow("long line shortened in the reason")
        << QByteArray("CHAPTER01=" + QByteArray(100, 'x') + "\nCHAPTER01NAME=A")
        << QStringLiteral("line 1 has no time that can be rescaled: \"CHAPTER01=") + QString(50, u'x')
            + QStringLiteral("…\"");
}

void TestChapterList::refusesUnreadableTimes()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, reason);
    ConvertOptions options;
    const ConvertedText converted = convertChapterBytes(input, options);
    QCOMPARE(converted.error, reason);
    QCOMPARE(converted.text, QString());

    // Times that are only copied are not read.
    QVERIFY(convertChapterBytes(input, plainOptions()).error.isEmpty());
}

void TestChapterList::numbersPastNinetyNine()
{
    // More chapters than two digits hold are numbered on, and the program reads its own
    // output back the same.
    const QString input = chapters(120);
    const ConvertedText once = convertChapterBytes(input.toUtf8(), plainOptions());
    QVERIFY(once.error.isEmpty());
    QVERIFY(once.text.contains(u"\r\nCHAPTER21=00:00:21.000\r\nCHAPTER21NAME=Title 21\r\n"));
    QVERIFY(once.text.endsWith(u"\r\nCHAPTER120=00:00:00.000\r\nCHAPTER120NAME=Title 120"));
    QCOMPARE(once.text, input);
    QCOMPARE(convertChapterBytes(once.text.toUtf8(), plainOptions()).text, once.text);
}

void TestChapterList::nameFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("n");
    QTest::addColumn<std::optional<QString>>("expected");
    QTest::newRow("first") << QStringLiteral("Intro\r\nFinale") << qsizetype(1) << std::optional(QStringLiteral("Intro"));
    QTest::newRow("second") << QStringLiteral("Intro\r\nFinale") << qsizetype(2) << std::optional(QStringLiteral("Finale"));
    QTest::newRow("empty between separators") << QStringLiteral("A\r\n\r\nB") << qsizetype(2) << std::optional(QString());
    QTest::newRow("empty after a final separator") << QStringLiteral("A\r\n") << qsizetype(2) << std::optional(QString());
    QTest::newRow("lone CR and LF do not split") << QStringLiteral("A\rB\nC") << qsizetype(1)
                                                << std::optional(QStringLiteral("A\rB\nC"));
    QTest::newRow("past the last line") << QStringLiteral("A\r\nB") << qsizetype(3) << std::optional<QString>();
    QTest::newRow("empty text has no lines") << QString() << qsizetype(1) << std::optional<QString>();
    QTest::newRow("zero") << QStringLiteral("A") << qsizetype(0) << std::optional<QString>();
}

void TestChapterList::nameFromText()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, n);
    QFETCH(std::optional<QString>, expected);
    QCOMPARE(NameFromText(text, n), expected);
}

void TestChapterList::linesAcrossChunks_data()
{
    // Large files are decoded about a megabyte at a time; the cut must never split a line, a
    // CR LF pair or a double-byte character, wherever the line ends fall.
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("codePage");
    for (const char *end : {"\r\n", "\r", "\n"}) {
        for (int offset = -3; offset <= 3; ++offset) {
            for (int codePage : {936, 65001}) {
                QTest::addRow("%s %d, %d", end[1] ? "CRLF" : end[0] == '\r' ? "CR" : "LF", offset, codePage)
                    << QByteArray(end) << offset << codePage;
            }
        }
    }
}

void TestChapterList::linesAcrossChunks()
{
    QFETCH(QByteArray, lineEnd);
    QFETCH(int, offset);
    QFETCH(int, codePage);
    constexpr int kChunk = 1 << 20;
    const QByteArray wide = codePage == 936 ? QByteArray("\xBF\xAA") : QByteArray("\xE5\xBC\x80"); // 开
    // Lines of wide characters, with one line end placed around the chunk boundary.
    QByteArray bytes;
    while (bytes.size() < kChunk + offset - 200)
        bytes += "line " + wide.repeated(40) + lineEnd;
    bytes += QByteArray(kChunk + offset - bytes.size(), 'x') + lineEnd;
    while (bytes.size() < 2 * kChunk + 1000)
        bytes += wide.repeated(7) + lineEnd + lineEnd;
    bytes += "last";
    if (codePage == 936)
        bytes.prepend("\xBF\xAA"); // not UTF-8, so read in the code page

    const QString whole = codePage == 936 ? QStringLiteral("开") + QString::fromUtf8(bytes.mid(2).replace(wide, "\xE5\xBC\x80"))
                                          : QString::fromUtf8(bytes);
    QStringList expected = whole.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));

    TextLineReader reader(bytes, codePage);
    QStringList lines;
    while (const auto line = reader.nextLine())
        lines << line->toString();
    QCOMPARE(lines.size(), expected.size());
    QCOMPARE(lines, expected);
}

QTEST_GUILESS_MAIN(TestChapterList)
#include "tst_chapterlist.moc"
