// Our chapter files as a real consumer reads them: mkvmerge muxes each output form as the
// chapters of a Matroska file (with a one-cue subtitle track), and mkvextract's simple chapter
// export must give back exactly our times and titles.
#include "chapterlist.h"
#include "chaptertime.h"
#include "codepage.h"
#include "conversion.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using Tessaline::ConvertOptions;
using Tessaline::OutputEncoding;

namespace {

// A chapter file in the two-line form, CR LF line ends; chapter k starts at k * stepMs.
QString chapterText(int chapters, qint64 stepMs, const QString &titleStem)
{
    QStringList lines;
    for (int k = 1; k <= chapters; ++k) {
        const qint64 ms = k * stepMs;
        const QString time = QStringLiteral("%1:%2:%3.%4")
                                 .arg(ms / 3'600'000, 2, 10, QLatin1Char('0'))
                                 .arg(ms / 60'000 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(ms % 1000, 3, 10, QLatin1Char('0'));
        const QString number = Tessaline::PadTwo(k);
        lines << u"CHAPTER" + number + u'=' + time;
        lines << u"CHAPTER" + number + u"NAME=" + titleStem + QString::number(k);
    }
    return lines.join(QStringLiteral("\r\n"));
}

// One names-box line per chapter.
QString namesText(int chapters, const QString &stem)
{
    QStringList lines;
    for (int k = 1; k <= chapters; ++k)
        lines << stem + QString::number(k);
    return lines.join(QStringLiteral("\r\n"));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct Run
{
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    return result;
}

} // namespace

class TestMkvInterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void extractGivesOurChapters_data();
    void extractGivesOurChapters();

private:
    QString m_mkvmerge;
    QString m_mkvextract;
};

void TestMkvInterop::initTestCase()
{
    m_mkvmerge = QStandardPaths::findExecutable(QStringLiteral("mkvmerge"));
    m_mkvextract = QStandardPaths::findExecutable(QStringLiteral("mkvextract"));
    if (m_mkvmerge.isEmpty() || m_mkvextract.isEmpty())
        QFAIL("mkvmerge and mkvextract are needed (Debian package mkvtoolnix; scripts/test installs it)");
}

void TestMkvInterop::extractGivesOurChapters_data()
{
    QTest::addColumn<QString>("input"); // the chapter file, as text
    QTest::addColumn<int>("inputCodePage"); // how it is stored: 0 for UTF-8 with a byte order mark
    QTest::addColumn<ConvertOptions>("options");
    QTest::addColumn<QString>("chapterCharset"); // mkvmerge's --chapter-charset for the Ansi form

    const QString chinese = chapterText(120, 323'457, QStringLiteral("第一幕 开场 "));
    ConvertOptions shifted;
    shifted.ShiftFrameRate = true;
    ConvertOptions kept;
    kept.ShiftFrameRate = false;

    for (const auto &[name, encoding, codePage, charset] :
         {std::tuple {"Unicode", OutputEncoding::Unicode, 936, QString()},
          std::tuple {"ANSI 936", OutputEncoding::Ansi, 936, QStringLiteral("GBK")}}) {
        ConvertOptions options = shifted;
        options.OutputEncoding = encoding;
        options.codePage = codePage;
        QTest::addRow("%s, 120 Chinese titles from a GBK file, rescaled", name)
            << chinese << 936 << options << charset;

        options.ShiftFrameRate = false;
        QTest::addRow("%s, 120 Chinese titles from a UTF-8 file, times kept", name)
            << chinese << 0 << options << charset;

        options.ShiftFrameRate = true;
        options.UseNameBox = true;
        options.NameBoxText = namesText(150, QStringLiteral("片尾曲 "));
        QTest::addRow("%s, 150 titles from the names box", name)
            << chapterText(150, 239'967, QStringLiteral("Old ")) << 0 << options << charset;
    }

    // Times near the top of the range, and one whose rescaled fraction rounds up into the next
    // second (00:00:32.967 rescales to 32.9996 s).
    ConvertOptions unicode = shifted;
    QTest::newRow("Unicode, rounding into the next second and times near nine hours")
        << QStringLiteral("CHAPTER01=00:00:32.967\r\nCHAPTER01NAME=A\r\nCHAPTER02=09:06:07.999\r\n"
                          "CHAPTER02NAME=B\r\nCHAPTER03=09:59:59.999\r\nCHAPTER03NAME=C")
        << 0 << unicode << QString();

    ConvertOptions western = kept;
    western.OutputEncoding = OutputEncoding::Ansi;
    western.codePage = 1252;
    QTest::newRow("ANSI 1252, accented titles") << chapterText(101, 1001, QStringLiteral("Café à la crème "))
                                                << 1252 << western << QStringLiteral("windows-1252");
}

void TestMkvInterop::extractGivesOurChapters()
{
    QFETCH(QString, input);
    QFETCH(int, inputCodePage);
    QFETCH(ConvertOptions, options);
    QFETCH(QString, chapterCharset);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString inputPath = folder.filePath(QStringLiteral("chapters.txt"));
    const QByteArray inputBytes
        = inputCodePage == 0 ? "\xEF\xBB\xBF" + input.toUtf8() : Tessaline::encodeAnsi(input, inputCodePage);
    QVERIFY(writeFile(inputPath, inputBytes));
    const QString subtitles = folder.filePath(QStringLiteral("cue.srt"));
    QVERIFY(writeFile(subtitles, "1\r\n00:00:01,000 --> 00:00:02,000\r\nHello\r\n"));

    // What we expect in the file: the conversion's text, which must hold every chapter.
    const Tessaline::ConvertedText converted = Tessaline::convertChapterBytes(inputBytes, options);
    QVERIFY2(converted.error.isEmpty(), qPrintable(converted.error));
    const QStringList ours = converted.text.split(QStringLiteral("\r\n"));
    QCOMPARE(ours.size(), input.count(u"NAME=") * 2);

    const Tessaline::ConvertReport report = Tessaline::ConvertAll({inputPath}, options);
    QCOMPARE(report.converted, 1);
    const QString outputPath = *Tessaline::OutputPathFor(inputPath);

    const QString movie = folder.filePath(QStringLiteral("movie.mkv"));
    QStringList mergeArguments {QStringLiteral("--quiet"), QStringLiteral("-o"), movie};
    if (!chapterCharset.isEmpty())
        mergeArguments << QStringLiteral("--chapter-charset") << chapterCharset;
    mergeArguments << QStringLiteral("--chapters") << outputPath << subtitles;
    const Run merge = run(m_mkvmerge, mergeArguments);
    QVERIFY2(merge.exitCode == 0, merge.output.constData());

    const Run extract = run(
        m_mkvextract, {movie, QStringLiteral("chapters"), QStringLiteral("--simple"), QStringLiteral("-")});
    QVERIFY2(extract.exitCode == 0, extract.errors.constData());
    const QStringList theirs = QString::fromUtf8(extract.output).split(u'\n', Qt::SkipEmptyParts);

    QCOMPARE(theirs.size(), ours.size());
    for (qsizetype i = 0; i < ours.size(); ++i)
        QCOMPARE(theirs[i], ours[i]);
}

QTEST_GUILESS_MAIN(TestMkvInterop)
#include "tst_mkvinterop.moc"
