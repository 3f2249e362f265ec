#include "cuesheet.h"

#include "chaptertime.h"
#include "chapterwriter.h"
#include "failurereason.h"
#include "simpletext.h"
#include "textformat.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace Tessaline {

namespace {

constexpr qint64 kFramesPerSecond = 75;

// The keyword a line starts with, upper case, and what follows it, trimmed.
struct Command
{
    QString keyword;
    QString rest;
};

Command command(QStringView line)
{
    const QStringView trimmed = line.trimmed();
    const qsizetype space = trimmed.indexOf(u' ');
    const qsizetype tab = trimmed.indexOf(u'\t');
    const qsizetype end = space < 0 ? tab : tab < 0 ? space : std::min(space, tab);
    if (end < 0)
        return {trimmed.toString().toUpper(), {}};
    return {trimmed.left(end).toString().toUpper(), trimmed.mid(end + 1).trimmed().toString()};
}

// The commands of a sheet, and those of its CD-TEXT; only FILE, TRACK, TITLE and INDEX are read.
bool isCueKeyword(QStringView keyword)
{
    static const QStringList keywords = {
        QStringLiteral("CATALOG"),   QStringLiteral("CDTEXTFILE"), QStringLiteral("FILE"),
        QStringLiteral("FLAGS"),     QStringLiteral("INDEX"),      QStringLiteral("ISRC"),
        QStringLiteral("PERFORMER"), QStringLiteral("POSTGAP"),    QStringLiteral("PREGAP"),
        QStringLiteral("REM"),       QStringLiteral("SONGWRITER"), QStringLiteral("TITLE"),
        QStringLiteral("TRACK"),     QStringLiteral("COMPOSER"),   QStringLiteral("ARRANGER"),
        QStringLiteral("MESSAGE"),   QStringLiteral("DISC_ID"),    QStringLiteral("GENRE"),
        QStringLiteral("TOC_INFO"),  QStringLiteral("TOC_INFO1"),  QStringLiteral("TOC_INFO2"),
        QStringLiteral("UPC_EAN"),   QStringLiteral("SIZE_INFO"),
    };
    return keywords.contains(keyword);
}

// DOS editors end a text with ^Z (0x1A): nothing from it on is part of the sheet.
void cutAtEndOfFileMark(QStringList &lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const qsizetype mark = lines[i].indexOf(QChar(0x1A)); mark >= 0) {
            lines[i].truncate(mark);
            lines.resize(i + 1);
            return;
        }
    }
}

// A TITLE's text: between its quotes, or as it stands.
QString titleText(const QString &rest)
{
    if (rest.size() >= 2 && rest.startsWith(u'"') && rest.endsWith(u'"'))
        return rest.mid(1, rest.size() - 2);
    return rest;
}

// A FILE's name: between its quotes, or before the file type that ends the line.
QString mediaName(const QString &rest)
{
    if (rest.startsWith(u'"')) {
        const qsizetype close = rest.lastIndexOf(u'"'); // the name may hold quotes
        return close > 0 ? rest.mid(1, close - 1) : rest.mid(1);
    }
    const qsizetype typeStart = std::max(rest.lastIndexOf(u' '), rest.lastIndexOf(u'\t'));
    return typeStart < 0 ? rest : rest.left(typeStart).trimmed();
}

// An INDEX time mm:ss:ff in milliseconds.
std::optional<qint64> indexMilliseconds(QStringView time)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d{1,9}):([0-5]\\d):([0-6]\\d|7[0-4])$"));
    const QRegularExpressionMatch match = shape.match(time);
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 frames
        = (*decimalNumber(match.capturedView(1)) * 60 + *decimalNumber(match.capturedView(2))) * kFramesPerSecond
        + *decimalNumber(match.capturedView(3));
    return roundedMilliseconds(frames, 1, kFramesPerSecond);
}

// A track as read so far.
struct Track
{
    qint64 line; // of its TRACK line
    std::optional<qint64> startMs {};
    qint64 startLine = 0; // of its INDEX 01
    QString title {};
};

class SheetReader
{
public:
    explicit SheetReader(const ReadRequest &request) : m_request(request) { }

    // Takes the line numbered line; a failure when the sheet cannot be read on from it.
    MaybeFailure take(const Command &cue, qint64 line)
    {
        if (cue.keyword == u"FILE") {
            // Each FILE is timed from its own start: the tracks of a second one would need the
            // first one's length to be placed.
            if (m_fileLine > 0)
                return badInput(m_request, line,
                                Reason::tr("a second FILE (the first is on line %1): each FILE is timed from its own "
                                           "start, and without the files' lengths its tracks cannot be placed")
                                    .arg(m_fileLine));
            m_fileLine = line;
            m_media = mediaName(cue.rest);
        } else if (cue.keyword == u"TRACK") {
            if (MaybeFailure failure = finishTrack())
                return failure;
            m_track = Track {.line = line};
        } else if (m_track && cue.keyword == u"TITLE") {
            m_track->title = titleText(cue.rest);
        } else if (m_track && cue.keyword == u"INDEX") {
            return takeIndex(cue.rest, line);
        }
        return std::nullopt;
    }

