// The input formats: each file under data/formats that has a NAME.expected beside it is read as
// the conversion reads it, and must give what NAME.expected says:
//     format: NAME        the format the probes take it for ("simple" when none claims it)
//     from: NAME          optional: read as this format whatever the probes say (--from)
//     edition: N          optional: ReadSettings::edition; "title: N" likewise
//     codepage: N         optional: the run's ANSI code page (1252 when absent)
//     failure: KIND N     the reader fails with Failure::Kind KIND at line N, or at byte @N
//     end: HH:MM:SS.mmm   optional: where the last chapter ends ("none": the file does not say)
//     media: NAME         optional: the media file the last chapter is in, as the file names it
//     keyframes: ...      optional: the video's keyframes as --snap-keyframes reads them, times
//                         (HH:MM:SS.mmm) or a failure (KIND @N) as above
//     HH:MM:SS.mmm title  otherwise, one line a chapter, in order; \n, \r and \\ in a title
//                         stand for a line feed, a carriage return and a backslash
#include "chaptertime.h"
#include "codepage.h"
#include "inputformat.h"
#include "keyframes.h"

#include <QDirIterator>
#include <QFile>
#include <QMetaEnum>
#include <QTest>

using namespace Tessaline;

namespace {

QString unescaped(QStringView text)
{
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            const QChar next = text[++i];
            plain += next == u'n' ? QChar(u'\n') : next == u'r' ? QChar(u'\r') : next;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

QString failureKindName(Failure::Kind kind)
{
    static const QHash<Failure::Kind, QString> names = {
        {Failure::Kind::BadInput, QStringLiteral("BadInput")},
        {Failure::Kind::NoChapters, QStringLiteral("NoChapters")},
        {Failure::Kind::ReadFailed, QStringLiteral("ReadFailed")},
        {Failure::Kind::TimeOutOfRange, QStringLiteral("TimeOutOfRange")},
    };
    return names.value(kind, QString::number(int(kind)));
}

// KIND N, or KIND @N for a byte offset.
QString failureText(const Failure &failure)
{
    const QString where = failure.offset >= 0 ? u'@' + QString::number(failure.offset) : QString::number(failure.line);
    return failureKindName(failure.kind) + u' ' + where;
}

// The keyframes as times, or why they cannot be read.
QString keyframesText(const Expected<QList<qint64>> &keyframes)
{
    if (!keyframes)
        return failureText(keyframes.error());
    QStringList times;
    for (const qint64 ms : *keyframes)
        times.append(chapterTimeText(ms));
    return times.join(u' ');
}

} // namespace

class TestFormats : public QObject
{
    Q_OBJECT

private slots:
    void readers_data();
    void readers();
    void simpleTextIsClaimedByNone();
    void roundedMilliseconds_data();
    void roundedMilliseconds();
};

void TestFormats::readers_data()
{
    QTest::addColumn<QString>("input");
    const QString root = QFINDTESTDATA("data/formats");
    QDirIterator it(root, {QStringLiteral("*.expected")}, QDir::Files, QDirIterator::Subdirectories);
    QStringList inputs;
    while (it.hasNext())
        inputs.append(it.next().chopped(int(qstrlen(".expected"))));
    inputs.sort();
    for (const QString &input : inputs)
        QTest::newRow(qPrintable(QDir(root).relativeFilePath(input))) << input;
}

void TestFormats::readers()
{
    QFETCH(QString, input);
    QFile expectedFile(input + u".expected");
    QVERIFY(expectedFile.open(QIODevice::ReadOnly));
    QString format;
    QString from;
    QString failure;
    std::optional<QString> end;
    std::optional<QString> media;
    std::optional<QString> keyframes;
    ReadSettings settings;
    int codePageNumber = 1252;
    QStringList chapters;
    for (const QString &line : QString::fromUtf8(expectedFile.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        const QString value = line.section(u':', 1).trimmed();
        if (line.startsWith(u"format:"))
            format = value;
        else if (line.startsWith(u"from:"))
            from = value;
        else if (line.startsWith(u"edition:"))
            settings.edition = value.toInt();
        else if (line.startsWith(u"title:"))
            settings.title = value.toInt();
        else if (line.startsWith(u"codepage:"))
            codePageNumber = value.toInt();
        else if (line.startsWith(u"failure:"))
            failure = value;
        else if (line.startsWith(u"end:"))
            end = value;
        else if (line.startsWith(u"media:"))
            media = value;
        else if (line.startsWith(u"keyframes:"))
            keyframes = value;
        else
            chapters.append(line);
    }

    const QString named = from.isEmpty() ? format : from;
    if (named != u"simple" && !inputFormatNamed(named))
        QSKIP(qPrintable(u"no reader of " + named
                         + u" is built here (the library-based readers are built for Linux and Windows only)"));
    QFile file(input);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const InputFormat *probed = probedFormat(file);
    QCOMPARE(probed ? probed->name.toString() : QStringLiteral("simple"), format);
    if (keyframes)
        QCOMPARE(keyframesText(readKeyframesOf(input)), *keyframes);
    const InputFormat *reader = from.isEmpty() ? probed : inputFormatNamed(from);
    if (!reader)
        return; // simple text: read by the conversion's own streaming path
    Expected<CodePage> codePage = CodePage::open(codePageNumber);
    QVERIFY(codePage);
    const Expected<ChapterList> read = reader->read({input, file, *codePage, settings});
    if (!failure.isEmpty()) {
        QVERIFY2(!read, "the file was read");
        QCOMPARE(failureText(read.error()), failure);
        return;
    }
    QVERIFY2(read, qPrintable(read ? QString() : read.error().detail));
    QStringList got;
    for (const Chapter &chapter : *read)
        got.append(chapterTimeText(chapter.startMs) + u' ' + chapter.title);
    QStringList want;
    for (const QString &line : chapters)
        want.append(line.section(u' ', 0, 0) + u' ' + unescaped(line.section(u' ', 1)));
    QCOMPARE(got, want);
    const Chapter &last = read->last();
    if (end)
        QCOMPARE(last.endMs ? chapterTimeText(*last.endMs) : QStringLiteral("none"), *end);
    if (media)
        QCOMPARE(last.media, *media);
}

// Every simple chapter file the conversion and fuzz tests read stays simple text (the cases'
// expected/ folders hold what the writers made, of every format; their other inputs are of other
// formats on purpose).
void TestFormats::simpleTextIsClaimedByNone()
{
    QStringList claimed;
    int files = 0;
    for (const QString &folder : {QFINDTESTDATA("data/cases"), QFINDTESTDATA("../fuzz/corpus/convert")}) {
        QVERIFY(!folder.isEmpty());
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            const bool caseInput = it.filePath().startsWith(QFINDTESTDATA("data/cases"));
            if (it.filePath().contains(u"/expected/") || (caseInput && !it.filePath().endsWith(u".txt")))
                continue;
            QVERIFY(file.open(QIODevice::ReadOnly));
            ++files;
            if (const InputFormat *format = probedFormat(file.read(kProbeBytes)))
                claimed.append(it.filePath() + u" as " + format->name);
        }
    }
    QVERIFY(files > 50);
    QVERIFY2(claimed.isEmpty(), qPrintable(claimed.join(u", ")));
    QVERIFY(!probedFormat({}));
}

void TestFormats::roundedMilliseconds_data()
{
    QTest::addColumn<qint64>("ticks");
    QTest::addColumn<qint64>("numerator");
    QTest::addColumn<qint64>("denominator");
    using Ms = std::optional<qint64>; // nothing: out of range
    QTest::addColumn<Ms>("expected");
    QTest::newRow("ns, below half") << 1'499'999LL << 1LL << 1'000'000'000LL << Ms(1LL);
    QTest::newRow("ns, half to even down") << 2'500'000LL << 1LL << 1'000'000'000LL << Ms(2LL);
    QTest::newRow("ns, half to even up") << 3'500'000LL << 1LL << 1'000'000'000LL << Ms(4LL);
    QTest::newRow("45 kHz") << 45'000LL * 3600 << 1LL << 45'000LL << Ms(3'600'000LL);
    QTest::newRow("NTSC frame") << 1LL << 1001LL << 30000LL << Ms(33LL); // 33.37 ms
    QTest::newRow("negative half to even") << -2'500'000LL << 1LL << 1'000'000'000LL << Ms(-2LL);
    QTest::newRow("64-bit ticks, exact") << std::numeric_limits<qint64>::max() << 1LL << 1'000'000'000LL
                                         << Ms(9'223'372'036'855LL);
    QTest::newRow("past 64-bit ms") << std::numeric_limits<qint64>::max() << 1LL << 1LL << Ms();
    QTest::newRow("product past 128 bits")
        << 4'611'686'018'427'387'904LL << 73'786'976'294'838'207LL << 9'000'000'000'000'000'000LL << Ms();
}

void TestFormats::roundedMilliseconds()
{
    QFETCH(qint64, ticks);
    QFETCH(qint64, numerator);
    QFETCH(qint64, denominator);
    QFETCH(std::optional<qint64>, expected);
    QCOMPARE(Tessaline::roundedMilliseconds(ticks, numerator, denominator), expected);
}

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
