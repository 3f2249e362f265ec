// Our outputs as real consumers read them. tessaline-convert converts a chapter file of 120
// chapters (Chinese titles, some with the characters ffmetadata escapes, past ten hours at the
// end) in each format; mkvmerge muxes the simple form and the Matroska XML, and mkvextract's
// simple export must give back exactly our times and titles; ffmpeg muxes the ffmetadata into
// Matroska and MP4, and ffprobe must list every chapter with our start and title.
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

namespace {

// Chapter k starts at (k - 1) * 323.457 s: an MP4 chapter track starts at zero, so ffmpeg moves a
// first chapter that starts later.
QByteArray chapterFile()
{
    QByteArray text = "\xEF\xBB\xBF";
    for (int k = 1; k <= 120; ++k) {
        const qint64 ms = (k - 1) * 323'457LL;
        text += QStringLiteral("CHAPTER%1=%2:%3:%4.%5\r\nCHAPTER%1NAME=第一幕 %6\r\n")
                    .arg(k, 2, 10, QLatin1Char('0'))
                    .arg(ms / 3'600'000, 2, 10, QLatin1Char('0'))
                    .arg(ms / 60'000 % 60, 2, 10, QLatin1Char('0'))
                    .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
                    .arg(ms % 1000, 3, 10, QLatin1Char('0'))
                    .arg(k % 10 == 0 ? QStringLiteral("a=b;c#d\\e & <f>") : QString::number(k))
                    .toUtf8();
    }
    return text;
}

// Runs a program in folder; its standard output (a failed run fails the test).
QByteArray run(const QString &folder, const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    const bool ran = process.waitForFinished(120'000) && process.exitStatus() == QProcess::NormalExit;
    if (!ran || process.exitCode() != 0)
        QTest::qFail(qPrintable(program + u": " + QString::fromUtf8(process.readAllStandardError())),
                     __FILE__, __LINE__);
    return process.readAllStandardOutput();
}

QByteArray convert(const QString &folder, QStringList arguments)
{
    return run(folder, QStringLiteral(TESSALINE_CONVERT), arguments << QStringLiteral("film.txt"));
}

// The times and titles, as our simple form writes them: what every consumer must give back.
QStringList simpleLines(const QString &folder)
{
    return QString(QStringDecoder(QStringDecoder::Utf16).decode(convert(folder, {QStringLiteral("--stdout")})))
        .split(QStringLiteral("\r\n"));
}

bool found(const char *program)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

} // namespace

class TestInterop : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void mkvextractGivesOurChapters_data();
    void mkvextractGivesOurChapters();
    void ffprobeListsOurChapters_data();
    void ffprobeListsOurChapters();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestInterop::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("film.txt")), chapterFile()));
}

void TestInterop::mkvextractGivesOurChapters_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("charset"); // mkvmerge's --chapter-charset for the file we wrote
    QTest::newRow("simple, Unicode") << QStringList() << QStringLiteral("film_new.txt") << QString();
    QTest::newRow("simple, ANSI 936")
        << QStringList {QStringLiteral("--ansi"), QStringLiteral("--code-page"), QStringLiteral("936")}
        << QStringLiteral("film_new.txt") << QStringLiteral("GBK");
    QTest::newRow("Matroska XML")
        << QStringList {QStringLiteral("--format"), QStringLiteral("matroska"), QStringLiteral("--language"),
                        QStringLiteral("zh-Hans-CN")}
        << QStringLiteral("film_new.xml") << QString();
}

void TestInterop::mkvextractGivesOurChapters()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QFETCH(QString, charset);
    if (!found("mkvmerge") || !found("mkvextract"))
        QSKIP("mkvmerge and mkvextract are missing (Debian's mkvtoolnix; scripts/test installs it)");
    const QString folder = m_folder->path();
    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("cue.srt")), "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n"));
    convert(folder, arguments);
    QStringList merge {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("film.mkv")};
    if (!charset.isEmpty())
        merge << QStringLiteral("--chapter-charset") << charset;
    run(folder, QStringLiteral("mkvmerge"), merge << QStringLiteral("--chapters") << output << QStringLiteral("cue.srt"));
    const QByteArray theirs = run(folder, QStringLiteral("mkvextract"),
                                  {QStringLiteral("film.mkv"), QStringLiteral("chapters"), QStringLiteral("--simple"),
                                   QStringLiteral("-")});
    QCOMPARE(QString::fromUtf8(theirs).split(u'\n', Qt::SkipEmptyParts), simpleLines(folder));
}

void TestInterop::ffprobeListsOurChapters_data()
{
    QTest::addColumn<QString>("container");
    QTest::newRow("Matroska") << QStringLiteral("mkv");
    QTest::newRow("MP4") << QStringLiteral("mp4");
}

void TestInterop::ffprobeListsOurChapters()
{
    QFETCH(QString, container);
    if (!found("ffmpeg") || !found("ffprobe"))
        QSKIP("ffmpeg and ffprobe are missing (Debian's ffmpeg; scripts/test installs it)");
    const QString folder = m_folder->path();
    convert(folder, {QStringLiteral("--format"), QStringLiteral("ffmetadata")});
    const QString movie = u"film." + container;
    run(folder, QStringLiteral("ffmpeg"),
        QStringLiteral("-nostdin -v error -f lavfi -t 1 -i anullsrc=r=8000:cl=mono -i film_new.ffmetadata "
                       "-map 0 -map_metadata 1 -map_chapters 1 -c:a aac -y")
                .split(u' ')
            << movie);
    const QJsonArray chapters = QJsonDocument::fromJson(
                                    run(folder, QStringLiteral("ffprobe"),
                                        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_chapters"),
                                         QStringLiteral("-of"), QStringLiteral("json"), movie}))
                                    .object()
                                    .value(QStringLiteral("chapters"))
                                    .toArray();
    QStringList theirs;
    for (const QJsonValue &chapter : chapters) {
        const qint64 ms = qRound64(chapter[QStringLiteral("start_time")].toString().toDouble() * 1000);
        theirs << QStringLiteral("%1:%2:%3.%4")
                      .arg(ms / 3'600'000, 2, 10, QLatin1Char('0'))
                      .arg(ms / 60'000 % 60, 2, 10, QLatin1Char('0'))
                      .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
                      .arg(ms % 1000, 3, 10, QLatin1Char('0'))
               << chapter[QStringLiteral("tags")][QStringLiteral("title")].toString();
    }
    QStringList ours;
    for (const QString &line : simpleLines(folder))
        ours << line.section(u'=', 1);
    QCOMPARE(theirs, ours);
}

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
