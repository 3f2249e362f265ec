#include "timestamplist.h"

#include "failurereason.h"
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

} // namespace Tessaline
