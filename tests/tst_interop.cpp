// Our outputs as real consumers read them. tessaline-convert converts data/interop/film.txt, 120
// chapters with Chinese titles (some with the characters ffmetadata escapes), past ten hours at
// the end, the first at zero (an MP4 chapter track starts there), in each format. mkvmerge muxes
// the simple form and the Matroska XML, and mkvextract's simple export must give back exactly our
// times and titles; ffmpeg muxes the ffmetadata into Matroska and MP4, and ffprobe must list every
// chapter with the same start and title; our WebVTT reader must read our WebVTT back exactly, and
// mkvmerge a CUE sheet to the frame of 1/75 s (data/interop/tracks.txt: film.txt's first 99
// chapters, as many as a sheet holds). data/interop/hostile.txt holds titles the formats must
// escape: ending in a backslash, "&", of spaces and tabs alone or at the ends.
// x264 encodes with our QP file and ffprobe finds the keyframes at our chapters; our JSON, the
// Podcasting 2.0 chapters and the listing of --list --json, keeps its rules for a JSON parser.
// The other way round, our readers read what the real tools wrote as those tools' own readers do:
// an .mkv and an .mp4 as ffprobe, a DVD as lsdvd; and the keyframes of an x264 encode with
// B-frames and scene cuts, muxed by mkvmerge and copied into MP4 by ffmpeg, as ffprobe decodes them.
#include "testsupport.h"

#include "chaptertime.h"
#include "codepage.h"
#include "inputformat.h"
#include "keyframes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QtMath>

using namespace TestSupport;

