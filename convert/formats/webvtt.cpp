#include "webvtt.h"

#include "textformat.h"

#include <QRegularExpression>

namespace Tessaline {

namespace {

constexpr QStringView kArrow = u"-->";

// WEBVTT alone, or followed by a space or a tab and anything.
bool isSignature(QStringView line)
{
    return line.startsWith(u"WEBVTT") && (line.size() == 6 || line[6] == u' ' || line[6] == u'\t');
}

// A block the file carries besides cues: a keyword alone or followed by a space, tab or line end.
bool isOtherBlock(QStringView firstLine)
{
    for (const QStringView keyword : {u"NOTE", u"STYLE", u"REGION"}) {
        if (firstLine.startsWith(keyword)
            && (firstLine.size() == keyword.size() || firstLine[keyword.size()] == u' '
                || firstLine[keyword.size()] == u'\t'))
            return true;
    }
    return false;
}

// A cue time [hh:]mm:ss.ttt in milliseconds.
std::optional<qint64> cueMilliseconds(QStringView time)
{
    static const QRegularExpression shape(QStringLiteral("^(?:(\\d{2,9}):)?([0-5]\\d):([0-5]\\d)\\.(\\d{3})$"));
    const QRegularExpressionMatch match = shape.match(time);
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 hours = match.hasCaptured(1) ? *decimalNumber(match.capturedView(1)) : 0;
    return ((hours * 60 + *decimalNumber(match.capturedView(2))) * 60 + *decimalNumber(match.capturedView(3))) * 1000
        + *decimalNumber(match.capturedView(4));
}

// The start of a timing line "start --> end [settings]", when both times can be read.
std::optional<qint64> cueStart(QStringView line)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    const qsizetype arrow = line.indexOf(kArrow);
    const QStringView before = line.left(arrow).trimmed();
    const QStringView after = line.mid(arrow + kArrow.size()).trimmed();
    const qsizetype endOfEnd = after.indexOf(blanks);
    const std::optional<qint64> start = cueMilliseconds(before);
    const std::optional<qint64> end = cueMilliseconds(endOfEnd < 0 ? after : after.left(endOfEnd));
    return start && end ? start : std::nullopt;
}

} // namespace

int probeWebVtt(QByteArrayView head)
{
    const QStringList lines = headLines(head.first(std::min<qsizetype>(head.size(), 64)));
    return !lines.isEmpty() && isSignature(lines.first()) ? 100 : 0;
}

Expected<ChapterList> readWebVtt(const ReadRequest &request)
{
    const Expected<QStringList> lines = readTextLines(request);
    if (!lines)
        return lines.error();
    if (lines->isEmpty() || !isSignature(lines->first()))
        return badInput(request, 1, QStringLiteral("the first line is not WEBVTT"));
    ChapterList chapters;
    qsizetype i = 1;
    const auto skipBlock = [&] {
        while (i < lines->size() && !lines->at(i).isEmpty())
            ++i;
    };
    skipBlock(); // the header's further lines
    while (i < lines->size()) {
        if (lines->at(i).isEmpty()) {
            ++i;
            continue;
        }
        if (isOtherBlock(lines->at(i))) {
            skipBlock();
            continue;
        }
        if (!lines->at(i).contains(kArrow) && i + 1 < lines->size())
            ++i; // the cue's identifier
        if (!lines->at(i).contains(kArrow)) // where the timing line should be
            return badInput(request, i + 1,
                            QStringLiteral("a block that is neither a cue nor a NOTE, STYLE or REGION"));
        const std::optional<qint64> start = cueStart(lines->at(i));
        if (!start)
            return badInput(request, i + 1,
                            u"the timing line \"" + lines->at(i) + u"\" is not [hh:]mm:ss.ttt --> [hh:]mm:ss.ttt");
        ++i;
        chapters.append({*start, i < lines->size() ? lines->at(i) : QString()});
        skipBlock();
    }
    return chaptersFound(request, chapters);
}

} // namespace Tessaline
