#include "conversion.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Tessaline;

namespace {

const QByteArray kChapterFile = "CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Opening\r\n"
                                "CHAPTER02=00:05:23.456\r\nCHAPTER02NAME=Part 2\r\n";
const QString kConverted = QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Opening\r\n"
                                          "CHAPTER02=00:05:23.790\r\nCHAPTER02NAME=Part 2");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray utf16le(const QString &text)
{
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    return encoder.encode(text);
}

} // namespace

class TestConversion : public QObject
{
    Q_OBJECT

private slots:
    void outputPathFor_data();
    void outputPathFor();
    void outputForms_data();
    void outputForms();
    void replacesLongerFile_data();
    void replacesLongerFile();
    void largeTextKeepsSurrogatePairs();
    void convertAllGoesOnAfterFailures();
    void cancelStopsBeforeNextFile();
    void failedFileLeavesEarlierOutput();
    void failedWriteLeavesEarlierFile();
    void unsupportedCodePage();
    void completionMessage_data();
    void completionMessage();
};

void TestConversion::outputPathFor_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<std::optional<QString>>("expected");
    QTest::newRow("Windows path") << QStringLiteral("D:\\chapters\\film.txt")
                                  << std::optional(QStringLiteral("D:\\chapters\\film_new.txt"));
    QTest::newRow("only the final .txt") << QStringLiteral("/a.txt/b.txt") << std::optional(QStringLiteral("/a.txt/b_new.txt"));
    QTest::newRow("an output again") << QStringLiteral("film_new.txt") << std::optional(QStringLiteral("film_new_new.txt"));
    QTest::newRow("name is only .txt") << QStringLiteral("/x/.txt") << std::optional(QStringLiteral("/x/_new.txt"));
    QTest::newRow("upper case") << QStringLiteral("FILM.TXT") << std::optional<QString>();
    QTest::newRow(".txt inside") << QStringLiteral("film.txt.bak") << std::optional<QString>();
}

void TestConversion::outputPathFor()
{
    QFETCH(QString, input);
    QFETCH(std::optional<QString>, expected);
    QCOMPARE(OutputPathFor(input), expected);
}

void TestConversion::outputForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<OutputEncoding>("encoding");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("bytes");
    const QString chinese = QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=开场");
    QTest::newRow("Unicode, empty: the mark alone") << QString() << OutputEncoding::Unicode << 1252 << QByteArray("\xFF\xFE");
    QTest::newRow("Unicode") << chinese << OutputEncoding::Unicode << 1252 << QByteArray("\xFF\xFE" + utf16le(chinese));
    QTest::newRow("ANSI, empty") << QString() << OutputEncoding::Ansi << 1252 << QByteArray();
    QTest::newRow("ANSI 936, no line end added")
        << chinese << OutputEncoding::Ansi << 936 << QByteArray("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=\xBF\xAA\xB3\xA1");
    QTest::newRow("ANSI 1252, Chinese unrepresentable")
        << chinese << OutputEncoding::Ansi << 1252 << QByteArray("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=??");
}

void TestConversion::outputForms()
{
    QFETCH(QString, text);
    QFETCH(OutputEncoding, encoding);
    QFETCH(int, codePage);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out_new.txt"));
    QCOMPARE(WriteChapterFile(path, text, encoding, codePage), QString());
    QCOMPARE(readAll(path), bytes);
}

void TestConversion::replacesLongerFile_data()
{
    QTest::addColumn<OutputEncoding>("encoding");
    QTest::newRow("Unicode") << OutputEncoding::Unicode;
    QTest::newRow("ANSI") << OutputEncoding::Ansi;
}

void TestConversion::replacesLongerFile()
{
    QFETCH(OutputEncoding, encoding);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out_new.txt"));
    QVERIFY(writeAll(path, QByteArray(10000, 'x')));
    QCOMPARE(WriteChapterFile(path, u"CHAPTER01=", encoding, 1252), QString());
    const QByteArray expected = encoding == OutputEncoding::Unicode ? QByteArray("\xFF\xFE" + utf16le(QStringLiteral("CHAPTER01=")))
                                                                    : QByteArray("CHAPTER01=");
    QCOMPARE(readAll(path), expected);
}

void TestConversion::largeTextKeepsSurrogatePairs()
{
    // Text is written in slices; a pair cut between two slices would turn into two '?'.
    const QString text = QString(65535, u'a') + QStringLiteral("\U0001F600") + QString(70000, u'b');
    QBuffer unicode;
    unicode.open(QIODevice::WriteOnly);
    QVERIFY(writeChapterText(unicode, text, OutputEncoding::Unicode, 1252));
    QCOMPARE(unicode.data(), QByteArray("\xFF\xFE" + utf16le(text)));
    QBuffer utf8;
    utf8.open(QIODevice::WriteOnly);
    QVERIFY(writeChapterText(utf8, text, OutputEncoding::Ansi, 65001));
    QCOMPARE(utf8.data(), text.toUtf8());
}