namespace {

// Runs a program in folder; whether it ended with status 0. Its output stays in process.
bool succeeds(QProcess &process, const QString &folder, const QString &program, const QStringList &arguments)
{
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(120'000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Runs a program in folder; its standard output (a failed run fails the test).
QByteArray run(const QString &folder, const QString &program, const QStringList &arguments)
{
    QProcess process;
    if (!succeeds(process, folder, program, arguments))
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

// The chapters of film.txt in folder as tessaline-convert --stdout writes them with arguments, as
// lines of our simple form.
QStringList ourSimpleChapters(const QString &folder, const QStringList &arguments)
{
    const QByteArray bytes = run(folder, QStringLiteral(TESSALINE_CONVERT),
                                 QStringList(arguments) << QStringLiteral("--stdout") << QStringLiteral("film.txt"));
    return QString(QStringDecoder(QStringDecoder::Utf16).decode(bytes)).split(QStringLiteral("\r\n"));
}

// A JSON document as Qt's parser reads it, or the parser's complaint as a failure.
QJsonObject parsedJson(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        QTest::qFail(qPrintable(u"not a JSON object: " + error.errorString()), __FILE__, __LINE__);
    return document.object();
}

// Whether python3's parser, independent of Qt's, reads the file (true where there is no python3).
bool pythonReads(const QString &folder, const QString &file)
{
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        return true;
    QProcess process;
    return succeeds(process, folder, QStringLiteral("python3"),
                    {QStringLiteral("-m"), QStringLiteral("json.tool"), file});
}

// What our readers read from file, as lines of our simple form.
QStringList ourChapters(const QString &file)
{
    QFile opened(file);
    if (!opened.open(QIODevice::ReadOnly))
        return {QStringLiteral("cannot open ") + file};
    const Tessaline::InputFormat *format = Tessaline::probedFormat(opened.peek(Tessaline::kProbeBytes));
    Tessaline::Expected<Tessaline::CodePage> codePage = Tessaline::CodePage::open(1252);
    const Tessaline::ReadSettings settings;
    if (!format || !codePage)
        return {QStringLiteral("no format claims ") + file};
    const Tessaline::Expected<Tessaline::ChapterList> read = format->read({file, opened, *codePage, settings});
    if (!read)
        return {read.error().detail};
    QStringList lines;
    for (const Tessaline::Chapter &chapter : *read) {
        const QString number = QStringLiteral("CHAPTER%1").arg(lines.size() / 2 + 1, 2, 10, QLatin1Char('0'));
        lines << number + u'=' + Tessaline::chapterTimeText(chapter.startMs) << number + u"NAME=" + chapter.title;
    }
    return lines;
}

// lsdvd's chapters of the longest title, as lines of our simple form. lsdvd counts the seconds of
// NTSC playing times as whole seconds and only the frames at 29.97 a second, where a DVD player
// plays every frame for 1001/30000 s, so its times run 0.1 % short: each start is moved by that
// when it is within it (and a millisecond) of ours.
QStringList lsdvdChapters(const QString &folder, const QStringList &ours)
{
    const QString text = QString::fromUtf8(run(folder, QStringLiteral("lsdvd"), {QStringLiteral("-c"), folder}));
    const QString longest = QRegularExpression(QStringLiteral("Longest track: (\\d+)")).match(text).captured(1);
    const QString title = text.section(QString(u"Title: " + longest), 1).section(QStringLiteral("Title: "), 0, 0);
    QStringList lines;
    qint64 start = 0;
    const QRegularExpression chapter(QStringLiteral("Chapter: (\\d+), Length: (\\S+),"));
    for (const QRegularExpressionMatch &match : chapter.globalMatch(title)) {
        const QString number = u"CHAPTER" + match.captured(1);
        const QString ourTime = ours.value(lines.size()).section(u'=', 1);
        const qint64 ourStart = QTime(0, 0).msecsTo(QTime::fromString(ourTime, u"hh:mm:ss.zzz"));
        const bool near = ourStart >= start && ourStart <= start + start / 1000 + 1;
        lines << number + u'=' + Tessaline::chapterTimeText(near ? ourStart : start)
              << number + u"NAME=Chapter " + match.captured(1);
        start += QTime(0, 0).msecsTo(QTime::fromString(match.captured(2), u"hh:mm:ss.zzz"));
    }
    return lines;
}

// theirs, each time that lies within toleranceMs of ours replaced by ours, so that comparing the two
// shows what lies further off.
QStringList withinTolerance(QStringList theirs, const QStringList &ours, qint64 toleranceMs)
{
    const auto milliseconds = [](const QString &line) {
        const std::optional<Tessaline::TimeFields> fields = Tessaline::readTimeFields(line.section(u'=', 1));
        return fields ? Tessaline::plainMilliseconds(*fields) : -1;
    };
    for (qsizetype i = 0; i < std::min(theirs.size(), ours.size()); i += 2) {
        if (qAbs(milliseconds(theirs[i]) - milliseconds(ours[i])) <= toleranceMs)
            theirs[i] = ours[i];
    }
    return theirs;
}

// The keyframes that ffprobe decodes, each at the first whole millisecond at or after it, as ours.
QList<qint64> ffprobeKeyframes(const QString &folder, const QString &movie)
{
    const QString times = QString::fromUtf8(
        run(folder, QStringLiteral("ffprobe"),
            QStringLiteral("-v error -select_streams v -skip_frame nokey -show_entries frame=pts_time -of csv=p=0")
                    .split(u' ')
                << movie));
    QList<qint64> keyframes;
    for (const QString &line : times.split(u'\n', Qt::SkipEmptyParts)) // "0.000000," for a frame with side data
        keyframes.append(qCeil(line.section(u',', 0, 0).toDouble() * 1000 - 0.001)); // printed to the µs
    std::sort(keyframes.begin(), keyframes.end());
    return keyframes;
}

// An x264 encode with B-frames in folder, film.264, whose keyframes fall at its scene cuts (four
// scenes of other lengths, the last of them of changing cells) and every 40 frames at most;
// options: x264's besides.
void encodeFilm(const QString &folder, const QString &options = {})
{
    run(folder, QStringLiteral("ffmpeg"),
        QStringLiteral("-nostdin -v error -f lavfi -i testsrc2=s=128x72:r=24000/1001:d=2.3 -f lavfi -i "
                       "rgbtestsrc=s=128x72:r=24000/1001:d=1.7 -f lavfi -i smptebars=s=128x72:r=24000/1001:d=0.9 "
                       "-f lavfi -i life=s=128x72:r=24000/1001:mold=10:ratio=0.5 -filter_complex "
                       "[3]trim=duration=4.1[l];[0][1][2][l]concat=n=4,format=yuv420p -f yuv4mpegpipe -y film.y4m")
            .split(u' '));
    run(folder, QStringLiteral("x264"),
        QString(u"--quiet --bframes 3 --keyint 40 --min-keyint 8 " + options + u" -o film.264 film.y4m")
            .split(u' ', Qt::SkipEmptyParts));
}

} // namespace

class TestInterop : public QObject
{
    Q_OBJECT

private slots:
    void consumersReadOurChapters_data();
    void consumersReadOurChapters();
    void weReadWhatToolsWrite_data();
    void weReadWhatToolsWrite();
    void languageTagsAsMkvmergeWritesThem();
    void keyframesWhereOurQpfilePutsThem_data();
    void keyframesWhereOurQpfilePutsThem();
    void podcastChaptersKeepTheirRules_data();
    void podcastChaptersKeepTheirRules();
    void listingKeepsItsKeys();
    void keyframesAsFfprobeDecodesThem_data();
    void keyframesAsFfprobeDecodesThem();
    void snappedChaptersStartOnKeyframes();
};

void TestInterop::consumersReadOurChapters_data()
{
    QTest::addColumn<QString>("arguments");
    // mkvmerge's options, ffmpeg's container, or the output that our own reader reads
    QTest::addColumn<QString>("consumer");
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
    QTest::newRow("WebVTT, our reader") << QStringLiteral("--format webvtt") << QStringLiteral("film_new.vtt")
                                        << QStringLiteral("film.txt");
    QTest::newRow("WebVTT, our reader, hostile titles")
        << QStringLiteral("--format webvtt") << QStringLiteral("film_new.vtt") << QStringLiteral("hostile.txt");
    // Without the option mkvmerge puts each track's PERFORMER and " - " before its title.
    const QString cueSheet = QStringLiteral("--cue-chapter-name-format %t --chapters film_new.cue");
    QTest::newRow("CUE in Matroska") << QStringLiteral("--format cue") << cueSheet << QStringLiteral("tracks.txt");
    QTest::newRow("CUE in Matroska, hostile titles")
        << QStringLiteral("--format cue") << cueSheet << QStringLiteral("hostile.txt");
}

void TestInterop::consumersReadOurChapters()
{
    QFETCH(QString, arguments);
    QFETCH(QString, consumer);
    QFETCH(QString, film);
    const bool mkvtoolnix = consumer.startsWith(u"--");
    const bool ourReader = consumer.startsWith(u"film_new.");
    const QStringList programs = ourReader ? QStringList()
        : mkvtoolnix                       ? QStringList {QStringLiteral("mkvmerge"), QStringLiteral("mkvextract")}
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
    if (ourReader) {
        theirs = ourChapters(dir.filePath(consumer));
    } else if (mkvtoolnix) {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("cue.srt")), "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n"));
        // In the C locale, so that mkvmerge reads by what a file says of its encoding (a CUE sheet by
        // its byte order mark), not by the locale's, ASCII.
        run(folder, QStringLiteral("env"),
            QString(u"LC_ALL=C mkvmerge -q -o film.mkv " + consumer + u" cue.srt").split(u' '));
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
    // A CUE sheet holds frames of 1/75 s: to the nearest, and mkvextract cuts to the millisecond.
    const qint64 toleranceMs = consumer.contains(u".cue") ? 1000 / 75 / 2 + 1 : 0;
    QCOMPARE(withinTolerance(theirs, ours, toleranceMs), ours);
}

// Every tag that mkvmerge takes for a chapter language we take, and write both of Matroska's
// language elements as mkvmerge writes them for that tag; mkvmerge keeps what we wrote; what
// mkvmerge refuses, we refuse.
void TestInterop::languageTagsAsMkvmergeWritesThem()
{
    for (const QString &program : {QStringLiteral("mkvmerge"), QStringLiteral("mkvextract")}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program + u" is missing (scripts/test installs it)"));
    }
    QTemporaryDir dir;
    const QString folder = dir.path();
    QVERIFY(writeFile(dir.filePath(QStringLiteral("film.txt")), "CHAPTER01=00:00:01.000\nCHAPTER01NAME=A\n"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("cue.srt")), "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n"));
    // The values of the two language elements in a chapter XML.
    const auto languages = [](const QString &xml) {
        static const QRegularExpression element(QStringLiteral("<(ChapterLanguage|ChapLanguageIETF)>([^<]*)<"));
        QStringList values;
        for (const QRegularExpressionMatch &match : element.globalMatch(xml))
            values << match.captured(2);
        return values;
    };
    const auto succeeds = [&folder](const QString &program, const QStringList &arguments) {
        QProcess process;
        return ::succeeds(process, folder, program, arguments);
    };
    // What mkvmerge wrote into film.mkv, for each of the two elements.
    const auto mkvmergeWrote = [&] {
        return languages(QString::fromUtf8(
            run(folder, QStringLiteral("mkvextract"), QStringLiteral("film.mkv chapters -").split(u' '))));
    };
    const QStringList tags
        = QStringLiteral(
              "zh-Hans-CN ger es-419 zxx qaa tlh EN-latn-us iw aam de-DD yue zh-yue chi-yue zh-cmn-Hans-CN sgn-ase aaa "
              "de-CH-1901-1996 sl-rozaj-biske sr-Latn-RS-1606nict en-u-ca-t-ja en-x-foo x-foo und-Latn i-klingon "
              "sgn-BE-FR zh-min-nan en-GB-oed i-default zh-min xx en-abcde en-a-bbb en-u-ca-u-nu de-1901-1901 "
              "en-x-averylongtag en-Latn-Latn en-yue en-x en-t")
              .split(u' ');
    for (const QString &tag : tags) {
        const QStringList ours {QStringLiteral("--format"), QStringLiteral("matroska"), QStringLiteral("--language"),
                                tag, QStringLiteral("film.txt")};
        const bool weTake = succeeds(QStringLiteral(TESSALINE_CONVERT), ours);
        const bool theyTake = succeeds(QStringLiteral("mkvmerge"),
                                       {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("film.mkv"),
                                        QStringLiteral("--chapter-language"), tag, QStringLiteral("--chapters"),
                                        QStringLiteral("film.txt"), QStringLiteral("cue.srt")});
        QVERIFY2(weTake == theyTake, qPrintable(tag));
        if (!weTake)
            continue;
        const QStringList theirs = mkvmergeWrote();
        QFile xml(dir.filePath(QStringLiteral("film_new.xml")));
        QVERIFY(xml.open(QIODevice::ReadOnly));
        const QStringList written = languages(QString::fromUtf8(xml.readAll()));
        QVERIFY2(written == theirs, qPrintable(tag + u": " + written.join(u' ') + u" against " + theirs.join(u' ')));
        run(folder, QStringLiteral("mkvmerge"),
            QStringLiteral("-q -o film.mkv --chapters film_new.xml cue.srt").split(u' '));
        QVERIFY2(mkvmergeWrote() == written, qPrintable(tag));
    }
}

