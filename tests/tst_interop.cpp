// Our outputs as real consumers read them. tessaline-convert converts a chapter file of 120
// chapters with Chinese titles; mkvmerge muxes the result into a Matroska file (with a one-cue
// subtitle track), and mkvextract's simple chapter export must give back exactly our times and
// titles.
#include "testsupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

namespace {

// Chapter k starts at k * 323.457 s, past ten hours at the end.
QByteArray chapterFile()
{
    QByteArray text = "\xEF\xBB\xBF";
    for (int k = 1; k <= 120; ++k) {
        const qint64 ms = k * 323'457LL;
        text += QStringLiteral("CHAPTER%1=%2:%3:%4.%5\r\nCHAPTER%1NAME=第一幕 开场 %1\r\n")
                    .arg(k, 2, 10, QLatin1Char('0'))
                    .arg(ms / 3'600'000, 2, 10, QLatin1Char('0'))
                    .arg(ms / 60'000 % 60, 2, 10, QLatin1Char('0'))
                    .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
                    .arg(ms % 1000, 3, 10, QLatin1Char('0'))
                    .toUtf8();
    }
    return text;
}

// Runs a program in folder; its standard output, or a failure.
QByteArray run(const QString &folder, const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        QTest::qFail(qPrintable(program + u": " + QString::fromUtf8(process.readAllStandardError())),
                     __FILE__, __LINE__);
    return process.readAllStandardOutput();
}

} // namespace

class TestInterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mkvextractGivesOurChapters_data();
    void mkvextractGivesOurChapters();
};

void TestInterop::initTestCase()
{
    for (const char *program : {"mkvmerge", "mkvextract"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            QSKIP("mkvmerge and mkvextract are missing (Debian's mkvtoolnix; scripts/test installs it)");
    }
}

void TestInterop::mkvextractGivesOurChapters_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("charset"); // mkvmerge's --chapter-charset for the file we wrote
    QTest::newRow("Unicode, rescaled") << QStringList() << QString();
    QTest::newRow("ANSI 936, times kept") << QStringList {QStringLiteral("--ansi"), QStringLiteral("--no-shift")}
                                          << QStringLiteral("GBK");
}

void TestInterop::mkvextractGivesOurChapters()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, charset);
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath(QStringLiteral("film.txt")), chapterFile()));
    QVERIFY(writeFile(folder.filePath(QStringLiteral("cue.srt")), "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n"));
    run(folder.path(), QStringLiteral(TESSALINE_CONVERT),
        arguments << QStringLiteral("--code-page") << QStringLiteral("936") << QStringLiteral("film.txt"));
    const QByteArray written = readFile(folder.filePath(QStringLiteral("film_new.txt")));
    const QString ours = charset.isEmpty() ? QStringDecoder(QStringDecoder::Utf16).decode(written)
                                           : QString::fromUtf8(run(folder.path(), QStringLiteral("iconv"),
                                                                   {QStringLiteral("-f"), QStringLiteral("GBK"),
                                                                    QStringLiteral("film_new.txt")}));
    QCOMPARE(ours.count(u"NAME="), 120);

    QStringList merge {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("film.mkv")};
    if (!charset.isEmpty())
        merge << QStringLiteral("--chapter-charset") << charset;
    run(folder.path(), QStringLiteral("mkvmerge"),
        merge << QStringLiteral("--chapters") << QStringLiteral("film_new.txt") << QStringLiteral("cue.srt"));
    const QByteArray theirs = run(folder.path(), QStringLiteral("mkvextract"),
                                  {QStringLiteral("film.mkv"), QStringLiteral("chapters"),
                                   QStringLiteral("--simple"), QStringLiteral("-")});
    QCOMPARE(QString::fromUtf8(theirs).split(u'\n', Qt::SkipEmptyParts), ours.split(QStringLiteral("\r\n")));
}

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
