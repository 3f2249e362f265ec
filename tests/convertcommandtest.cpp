// Runs the built tessaline-convert as a script would, on files in a temporary folder.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Three chapters in UTF-8 without a byte order mark; one title is not ASCII.
const QByteArray kFilm = "CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Opening\r\n"
                         "CHAPTER02=00:05:23.456\r\nCHAPTER02NAME=Caf\xC3\xA9\r\n"
                         "CHAPTER03=00:10:00.000\r\nCHAPTER03NAME=End\r\n";
const QStringList kFilmTimes = {u"00:00:00.000"_s, u"00:05:23.456"_s, u"00:10:00.000"_s};
const QStringList kShiftedTimes = {u"00:00:00.000"_s, u"00:05:23.790"_s, u"00:10:00.600"_s};
const QStringList kFilmTitles = {u"Opening"_s, u"Café"_s, u"End"_s};

// "第一章" in code page 936 (GBK); not valid UTF-8.
const QByteArray kGbkTitle = "\xB5\xDA\xD2\xBB\xD5\xC2";

QString chapterText(const QStringList &times, const QStringList &titles)
{
    QStringList lines;
    for (qsizetype i = 0; i < times.size(); ++i) {
        const QString number = QString::number(i + 1).rightJustified(2, u'0');
        lines << u"CHAPTER" + number + u'=' + times[i] << u"CHAPTER" + number + u"NAME=" + titles[i];
    }
    return lines.join(u"\r\n");
}

// FF FE, then each UTF-16 code unit low byte first.
QByteArray utf16File(QStringView text)
{
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text)
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return bytes;
}

QString outputNameFor(const QString &input)
{
    return input.chopped(4) + u"_new.txt";
}

struct Run
{
    int exitCode = -1; // also when the program crashed or did not start
    QString out;
    QString err;
};

} // namespace

class ConvertCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void options_data();
    void options();
    void names_data();
    void names();
    void defaultCodePageFollowsLocale_data();
    void defaultCodePageFollowsLocale();
    void conversions_data();
    void conversions();
    void usageErrors_data();
    void usageErrors();
    void help_data();
    void help();
    void version();

private:
    Run run(const QStringList &arguments, const QByteArray &standardInput = {},
            const QString &locale = u"C.UTF-8"_s);
    QString pathOf(const QString &name) const { return m_dir->filePath(name); }
    void writeFile(const QString &name, const QByteArray &bytes);
    QByteArray readFile(const QString &name) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