void TestInterop::keyframesWhereOurQpfilePutsThem_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("rate"); // the video's, as ffmpeg takes it
    QTest::newRow("counted at --fps 25, IDR frames") << QStringLiteral("--fps 25 --qp-type I") << QStringLiteral("25");
    QTest::newRow("retimed from 30 to 29.97") << QStringLiteral("--rate 30:29.97") << QStringLiteral("30000/1001");
}

// x264 with our QP file, no keyframe interval and no scene cuts, puts a keyframe at each frame the
// file names and nowhere else, and ffprobe finds each within half a frame of our chapter's time.
void TestInterop::keyframesWhereOurQpfilePutsThem()
{
    QFETCH(QString, arguments);
    QFETCH(QString, rate);
    for (const QString &program : {QStringLiteral("x264"), QStringLiteral("ffmpeg"), QStringLiteral("ffprobe")}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program + u" is missing (scripts/test installs it)"));
    }
    QTemporaryDir dir;
    const QString folder = dir.path();
    QVERIFY(writeFile(dir.filePath(QStringLiteral("film.txt")),
                      "CHAPTER01=00:00:00.000\nCHAPTER01NAME=a\nCHAPTER02=00:00:01.000\nCHAPTER02NAME=b\n"
                      "CHAPTER03=00:00:01.620\nCHAPTER03NAME=c\nCHAPTER04=00:00:02.500\nCHAPTER04NAME=d\n"
                      "CHAPTER05=00:00:03.960\nCHAPTER05NAME=e\n"));
    const QStringList ours = arguments.split(u' ') << QStringLiteral("--format") << QStringLiteral("qpfile");
    run(folder, QStringLiteral(TESSALINE_CONVERT), QStringList(ours) << QStringLiteral("film.txt"));
    run(folder, QStringLiteral("ffmpeg"),
        QString(u"-nostdin -v error -f lavfi -i testsrc=d=4:s=160x120:r=" + rate
                + u" -pix_fmt yuv420p -f yuv4mpegpipe -y film.y4m")
            .split(u' '));
    run(folder, QStringLiteral("x264"),
        QStringLiteral(
            "--quiet --preset ultrafast --keyint infinite --no-scenecut --qpfile film_new.qpfile -o film.mkv "
            "film.y4m")
            .split(u' '));
    const QJsonObject probed = parsedJson(run(
        folder, QStringLiteral("ffprobe"),
        QStringLiteral("-v error -select_streams v -skip_frame nokey -show_entries frame=pts_time -of json film.mkv")
            .split(u' ')));
    const QStringList terms = rate.split(u'/');
    const double fps = terms.value(0).toDouble() / terms.value(1, QStringLiteral("1")).toDouble();
    QStringList keyframes; // as lines of a QP file
    QList<double> keyframeMs;
    for (const QJsonValue &frame : probed[QStringLiteral("frames")].toArray()) {
        const double seconds = frame[QStringLiteral("pts_time")].toString().toDouble();
        keyframes << QString::number(qRound64(seconds * fps)) + (arguments.contains(u"-type I") ? u" I" : u" K");
        keyframeMs << seconds * 1000;
    }
    QCOMPARE(
        keyframes,
        QString::fromUtf8(readFile(dir.filePath(QStringLiteral("film_new.qpfile")))).split(u'\n', Qt::SkipEmptyParts));
    const QJsonArray listed = parsedJson(run(
        folder, QStringLiteral(TESSALINE_CONVERT),
        QStringList(ours) << QStringLiteral("--list") << QStringLiteral("--json")
                          << QStringLiteral("film.txt")))[QStringLiteral("files")][0][QStringLiteral("chapters")]
                                  .toArray();
    QCOMPARE(keyframeMs.size(), listed.size());
    for (qsizetype i = 0; i < listed.size(); ++i) {
        const double chapterMs = listed[i][QStringLiteral("writtenMs")].toDouble();
        QVERIFY2(qAbs(keyframeMs[i] - chapterMs) <= 500 / fps + 0.001, qPrintable(QString::number(chapterMs)));
    }
}