    Expected<ChapterList> finish()
    {
        if (MaybeFailure failure = finishTrack())
            return *failure;
        return chaptersFound(m_request, m_chapters);
    }

private:
    MaybeFailure takeIndex(const QString &rest, qint64 line)
    {
        static const QRegularExpression blanks(QStringLiteral("\\s+"));
        const QStringList fields = rest.split(blanks, Qt::SkipEmptyParts);
        if (fields.size() != 2 || !decimalNumber(fields[0]))
            return badInput(m_request, line, Reason::tr("INDEX \"%1\" is not a number and a time mm:ss:ff").arg(rest));
        const std::optional<qint64> startMs = indexMilliseconds(fields[1]);
        if (!startMs)
            return badInput(m_request, line, Reason::tr("INDEX time \"%1\" is not mm:ss:ff").arg(fields[1]));
        if (*decimalNumber(fields[0]) != 1)
            return std::nullopt;
        m_track->startMs = startMs;
        m_track->startLine = line;
        return std::nullopt;
    }

    MaybeFailure finishTrack()
    {
        if (!m_track)
            return std::nullopt;
        const Track track = *std::exchange(m_track, std::nullopt);
        if (!track.startMs)
            return badInput(m_request, track.line, Reason::tr("a TRACK without INDEX 01"));
        m_chapters.append({*track.startMs, track.title, track.startLine, std::nullopt, m_media});
        return std::nullopt;
    }

    const ReadRequest &m_request;
    ChapterList m_chapters;
    std::optional<Track> m_track;
    qint64 m_fileLine = 0; // of the FILE line; 0 before it
    QString m_media; // the FILE's name
};

// The FILE line of a sheet whose chapters are in media (empty: the input names none).
QString fileLine(QStringView media, const QString &inputPath)
{
    const QString name = !media.isEmpty() ? media.toString() : QFileInfo(inputPath).completeBaseName() + u".wav";
    const QString suffix = QFileInfo(name).suffix().toLower();
    const QStringView type = suffix == u"mp3" ? u"MP3" : suffix == u"aif" || suffix == u"aiff" ? u"AIFF" : u"WAVE";
    return u"FILE \"" + name + u"\" " + type + u"\r\n";
}

// mm:ss:ff, minutes of any number of digits.
void appendIndexTime(QString &text, qint64 frames)
{
    appendPadded(text, frames / (kFramesPerSecond * 60), 2);
    text += u':';
    appendPadded(text, frames / kFramesPerSecond % 60, 2);
    text += u':';
    appendPadded(text, frames % kFramesPerSecond, 2);
}

class CueSheetWriter : public ChapterWriter
{
public:
    CueSheetWriter(EncodedOutput &output, const QString &inputPath) : m_output(output), m_inputPath(inputPath) { }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        QString &text = m_output.text();
        if (number == 1)
            text += fileLine(start.media, m_inputPath);
        text += u"  TRACK ";
        appendPadded(text, number, 2);
        text += u" AUDIO\r\n    TITLE \""; // quotes in the title stay: readers take the outer ones
        m_frames = (*start.milliseconds * 3 + 20) / 40; // 75 / 1000 a millisecond, to the nearest
    }

    void appendTitle(QStringView piece) override { appendOnOneLine(m_output.text(), piece); }

    void endChapter() override
    {
        QString &text = m_output.text();
        text += u"\"\r\n    INDEX 01 ";
        appendIndexTime(text, m_frames);
        text += u"\r\n";
        m_output.flushIfFull();
    }

    bool finish() override { return m_output.finish(); }

private:
    EncodedOutput &m_output;
    QString m_inputPath;
    qint64 m_frames = 0; // of the chapter begun
};

} // namespace

int probeCueSheet(QByteArrayView head)
{
    int stage = 0; // FILE, TRACK and INDEX seen in order: 3
    const QStringList order = {QStringLiteral("FILE"), QStringLiteral("TRACK"), QStringLiteral("INDEX")};
    QStringList lines = headLines(head);
    cutAtEndOfFileMark(lines);
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const Command cue = command(line);
        if (!isCueKeyword(cue.keyword))
            return 0;
        if (stage < order.size() && cue.keyword == order[stage])
            ++stage;
    }
    return stage == order.size() ? 80 : 0;
}

Expected<ChapterList> readCueSheet(const ReadRequest &request)
{
    Expected<QStringList> lines = readTextLines(request);
    if (!lines)
        return lines.error();
    cutAtEndOfFileMark(*lines);
    SheetReader sheet(request);
    for (qsizetype i = 0; i < lines->size(); ++i) {
        if (MaybeFailure failure = sheet.take(command(lines->at(i)), i + 1))
            return *failure;
    }
    return sheet.finish();
}

std::unique_ptr<ChapterWriter> makeCueSheetWriter(EncodedOutput &output, const QString &inputPath)
{
    return std::make_unique<CueSheetWriter>(output, inputPath);
}

} // namespace Tessaline