Run ConvertCommandTest::run(const QStringList &arguments, const QByteArray &standardInput,
                            const QString &locale)
{
    QProcess process;
    process.setProgram(QStringLiteral(TESSALINE_CONVERT));
    process.setArguments(arguments);
    process.setWorkingDirectory(m_dir->path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_s, locale); // decides the default code page; "C" gives 1252
    process.setProcessEnvironment(environment);
    process.start();
    process.write(standardInput);
    process.closeWriteChannel();
    Run result;
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void ConvertCommandTest::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(pathOf(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray ConvertCommandTest::readFile(const QString &name) const
{
    QFile file(pathOf(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void ConvertCommandTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void ConvertCommandTest::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expected");

    const QString shifted = chapterText(kShiftedTimes, kFilmTitles);
    QTest::newRow("defaults: times shifted, titles kept, UTF-16LE") << QStringList() << utf16File(shifted);
    QTest::newRow("--no-shift keeps the times")
        << QStringList {u"--no-shift"_s} << utf16File(chapterText(kFilmTimes, kFilmTitles));
    QTest::newRow("--ansi writes the locale's code page 1252")
        << QStringList {u"--ansi"_s} << shifted.toLatin1();
    QTest::newRow("--ansi with --code-page 65001 writes UTF-8")
        << QStringList {u"--ansi"_s, u"--code-page"_s, u"65001"_s} << shifted.toUtf8();
    QTest::newRow("--unicode after --ansi wins")
        << QStringList {u"--ansi"_s, u"--unicode"_s} << utf16File(shifted);
    QTest::newRow("--ansi after --unicode wins")
        << QStringList {u"--unicode"_s, u"--ansi"_s} << shifted.toLatin1();
}

void ConvertCommandTest::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, expected);
    writeFile(u"film.txt"_s, kFilm);

    const Run result = run(arguments << u"film.txt"_s);

    QCOMPARE(result.err, QString());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(readFile(u"film_new.txt"_s), expected);
    QCOMPARE(readFile(u"film.txt"_s), kFilm);
}

void ConvertCommandTest::names_data()
{
    QTest::addColumn<QByteArray>("names");
    QTest::addColumn<bool>("fromStandardInput");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("titles");

    const QStringList none;
    QTest::newRow("UTF-8 with LF line ends")
        << QByteArray("Intro\nGespr\xC3\xA4"
                      "ch\n\xE7\xB5\x82\xE3\x82\x8F\xE3\x82\x8A\n")
        << false << none << QStringList {u"Intro"_s, u"Gespräch"_s, u"終わり"_s};
    QTest::newRow("UTF-8 byte order mark, CR LF, no final line end")
        << QByteArray("\xEF\xBB\xBFIntro\r\nMiddle\r\nFinale") << false << none
        << QStringList {u"Intro"_s, u"Middle"_s, u"Finale"_s};
    QTest::newRow("UTF-16LE with CR line ends") << utf16File(u"Intro\r中间\rFinale\r") << false << none
                                                << QStringList {u"Intro"_s, u"中间"_s, u"Finale"_s};
    QTest::newRow("not UTF-8: the locale's code page 1252")
        << QByteArray("Caf\xE9\nMiddle\nFinale\n") << false << none
        << QStringList {u"Café"_s, u"Middle"_s, u"Finale"_s};
    QTest::newRow("not UTF-8: the code page given")
        << QByteArray(kGbkTitle + "\nMiddle\nFinale\n") << false << QStringList {u"--code-page"_s, u"936"_s}
        << QStringList {u"第一章"_s, u"Middle"_s, u"Finale"_s};
    QTest::newRow("a blank line gives an empty title") << QByteArray("Intro\n\nFinale\n") << false << none
                                                       << QStringList {u"Intro"_s, QString(), u"Finale"_s};
    QTest::newRow("chapters beyond the last line keep their titles")
        << QByteArray("Intro\n") << false << none << QStringList {u"Intro"_s, u"Café"_s, u"End"_s};
    QTest::newRow("standard input, UTF-8 with LF line ends")
        << QByteArray("Intro\nMiddle\nFinale\n") << true << none
        << QStringList {u"Intro"_s, u"Middle"_s, u"Finale"_s};
    QTest::newRow("standard input, UTF-16LE with CR LF")
        << utf16File(u"Intro\r\nMiddle\r\nFinale") << true << none
        << QStringList {u"Intro"_s, u"Middle"_s, u"Finale"_s};
    QTest::newRow("empty standard input keeps the titles") << QByteArray() << true << none << kFilmTitles;
}

void ConvertCommandTest::names()
{
    QFETCH(QByteArray, names);
    QFETCH(bool, fromStandardInput);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, titles);
    writeFile(u"film.txt"_s, kFilm);
    if (!fromStandardInput)
        writeFile(u"names.txt"_s, names);

    arguments << u"--no-shift"_s << u"--names"_s << (fromStandardInput ? u"-"_s : u"names.txt"_s)
              << u"film.txt"_s;
    const Run result = run(arguments, fromStandardInput ? names : QByteArray());

    QCOMPARE(result.err, QString());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(readFile(u"film_new.txt"_s), utf16File(chapterText(kFilmTimes, titles)));
}

void ConvertCommandTest::defaultCodePageFollowsLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("title");

    QTest::newRow("zh_CN: 936") << u"zh_CN.UTF-8"_s << QStringList() << u"第一章"_s;
    QTest::newRow("ja_JP: 932") << u"ja_JP.UTF-8"_s << QStringList() << u"ｵﾚﾒｻﾕﾂ"_s;
    QTest::newRow("en_US: 1252") << u"en_US.UTF-8"_s << QStringList() << u"µÚÒ»ÕÂ"_s;
    QTest::newRow("--code-page overrides the locale")
        << u"zh_CN.UTF-8"_s << QStringList {u"--code-page"_s, u"1252"_s} << u"µÚÒ»ÕÂ"_s;
}

void ConvertCommandTest::defaultCodePageFollowsLocale()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, arguments);
    QFETCH(QString, title);
    writeFile(u"film.txt"_s, "CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=" + kGbkTitle);

    const Run result = run(arguments << u"--no-shift"_s << u"film.txt"_s, {}, locale);

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(readFile(u"film_new.txt"_s), utf16File(chapterText({u"00:00:00.000"_s}, {title})));
}

void ConvertCommandTest::conversions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("converted"); // the inputs reported on standard output, in order
    QTest::addColumn<QStringList>("failed"); // the inputs reported on standard error, in order

    const QString a = u"a.txt"_s;
    const QString b = u"b.txt"_s;
    const QString bad = u"bad.txt"_s;
    QTest::newRow("every file converted") << QStringList {a, b} << 0 << QStringList {a, b} << QStringList();
    QTest::newRow("a name not ending in .txt is refused, the others convert")
        << QStringList {a, u"notes.md"_s, b} << 1 << QStringList {a, b} << QStringList {u"notes.md"_s};
    QTest::newRow("a missing file") << QStringList {u"missing.txt"_s, a} << 1 << QStringList {a}
                                    << QStringList {u"missing.txt"_s};
    QTest::newRow("a folder named like a chapter file")
        << QStringList {a, u"folder.txt"_s} << 1 << QStringList {a} << QStringList {u"folder.txt"_s};
    QTest::newRow("a time that cannot be rescaled")
        << QStringList {bad, a} << 1 << QStringList {a} << QStringList {bad};
    QTest::newRow("the same time kept with --no-shift")
        << QStringList {u"--no-shift"_s, bad} << 0 << QStringList {bad} << QStringList();
    QTest::newRow("a file given twice") << QStringList {a, a} << 0 << QStringList {a, a} << QStringList();
    QTest::newRow("options after files")
        << QStringList {a, u"--ansi"_s, b} << 0 << QStringList {a, b} << QStringList();
    QTest::newRow("-- before a name that starts with a dash")
        << QStringList {u"--"_s, u"-dash.txt"_s} << 0 << QStringList {u"-dash.txt"_s} << QStringList();
    QTest::newRow("a name outside ASCII")
        << QStringList {u"第一章.txt"_s} << 0 << QStringList {u"第一章.txt"_s} << QStringList();
}