void TestInterop::podcastChaptersKeepTheirRules_data()
{
    QTest::addColumn<QString>("film");
    QTest::newRow("Chinese titles, past ten hours") << QStringLiteral("film.txt");
    QTest::newRow("hostile titles") << QStringLiteral("hostile.txt");
}

// Podcasting 2.0 chapters as Qt's and python3's parsers read them, by the format's rules: a
// version string; a chapters array of objects in ascending startTime, each a number of seconds
// written with at most three decimals, a title a string. Times and titles are our simple output's.
void TestInterop::podcastChaptersKeepTheirRules()
{
    QFETCH(QString, film);
    QTemporaryDir dir;
    const QString folder = dir.path();
    QVERIFY(QFile::copy(QFINDTESTDATA(u"data/interop/" + film), dir.filePath(QStringLiteral("film.txt"))));
    run(folder, QStringLiteral(TESSALINE_CONVERT),
        {QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("film.txt")});
    const QByteArray bytes = readFile(dir.filePath(QStringLiteral("film_new.json")));
    QVERIFY(pythonReads(folder, QStringLiteral("film_new.json")));
    const QJsonObject document = parsedJson(bytes);
    QCOMPARE(document[QStringLiteral("version")].toString(), QStringLiteral("1.2.0"));
    QVERIFY(document[QStringLiteral("chapters")].isArray());
    QStringList theirs;
    double previous = 0;
    for (const QJsonValue &chapter : document[QStringLiteral("chapters")].toArray()) {
        QVERIFY(chapter.isObject() && chapter[QStringLiteral("startTime")].isDouble());
        QVERIFY(chapter[QStringLiteral("title")].isString() || chapter[QStringLiteral("title")].isUndefined());
        const double seconds = chapter[QStringLiteral("startTime")].toDouble();
        QVERIFY(seconds >= previous);
        previous = seconds;
        const QString number = QStringLiteral("CHAPTER%1").arg(theirs.size() / 2 + 1, 2, 10, QLatin1Char('0'));
        theirs << number + u'=' + Tessaline::chapterTimeText(qRound64(seconds * 1000))
               << number + u"NAME=" + chapter[QStringLiteral("title")].toString();
    }
    static const QRegularExpression number(QStringLiteral("\"startTime\": (\\d+(\\.\\d{1,3})?)[,}]"));
    QCOMPARE(QString::fromUtf8(bytes).count(number), theirs.size() / 2);
    QCOMPARE(theirs, ourSimpleChapters(folder, {}));
}

