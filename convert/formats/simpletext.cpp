#include "simpletext.h"

#include "chapterchange.h"
#include "chaptertime.h"
#include "chapterwriter.h"
#include "failurereason.h"
#include "textlinereader.h"

#include <algorithm>

namespace Tessaline {

namespace {

constexpr qsizetype kTimeLength = 12; // HH:MM:SS.mmm
constexpr qsizetype kFixedTitleStart = 14; // after "CHAPTERnnNAME="

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

constexpr qsizetype kOtherShape = -1; // the line is not "CHAPTER<digits><tag>..."

// Where the field of a "CHAPTER<digits><tag>" line starts, so that chapter numbers of any width
// are read right; kOtherShape for a line of another shape. head is the start of the line read so
// far (wholeLine: all of it); nothing while it cannot tell yet.
std::optional<qsizetype> fieldStart(QStringView head, bool wholeLine, QStringView tag)
{
    constexpr QStringView prefix = u"CHAPTER";
    const qsizetype compared = std::min(head.size(), prefix.size());
    if (head.first(compared) != prefix.first(compared))
        return kOtherShape;
    if (compared < prefix.size())
        return wholeLine ? std::optional(kOtherShape) : std::nullopt;
    qsizetype position = prefix.size();
    while (position < head.size() && isAsciiDigit(head[position]))
        ++position;
    const QStringView rest = head.sliced(position);
    if (!wholeLine && rest.size() < tag.size() && tag.startsWith(rest))
        return std::nullopt; // more digits, or the tag, may follow
    if (position == prefix.size() || !rest.startsWith(tag))
        return kOtherShape;
    return position + tag.size();
}

// The start of a time line, held until its name line comes: enough for the time field and for
// quoting the line.
class TimeLine
{
public:
    void append(QStringView piece, bool endsLine)
    {
        if (m_complete)
            return;
        m_head += piece;
        const std::optional<qsizetype> start = fieldStart(m_head, endsLine, u"=");
        const bool laidOut = start && *start != kOtherShape;
        m_complete = endsLine
            || (start && m_head.size() >= std::max(laidOut ? *start + kTimeLength : 0, kQuotedLineLength + 1));
        m_laidOut = m_complete && laidOut;
        if (m_laidOut)
            m_field = QStringView(m_head).mid(*start, kTimeLength);
    }

    void clear()
    {
        m_head.resize(0); // keeps its capacity for the next chapter
        m_field = {};
        m_complete = false;
        m_laidOut = false;
    }

    // Nothing when the line is not laid out as "CHAPTER<digits>=".
    std::optional<QStringView> field() const { return m_laidOut ? std::optional(m_field) : std::nullopt; }
    QStringView head() const { return m_head; }

private:
    QString m_head;
    QStringView m_field;
    bool m_complete = false;
    bool m_laidOut = false;
};

// CHAPTERnn=HH:MM:SS.mmm and CHAPTERnnNAME=title, lines joined by CR LF, no line end after the
// last line.
class SimpleChapterWriter : public ChapterWriter
{
public:
    explicit SimpleChapterWriter(EncodedOutput &output) : m_output(output) { }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        QString &text = m_output.text();
        if (number > 1)
            text += u"\r\n";
        text += u"CHAPTER";
        appendPadded(text, number, 2);
        text += u'=';
        if (start.milliseconds)
            appendChapterTime(text, *start.milliseconds);
        else
            text += start.text;
        text += u"\r\nCHAPTER";
        appendPadded(text, number, 2);
        text += u"NAME=";
    }

    void appendTitle(QStringView piece) override
    {
        appendOnOneLine(m_output.text(), piece);
        m_output.flushIfFull();
    }

    void endChapter() override { m_output.flushIfFull(); }

    bool finish() override { return m_output.finish(); }

private:
    EncodedOutput &m_output;
};

// The start of the chapter whose time line is held, or why there is none: a line of another shape
// is no time line even where its time would only be copied, and a time may not be usable.
Expected<ChapterStart> chapterStart(const TimeLine &line, qint64 lineNumber, const ChapterChange &change)
{
    const std::optional<QStringView> field = line.field();
    if (!field)
        return Failure {
            Failure::Kind::BadInput,
            {},
            lineNumber,
            Reason::tr("not a time line (CHAPTERnn=HH:MM:SS.mmm): \"%1\"").arg(quotedLineStart(line.head()))};
    return change.startOf(*field, line.head(), lineNumber);
}

} // namespace

Expected<qsizetype> ConvertFile(TextLineReader &reader, const ChapterChange &change, ChapterWriter &writer)
{
    TimeLine timeLine;
    qint64 timeLineNumber = 0;
    qint64 lineNumber = 1; // of the line being read
    bool expectingName = false;
    // The start of a name line, until the title's place in it is known.
    QString nameHead;
    bool inTitle = false;
    bool titleFromFile = true;
    qsizetype chapters = 0;
    bool anyLine = false; // the file holds text: a line, if only an empty one

    while (const std::optional<LinePiece> piece = reader.nextPiece()) {
        anyLine = true;
        if (!expectingName) {
            timeLine.append(piece->text, piece->endsLine);
            if (piece->endsLine) {
                timeLineNumber = lineNumber++;
                expectingName = true;
            }
            continue;
        }
        if (inTitle) {
            if (titleFromFile)
                writer.appendTitle(piece->text);
        } else {
            nameHead += piece->text;
            const std::optional<qsizetype> shaped = fieldStart(nameHead, piece->endsLine, u"NAME=");
            const std::optional<qsizetype> start = shaped == kOtherShape ? kFixedTitleStart : shaped;
            if (start && (nameHead.size() >= *start || piece->endsLine)) {
                const Expected<ChapterStart> time = chapterStart(timeLine, timeLineNumber, change);
                if (!time)
                    return time.error();
                ++chapters;
                if (MaybeFailure refused = change.tooManyChapters(chapters)) {
                    refused->line = timeLineNumber;
                    return *refused;
                }
                writer.beginChapter(chapters, *time);
                const std::optional<QStringView> name = change.replacedTitle(chapters);
                titleFromFile = !name;
                writer.appendTitle(name ? *name : QStringView(nameHead).mid(*start));
                inTitle = true;
            }
        }
        if (piece->endsLine) {
            writer.endChapter();
            ++lineNumber;
            expectingName = false;
            inTitle = false;
            nameHead.resize(0);
            timeLine.clear();
        }
    }
    if (reader.failure())
        return *reader.failure();
    // An empty file (no bytes, or a byte order mark alone) is an empty list; any other text that
    // gives no chapter is not one.
    if (chapters == 0 && anyLine)
        return Failure {Failure::Kind::NoChapters, {}, 0, {}};
    return chapters;
}

std::unique_ptr<ChapterWriter> makeSimpleTextWriter(EncodedOutput &output)
{
    return std::make_unique<SimpleChapterWriter>(output);
}

void appendOnOneLine(QString &text, QStringView title)
{
    const auto isLineEnd = [](QChar c) { return c == u'\r' || c == u'\n'; };
    for (auto end = std::find_if(title.begin(), title.end(), isLineEnd); end != title.end();
         end = std::find_if(title.begin(), title.end(), isLineEnd)) {
        const qsizetype at = end - title.begin();
        text += title.first(at) + u' ';
        title = title.sliced(title.sliced(at).startsWith(u"\r\n") ? at + 2 : at + 1);
    }
    text += title;
}

} // namespace Tessaline