void ConvertCommandTest::conversions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, converted);
    QFETCH(QStringList, failed);
    for (const QString &name : {u"a.txt"_s, u"b.txt"_s, u"notes.md"_s, u"-dash.txt"_s, u"第一章.txt"_s})
        writeFile(name, kFilm);
    writeFile(u"bad.txt"_s, "CHAPTER01=00:0x:00.000\r\nCHAPTER01NAME=Opening\r\n");
    QVERIFY(QDir(m_dir->path()).mkdir(u"folder.txt"_s));

    const Run result = run(arguments);

    QCOMPARE(result.exitCode, exitCode);
    QStringList expectedOut;
    for (const QString &input : converted) {
        expectedOut << input + u" -> " + outputNameFor(input);
        QVERIFY2(QFile::exists(pathOf(outputNameFor(input))), qPrintable(input));
    }
    QCOMPARE(result.out, expectedOut.join(u'\n') + (expectedOut.isEmpty() ? u""_s : u"\n"_s));
    const QStringList errLines = result.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(errLines.size(), failed.size());
    for (qsizetype i = 0; i < failed.size(); ++i) {
        QVERIFY2(errLines[i].startsWith(failed[i] + u": ") && errLines[i].size() > failed[i].size() + 2,
                 qPrintable(errLines[i]));
        if (failed[i].endsWith(u".txt"))
            QVERIFY2(!QFile::exists(pathOf(outputNameFor(failed[i]))), qPrintable(failed[i]));
    }
}

void ConvertCommandTest::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("hintsAtHelp");

    const QString a = u"a.txt"_s;
    QTest::newRow("unknown option") << QStringList {u"--frobnicate"_s, a} << true;
    QTest::newRow("no files") << QStringList() << true;
    QTest::newRow("options but no files") << QStringList {u"--no-shift"_s, u"--ansi"_s} << true;
    QTest::newRow("--names without its file") << QStringList {a, u"--names"_s} << true;
    QTest::newRow("unsupported code page") << QStringList {u"--code-page"_s, u"12345"_s, a} << true;
    QTest::newRow("code page not a number") << QStringList {u"--code-page"_s, u"1252x"_s, a} << true;
    QTest::newRow("names file missing") << QStringList {u"--names"_s, u"none.txt"_s, a} << false;
    QTest::newRow("names file a folder") << QStringList {u"--names"_s, u"."_s, a} << false;
}

void ConvertCommandTest::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, hintsAtHelp);
    writeFile(u"a.txt"_s, kFilm);

    const Run result = run(arguments);

    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QString());
    const QStringList errLines = result.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(errLines.size(), hintsAtHelp ? 2 : 1);
    QVERIFY2(errLines.first().startsWith(u"tessaline-convert: "), qPrintable(result.err));
    if (hintsAtHelp)
        QVERIFY2(errLines.last().contains(u"tessaline-convert --help"), qPrintable(result.err));
    QVERIFY(!QFile::exists(pathOf(u"a_new.txt"_s)));
}

void ConvertCommandTest::help_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("--help") << QStringList {u"--help"_s};
    QTest::newRow("-h") << QStringList {u"-h"_s};
    QTest::newRow("--help among files converts nothing") << QStringList {u"a.txt"_s, u"--help"_s};
}

void ConvertCommandTest::help()
{
    QFETCH(QStringList, arguments);
    writeFile(u"a.txt"_s, kFilm);

    const Run result = run(arguments);

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QString());
    for (const QString &word : {u"Usage:"_s, u"--no-shift"_s, u"--names"_s, u"--ansi"_s, u"--unicode"_s,
                                u"--code-page"_s, u"Examples:"_s})
        QVERIFY2(result.out.contains(word), qPrintable(word));
    QVERIFY(!QFile::exists(pathOf(u"a_new.txt"_s)));
}

void ConvertCommandTest::version()
{
    const Run result = run({u"--version"_s});

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QStringLiteral("tessaline-convert " TESSALINE_VERSION "\n"));
}

QTEST_GUILESS_MAIN(ConvertCommandTest)
#include "convertcommandtest.moc"