// --list --json as a script reads it: a files array, each file with its path, output, the format
// read and its chapters, numbered from 1, with the times as read and as written (text, and
// milliseconds or null) and the title; what it lists is what the simple output holds.
void TestInterop::listingKeepsItsKeys()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    QVERIFY(QFile::copy(QFINDTESTDATA("data/interop/film.txt"), dir.filePath(QStringLiteral("film.txt"))));
    const QByteArray bytes = run(folder, QStringLiteral(TESSALINE_CONVERT),
                                 {QStringLiteral("--list"), QStringLiteral("--json"), QStringLiteral("film.txt")});
    QVERIFY(writeFile(dir.filePath(QStringLiteral("listing.json")), bytes));
    QVERIFY(pythonReads(folder, QStringLiteral("listing.json")));
    const QJsonArray files = parsedJson(bytes)[QStringLiteral("files")].toArray();
    QCOMPARE(files.size(), 1);
    const QJsonValue file = files[0];
    QCOMPARE(file[QStringLiteral("path")].toString(), QStringLiteral("film.txt"));
    QCOMPARE(file[QStringLiteral("output")].toString(), QStringLiteral("film_new.txt"));
    QCOMPARE(file[QStringLiteral("format")].toString(), QStringLiteral("simple"));
    QStringList theirs;
    for (const QJsonValue &chapter : file[QStringLiteral("chapters")].toArray()) {
        const QString number = QStringLiteral("CHAPTER%1").arg(theirs.size() / 2 + 1, 2, 10, QLatin1Char('0'));
        QCOMPARE(chapter[QStringLiteral("number")].toInteger(), theirs.size() / 2 + 1);
        for (const QString &key : {QStringLiteral("readMs"), QStringLiteral("writtenMs")})
            QVERIFY(chapter[key].isDouble() || chapter[key].isNull());
        QCOMPARE(Tessaline::chapterTimeText(chapter[QStringLiteral("readMs")].toInteger()),
                 chapter[QStringLiteral("read")].toString());
        QCOMPARE(Tessaline::chapterTimeText(chapter[QStringLiteral("writtenMs")].toInteger()),
                 chapter[QStringLiteral("written")].toString());
        theirs << number + u'=' + chapter[QStringLiteral("written")].toString()
               << number + u"NAME=" + chapter[QStringLiteral("title")].toString();
    }
    QCOMPARE(theirs, ourSimpleChapters(folder, {}));
}