void TestConversion::convertAllGoesOnAfterFailures()
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("film.txt"));
    const QString badTime = dir.filePath(QStringLiteral("bad.txt"));
    const QString folder = dir.filePath(QStringLiteral("folder.txt"));
    const QString missing = dir.filePath(QStringLiteral("missing.txt"));
    const QString noFolder = dir.filePath(QStringLiteral("gone/film.txt"));
    QVERIFY(writeAll(good, kChapterFile));
    QVERIFY(writeAll(badTime, "CHAPTER01=00:xx:00.000\r\nCHAPTER01NAME=A"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.txt")));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("unwritable")));
    const QString unwritable = dir.filePath(QStringLiteral("unwritable.txt"));
    QVERIFY(writeAll(unwritable, kChapterFile));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("unwritable_new.txt"))); // output path taken by a folder

    ConvertOptions options;
    const ConvertReport report = ConvertAll({good, missing, folder, badTime, noFolder, unwritable, good}, options);

    QCOMPARE(report.converted, 2);
    QStringList failedPaths;
    for (const FileFailure &failure : report.failures) {
        failedPaths << failure.path;
        QVERIFY2(!failure.reason.isEmpty(), qPrintable(failure.path));
    }
    QCOMPARE(failedPaths, QStringList({missing, folder, badTime, noFolder, unwritable}));
    QVERIFY(report.failures[1].reason.contains(u"folder"));
    QVERIFY(report.failures[2].reason.startsWith(u"line 1 "));
    QVERIFY(report.failures[4].reason.contains(QDir::toNativeSeparators(dir.filePath(QStringLiteral("unwritable_new.txt")))));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("film_new.txt"))), QByteArray("\xFF\xFE" + utf16le(kConverted)));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("bad_new.txt"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("missing_new.txt"))));
}

void TestConversion::cancelStopsBeforeNextFile()
{
    QTemporaryDir dir;
    QStringList files;
    for (const char *name : {"a", "b", "c"}) {
        files << dir.filePath(QLatin1String(name) + u".txt");
        QVERIFY(writeAll(files.last(), kChapterFile));
    }
    std::atomic<bool> stop = false;
    QStringList announced;
    RunControl control {[&](qsizetype done, qsizetype total, const QString &current) {
                            QCOMPARE(total, files.size());
                            announced << current;
                            stop = done == 1; // cancelled while the first file was converted
                        },
                        &stop};
    const ConvertReport report = ConvertAll(files, ConvertOptions(), control);

    QCOMPARE(announced, files.first(2));
    QCOMPARE(report.converted, 1);
    QVERIFY(report.cancelled);
    QCOMPARE(report.notConverted, 2);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("a_new.txt"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("b_new.txt"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("c_new.txt"))));
    const CompletionMessage message = Tessaline::completionMessage(report);
    QCOMPARE(message.title, QStringLiteral("已取消"));
    QCOMPARE(message.text, QStringLiteral("已成功转换1个文件\n已取消：其余2个文件未转换"));
    QVERIFY(message.isWarning);
}

void TestConversion::failedFileLeavesEarlierOutput()
{
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("film.txt"));
    const QString output = dir.filePath(QStringLiteral("film_new.txt"));
    QVERIFY(writeAll(input, "CHAPTER01=bad\r\nCHAPTER01NAME=A"));
    QVERIFY(writeAll(output, "earlier output"));
    const ConvertReport report = ConvertAll({input}, ConvertOptions());
    QCOMPARE(report.converted, 0);
    QCOMPARE(readAll(output), QByteArray("earlier output"));
}

void TestConversion::failedWriteLeavesEarlierFile()
{
    // A code page that cannot be used fails the write part-way, after the file was opened.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("film_new.txt"));
    QVERIFY(writeAll(path, "earlier output"));
    QVERIFY(!WriteChapterFile(path, u"CHAPTER01=00:00:00.000", OutputEncoding::Ansi, 12345).isEmpty());
    QCOMPARE(readAll(path), QByteArray("earlier output"));
}

void TestConversion::unsupportedCodePage()
{
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("film.txt"));
    QVERIFY(writeAll(input, kChapterFile));
    ConvertOptions options;
    options.codePage = 12345;
    const EntryResult result = ConvertEntry(input, options);
    QCOMPARE(result.error, QStringLiteral("code page 12345 is not supported"));
}

void TestConversion::completionMessage_data()
{
    QTest::addColumn<int>("converted");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("warning");
    const auto failureLines = [](int count) {
        QString lines;
        for (int k = 1; k <= count; ++k)
            lines += u'\n' + QDir::toNativeSeparators(QStringLiteral("/c/f%1.txt").arg(k)) + u": reason " + QString::number(k);
        return lines;
    };
    QTest::newRow("nothing listed") << 0 << 0 << QStringLiteral("成功") << QStringLiteral("已成功转换0个文件") << false;
    QTest::newRow("three converted") << 3 << 0 << QStringLiteral("成功") << QStringLiteral("已成功转换3个文件") << false;
    QTest::newRow("one failed") << 2 << 1 << QStringLiteral("未能全部转换") << u"已成功转换2个文件" + failureLines(1) << true;
    QTest::newRow("ten failed, all listed") << 0 << 10 << QStringLiteral("未能全部转换") << u"已成功转换0个文件" + failureLines(10) << true;
    QTest::newRow("hundreds failed, the first listed")
        << 1 << 300 << QStringLiteral("未能全部转换") << u"已成功转换1个文件" + failureLines(10) + u"\n……另有290个文件未能转换" << true;
}

void TestConversion::completionMessage()
{
    QFETCH(int, converted);
    QFETCH(int, failed);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, warning);
    ConvertReport report;
    report.converted = converted;
    for (int k = 1; k <= failed; ++k)
        report.failures.append({QStringLiteral("/c/f%1.txt").arg(k), u"reason " + QString::number(k)});
    const CompletionMessage message = Tessaline::completionMessage(report);
    QCOMPARE(message.title, title);
    QCOMPARE(message.text, text);
    QCOMPARE(message.isWarning, warning);
}

QTEST_GUILESS_MAIN(TestConversion)
#include "tst_conversion.moc"
