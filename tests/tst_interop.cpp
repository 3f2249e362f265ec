// Our outputs as real consumers read them. tessaline-convert converts data/interop/film.txt, 120
// chapters with Chinese titles (some with the characters ffmetadata escapes), past ten hours at
// the end, the first at zero (an MP4 chapter track starts there), in each format. mkvmerge muxes
// the simple form and the Matroska XML, and mkvextract's simple export must give back exactly our
// times and titles; ffmpeg muxes the ffmetadata into Matroska and MP4, and ffprobe must list every
// chapter with the same start and title. data/interop/hostile.txt holds titles the formats must
// escape: ending in a backslash, "&", of spaces and tabs alone or at the ends.
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

using namespace TestSupport;

namespace {

// Runs a program in folder; its standard output (a failed run fails the test).
QByteArray run(const QString &folder, const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    const bool ran = process.waitForFinished(120'000) && process.exitStatus() == QProcess::NormalExit;
    if (!ran || process.exitCode() != 0)
        QTest::qFail(qPrintable(program + u": " + QString::fromUtf8(process.readAllStandardError())), __FILE__,
                     __LINE__);
    return process.readAllStandardOutput();
}

// What ffprobe lists, as lines of our simple form.
QStringList ffprobeChapters(const QString &folder, const QString &movie)
{
    const QByteArray json = run(folder, QStringLiteral("ffprobe"),
                                QStringLiteral("-v error -show_chapters -of json").split(u' ') << movie);
    QStringList lines;
    for (const QJsonValue &chapter : QJsonDocument::fromJson(json)[QStringLiteral("chapters")].toArray()) {
        const QString number = QStringLiteral("CHAPTER%1").arg(lines.size() / 2 + 1, 2, 10, QLatin1Char('0'));
        const double seconds = chapter[QStringLiteral("start_time")].toString().toDouble();
        lines << number + u'=' + QTime::fromMSecsSinceStartOfDay(qRound(seconds * 1000)).toString(u"hh:mm:ss.zzz")
              << number + u"NAME=" + chapter[QStringLiteral("tags")][QStringLiteral("title")].toString();
    }
    return lines;
}

} // namespace

class TestInterop : public QObject
{
    Q_OBJECT

private slots:
    void consumersReadOurChapters_data();
    void consumersReadOurChapters();
};

void TestInterop::consumersReadOurChapters_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("consumer"); // mkvmerge's options, or ffmpeg's container
    QTest::addColumn<QString>("film");
    QTest::newRow("simple, Unicode") << QString() << QStringLiteral("--chapters film_new.txt")
                                     << QStringLiteral("film.txt");
    QTest::newRow("simple, ANSI 936") << QStringLiteral("--ansi --code-page 936")
                                      << QStringLiteral("--chapter-charset GBK --chapters film_new.txt")
                                      << QStringLiteral("film.txt");
    QTest::newRow("Matroska XML") << QStringLiteral("--format matroska --language zh-Hans-CN")
                                  << QStringLiteral("--chapters film_new.xml") << QStringLiteral("film.txt");
    QTest::newRow("ffmetadata in Matroska")
        << QStringLiteral("--format ffmetadata") << QStringLiteral("mkv") << QStringLiteral("film.txt");
    QTest::newRow("Matroska XML, hostile titles")
        << QStringLiteral("--format matroska") << QStringLiteral("--chapters film_new.xml")
        << QStringLiteral("hostile.txt");
    QTest::newRow("ffmetadata in Matroska, hostile titles")
        << QStringLiteral("--format ffmetadata") << QStringLiteral("mkv") << QStringLiteral("hostile.txt");
    QTest::newRow("ffmetadata in MP4") << QStringLiteral("--format ffmetadata") << QStringLiteral("mp4")
                                       << QStringLiteral("film.txt");
}

void TestInterop::consumersReadOurChapters()
{
    QFETCH(QString, arguments);
    QFETCH(QString, consumer);
    QFETCH(QString, film);
    const bool mkvtoolnix = consumer.startsWith(u"--");
    const QStringList programs = mkvtoolnix ? QStringList {QStringLiteral("mkvmerge"), QStringLiteral("mkvextract")}
                                            : QStringList {QStringLiteral("ffmpeg"), QStringLiteral("ffprobe")};
    for (const QString &program : programs) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program + u" is missing (scripts/test installs it)"));
    }
    QTemporaryDir dir;
    const QString folder = dir.path();
    QVERIFY(QFile::copy(QFINDTESTDATA(u"data/interop/" + film), dir.filePath(QStringLiteral("film.txt"))));
    const QString convert = QStringLiteral(TESSALINE_CONVERT);
    const QStringList ours
        = QString(QStringDecoder(QStringDecoder::Utf16)
                      .decode(run(folder, convert, {QStringLiteral("--stdout"), QStringLiteral("film.txt")})))
              .split(QStringLiteral("\r\n"));
    run(folder, convert, arguments.split(u' ', Qt::SkipEmptyParts) << QStringLiteral("film.txt"));

    QStringList theirs;
    if (mkvtoolnix) {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("cue.srt")), "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n"));
        run(folder, QStringLiteral("mkvmerge"), QString(u"-q -o film.mkv " + consumer + u" cue.srt").split(u' '));
        theirs = QString::fromUtf8(run(folder, QStringLiteral("mkvextract"),
                                       QStringLiteral("film.mkv chapters --simple -").split(u' ')))
                     .split(u'\n', Qt::SkipEmptyParts);
    } else {
        run(folder, QStringLiteral("ffmpeg"),
            QString(u"-nostdin -v error -f lavfi -t 1 -i anullsrc=r=8000:cl=mono -i film_new.ffmetadata -map 0 "
                    u"-map_metadata 1 -map_chapters 1 -c:a aac -y film."
                    + consumer)
                .split(u' '));
        theirs = ffprobeChapters(folder, u"film." + consumer);
    }
    QCOMPARE(theirs, ours);
}

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