void TestInterop::weReadWhatToolsWrite_data()
{
    QTest::addColumn<QString>("writer"); // the program that writes the file, and its reader's
    QTest::addColumn<QString>("reader");
    QTest::newRow("Matroska by mkvmerge, as ffprobe reads it")
        << QStringLiteral("mkvmerge") << QStringLiteral("ffprobe");
    QTest::newRow("MP4 by ffmpeg, as ffprobe reads it") << QStringLiteral("ffmpeg") << QStringLiteral("ffprobe");
    QTest::newRow("DVD by dvdauthor, as lsdvd reads it") << QStringLiteral("dvdauthor") << QStringLiteral("lsdvd");
}

void TestInterop::weReadWhatToolsWrite()
{
    QFETCH(QString, writer);
    QFETCH(QString, reader);
    for (const QString &program : {writer, reader, QStringLiteral("ffmpeg")}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program + u" is missing (scripts/test installs it)"));
    }
    QTemporaryDir dir;
    const QString folder = dir.path();
    QVERIFY(QFile::copy(QFINDTESTDATA("data/interop/film.txt"), dir.filePath(QStringLiteral("film.txt"))));
    const QString convert = QStringLiteral(TESSALINE_CONVERT);
    QString movie;
    if (writer == u"mkvmerge") {
        run(folder, convert, {QStringLiteral("film.txt")});
        QVERIFY(writeFile(dir.filePath(QStringLiteral("cue.srt")), "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n"));
        run(folder, writer, QStringLiteral("-q -o film.mkv --chapters film_new.txt cue.srt").split(u' '));
        movie = QStringLiteral("film.mkv");
    } else if (writer == u"ffmpeg") {
        run(folder, convert, {QStringLiteral("--format"), QStringLiteral("ffmetadata"), QStringLiteral("film.txt")});
        run(folder, writer,
            QStringLiteral("-nostdin -v error -f lavfi -t 1 -i anullsrc=r=8000:cl=mono -i film_new.ffmetadata -map 0 "
                           "-map_metadata 1 -map_chapters 1 -c:a aac -y film.mp4")
                .split(u' '));
        movie = QStringLiteral("film.mp4");
    } else {
        // 3 s of NTSC video in three chapters; dvdauthor starts them at the next cell boundary.
        run(folder, QStringLiteral("ffmpeg"),
            QStringLiteral("-nostdin -v error -f lavfi -i testsrc=d=3:r=30000/1001 -target ntsc-dvd -y film.mpg")
                .split(u' '));
        qputenv("VIDEO_FORMAT", "NTSC"); // for the menu dvdauthor writes, which has no video of its own
        run(folder, writer, QStringLiteral("-o dvd -t -c 0,1,2.5 film.mpg").split(u' '));
        run(folder, writer, QStringLiteral("-o dvd -T").split(u' '));
        movie = QStringLiteral("dvd/VIDEO_TS/VTS_01_0.IFO");
    }
    const QStringList ours = ourChapters(dir.filePath(movie));
    const QStringList theirs = reader == u"lsdvd" ? lsdvdChapters(dir.filePath(QStringLiteral("dvd")), ours)
                                                  : ffprobeChapters(folder, movie);
    QVERIFY(!theirs.isEmpty());
    QCOMPARE(ours, theirs);
}

