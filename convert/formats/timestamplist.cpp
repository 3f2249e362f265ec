#include "timestamplist.h"

#include "chaptertime.h"
#include "chapterwriter.h"
#include "failurereason.h"
#include "simpletext.h"
#include "textformat.h"

#include <QRegularExpression>

namespace Tessaline {

namespace {

// [h:]m:ss, then a separator of spaces, tabs, dashes (-, en and em dash) or a bar, then
// the title. Minutes of an hour are below 60; without hours, any number of minutes.
const QRegularExpression &timestampLine()
{
    static const QRegularExpression line(QStringLiteral(
        "^\\s*(?:(\\d{1,6}):([0-5]?\\d)|(\\d{1,6})):([0-5]\\d)[\\s\\-\\x{2013}\\x{2014}|]+(\\S.*?)\\s*$"));
    return line;
}

std::optional<Chapter> timestampChapter(QStringView line)
{
    const QRegularExpressionMatch match = timestampLine().match(line);
    if (!match.hasMatch())
        return std::nullopt;
    const bool hasHours = match.hasCaptured(1);
    const qint64 hours = hasHours ? *decimalNumber(match.capturedView(1)) : 0;
    const qint64 minutes = *decimalNumber(match.capturedView(hasHours ? 2 : 3));
    const qint64 seconds = *decimalNumber(match.capturedView(4));
    return Chapter {((hours * 60 + minutes) * 60 + seconds) * 1000, match.captured(5)};
}

bool isBlank(QStringView line)
{
    return line.trimmed().isEmpty();
}

// What the video sites ask of a list before they take it as chapters.
constexpr qint64 kFewestChapters = 3;
constexpr qint64 kShortestChapterSeconds = 10;

// m:ss, or h:mm:ss from an hour on.
QString timestampText(qint64 seconds)
{
    QString text;
    if (seconds >= 3600) {
        text += QString::number(seconds / 3600) + u':';
        appendPadded(text, seconds / 60 % 60, 2);
    } else {
        text += QString::number(seconds / 60);
    }
    text += u':';
    appendPadded(text, seconds % 60, 2);
    return text;
}

class TimestampListWriter : public ChapterWriter
{
public:
    explicit TimestampListWriter(EncodedOutput &output) : m_output(output) { }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        const qint64 seconds = *start.milliseconds / 1000;
        if (number == 1 && seconds != 0)
            m_warnings.append(Reason::tr("the video sites want the first timestamp at 0:00; the first chapter "
                                         "starts at %1")
                                  .arg(timestampText(seconds)));
        if (m_last)
            checkLength(seconds);
        m_last = Line {number, seconds, start.endMilliseconds};
        m_output.text() += timestampText(seconds);
        m_titled = false;
    }

    void appendTitle(QStringView piece) override
    {
        if (piece.isEmpty())
            return;
        if (!m_titled)
            m_output.text() += u' ';
        m_titled = true;
        appendOnOneLine(m_output.text(), piece);
        m_output.flushIfFull();
    }

    void endChapter() override
    {
        m_output.text() += u'\n';
        m_output.flushIfFull();
    }

    bool finish() override
    {
        if (m_last && m_last->end)
            checkLength(*m_last->end / 1000);
        const qsizetype chapters = m_last ? m_last->number : 0;
        if (chapters < kFewestChapters)
            m_warnings.append(Reason::tr("the video sites want %1 timestamps or more; the list has %2")
                                  .arg(kFewestChapters)
                                  .arg(chapters));
        return m_output.finish();
    }

    QStringList warnings() const override { return m_warnings; }

private:
    struct Line
    {
        qsizetype number;
        qint64 seconds; // as written
        std::optional<qint64> end; // ms, where the input says the chapter ends
    };

    // The last chapter written lasts until end (whole seconds).
    void checkLength(qint64 end)
    {
        if (end - m_last->seconds >= kShortestChapterSeconds)
            return;
        m_warnings.append(Reason::tr("the video sites want chapters of %1 s or more; chapter %2 runs from %3 to %4")
                              .arg(kShortestChapterSeconds)
                              .arg(m_last->number)
                              .arg(timestampText(m_last->seconds), timestampText(end)));
    }

    EncodedOutput &m_output;
    std::optional<Line> m_last;
    bool m_titled = false; // the line has its space before the title
    QStringList m_warnings;
};

} // namespace

int probeTimestampList(QByteArrayView head)
{
    bool any = false;
    for (const QString &line : headLines(head)) {
        if (isBlank(line))
            continue;
        if (!timestampChapter(line))
            return 0;
        any = true;
    }
    return any ? 50 : 0;
}

Expected<ChapterList> readTimestampList(const ReadRequest &request)
{
    const Expected<QStringList> lines = readTextLines(request);
    if (!lines)
        return lines.error();
    ChapterList chapters;
    for (qsizetype i = 0; i < lines->size(); ++i) {
        if (isBlank(lines->at(i)))
            continue;
        const std::optional<Chapter> chapter = timestampChapter(lines->at(i));
        if (!chapter)
            return badInput(request, i + 1, Reason::tr("the line does not start with a time [h:]m:ss and a title"));
        chapters.append({chapter->startMs, chapter->title, i + 1});
    }
    return chaptersFound(request, chapters);
}

std::unique_ptr<ChapterWriter> makeTimestampListWriter(EncodedOutput &output)
{
    return std::make_unique<TimestampListWriter>(output);
}

} // namespace Tessaline