void TestInterop::keyframesAsFfprobeDecodesThem_data()
{
    QTest::addColumn<QString>("mkvmerge"); // what it makes film.mkv of (noise.wav: 10 s of audio)
    QTest::addColumn<QString>("movie"); // film.mp4: copied from film.mkv by ffmpeg
    QTest::addColumn<QString>("x264"); // its options besides encodeFilm's
    QTest::newRow("Matroska by mkvmerge: its Cues, in µs")
        << QStringLiteral("--timestamp-scale 1000 film.264") << QStringLiteral("film.mkv") << QString();
    QTest::newRow("Matroska without Cues: its blocks read whole")
        << QStringLiteral("--no-cues film.264") << QStringLiteral("film.mkv") << QString();
    QTest::newRow("Matroska whose Cues list only its audio: its blocks read whole")
        << QStringLiteral("--cues 0:none film.264 --cues 0:all noise.wav") << QStringLiteral("film.mkv") << QString();
    // Timestamps to the µs (not mkvmerge's ms), which ffmpeg keeps in MP4: keyframes between
    // milliseconds.
    QTest::newRow("MP4 by ffmpeg: sync samples, and B-frames' composition offsets")
        << QStringLiteral("--timestamp-scale 1000 film.264") << QStringLiteral("film.mp4") << QString();
    QTest::newRow("MP4 of keyframes alone: their decoding times, shifted as the first's")
        << QStringLiteral("--timestamp-scale 1000 film.264") << QStringLiteral("film.mp4")
        << QStringLiteral("--keyint 1");
}

void TestInterop::keyframesAsFfprobeDecodesThem()
{
    QFETCH(QString, mkvmerge);
    QFETCH(QString, movie);
    QFETCH(QString, x264);
    for (const QString &program : {QStringLiteral("x264"), QStringLiteral("ffmpeg"), QStringLiteral("mkvmerge")}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program + u" is missing (scripts/test installs it)"));
    }
    QTemporaryDir dir;
    const QString folder = dir.path();
    encodeFilm(folder, x264);
    if (mkvmerge.contains(u"noise.wav"))
        run(folder, QStringLiteral("ffmpeg"),
            QStringLiteral("-nostdin -v error -f lavfi -i anoisesrc=r=48000:d=10 -ac 2 -y noise.wav").split(u' '));
    run(folder, QStringLiteral("mkvmerge"),
        QStringList {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("film.mkv")} + mkvmerge.split(u' '));
    if (movie.endsWith(u".mp4"))
        run(folder, QStringLiteral("ffmpeg"),
            QStringLiteral("-nostdin -v error -i film.mkv -c copy -y film.mp4").split(u' '));
    const Tessaline::Expected<QList<qint64>> ours = Tessaline::readKeyframesOf(dir.filePath(movie));
    QVERIFY2(ours, qPrintable(ours ? QString() : ours.error().detail));
    const QList<qint64> theirs = ffprobeKeyframes(folder, movie);
    QVERIFY(theirs.size() > 4);
    QCOMPARE(*ours, theirs);
}

// Chapters a quarter of a second after each keyframe of a real encode, snapped to its keyframes and
// muxed into it by mkvmerge, start on them as ffprobe reads them; one 1.5 s past the last stays.
void TestInterop::snappedChaptersStartOnKeyframes()
{
    for (const QString &program : {QStringLiteral("x264"), QStringLiteral("ffmpeg"), QStringLiteral("mkvmerge")}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program + u" is missing (scripts/test installs it)"));
    }
    QTemporaryDir dir;
    const QString folder = dir.path();
    encodeFilm(folder);
    run(folder, QStringLiteral("mkvmerge"), QStringLiteral("-q -o film.mkv film.264").split(u' '));
    QList<qint64> starts = ffprobeKeyframes(folder, QStringLiteral("film.mkv"));
    QVERIFY(starts.size() > 4);
    starts.append(starts.last() + 1500);
    QByteArray chapters;
    QStringList expected;
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const bool last = i + 1 == starts.size();
        const QString number = QStringLiteral("CHAPTER%1").arg(i + 1, 2, 10, QLatin1Char('0'));
        chapters += (number + u'=' + Tessaline::chapterTimeText(starts[i] + (last ? 0 : 250)) + u"\n" + number
                     + u"NAME=Scene\n")
                        .toUtf8();
        expected << number + u'=' + Tessaline::chapterTimeText(starts[i]) << number + u"NAME=Scene";
    }
    QVERIFY(writeFile(dir.filePath(QStringLiteral("film.txt")), chapters));
    run(folder, QStringLiteral(TESSALINE_CONVERT),
        QStringLiteral("--no-shift --format matroska --snap-keyframes film.mkv film.txt").split(u' '));
    run(folder, QStringLiteral("mkvmerge"),
        QStringLiteral("-q -o snapped.mkv --chapters film_new.xml film.mkv").split(u' '));
    QCOMPARE(ffprobeChapters(folder, QStringLiteral("snapped.mkv")), expected);
}

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
