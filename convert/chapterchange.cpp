#include "chapterchange.h"

#include "failurereason.h"

#include <QtNumeric>

namespace Tessaline {

QString quotedLineStart(QStringView head)
{
    if (head.size() <= kQuotedLineLength)
        return head.toString();
    return head.first(kQuotedLineLength) + u'…';
}

ChapterChange::ChapterChange(const ConvertOptions &options, const QStringList &titles, bool fromSimpleText,
                             const QList<qint64> *keyframes)
    : m_options(options), m_titles(titles), m_keyframes(keyframes),
      m_retime(options.ShiftFrameRate && (fromSimpleText || options.retimeOtherFormats)),
      m_needsMilliseconds(m_retime || options.offsetMs != 0 || options.format != ChapterFormat::Simple || keyframes),
      m_format(outputFormatOf(options.format))
{ }

std::optional<qint64> ChapterChange::changed(TimeFields time) const
{
    std::optional<qint64> milliseconds
        = m_retime ? retimedMilliseconds(time, m_options.retiming) : std::optional(plainMilliseconds(time));
    // A time read from another format may be near the 64-bit limit: past it, it is out of range.
    if (milliseconds && qAddOverflow(*milliseconds, m_options.offsetMs, &*milliseconds))
        milliseconds.reset();
    if (!milliseconds || *milliseconds < 0 || *milliseconds > m_format.largestMs)
        return std::nullopt;
    return milliseconds;
}

Expected<ChapterStart> ChapterChange::startOf(QStringView field, QStringView lineHead, qint64 lineNumber) const
{
    if (!m_needsMilliseconds)
        return ChapterStart {field, std::nullopt};
    const auto failure = [&](Failure::Kind kind) { return Failure {kind, {}, lineNumber, quotedLineStart(lineHead)}; };
    const std::optional<TimeFields> fields = readTimeFields(field);
    if (!fields)
        return failure(Failure::Kind::UnreadableTime);
    const std::optional<qint64> milliseconds = changed(*fields);
    if (!milliseconds)
        return failure(Failure::Kind::TimeOutOfRange);
    ChapterStart start = snapped(field, *milliseconds);
    start.readMilliseconds = plainMilliseconds(*fields);
    return start;
}

Expected<qint64> ChapterChange::startOf(const Chapter &chapter, qsizetype number) const
{
    // Whole seconds and the rest, as a time field gives them; a negative time stays negative.
    const std::optional<qint64> moved = changed(TimeFields {chapter.startMs / 1000, chapter.startMs % 1000});
    if (!moved) {
        Failure failure {Failure::Kind::TimeOutOfRange, {}, chapter.line, chapterTimeText(chapter.startMs)};
        if (chapter.line == 0)
            failure.chapter = number;
        return failure;
    }
    return *moved;
}

std::optional<qint64> ChapterChange::endOf(const Chapter &chapter) const
{
    return chapter.endMs ? changed(TimeFields {*chapter.endMs / 1000, *chapter.endMs % 1000}) : std::nullopt;
}

ChapterStart ChapterChange::snapped(QStringView text, qint64 ms) const
{
    if (!m_keyframes)
        return {.text = text, .milliseconds = ms};
    // Snapped times move back by at most the window, onto a keyframe (never below 0): they still fit.
    const SnappedTime snap = snappedToKeyframe(ms, *m_keyframes, m_options.snapWindowMs);
    return {.text = text, .milliseconds = snap.toMs, .snap = snap};
}

MaybeFailure ChapterChange::tooManyChapters(qsizetype number) const
{
    if (m_format.mostChapters == 0 || number <= m_format.mostChapters)
        return std::nullopt;
    Failure failure {Failure::Kind::TooManyChapters,
                     {},
                     0,
                     Reason::tr("%1 holds at most %2 chapters").arg(m_format.caption).arg(m_format.mostChapters)};
    failure.chapter = number;
    return failure;
}

std::optional<QStringView> ChapterChange::replacedTitle(qsizetype number) const
{
    return NameFromText(m_titles, number);
}

QStringList nameLines(QStringView text)
{
    QStringList lines;
    // A line end after the last title starts no further title, as in a names file.
    if (text.endsWith(u"\r\n"))
        text.chop(2);
    else if (text.isEmpty())
        return lines;
    for (const QStringView line : text.split(u"\r\n"))
        lines.append(line.toString());
    return lines;
}

std::optional<QStringView> NameFromText(const QStringList &names, qsizetype n)
{
    if (n < 1 || n > names.size())
        return std::nullopt;
    return QStringView(names[n - 1]);
}

QStringList titlesFor(const ConvertOptions &options)
{
    if (!options.UseNameBox)
        return {};
    return options.nameFileLines ? *options.nameFileLines : nameLines(options.NameBoxText);
}

Expected<qsizetype> writeChapters(const ChapterList &chapters, const ChapterChange &change, ChapterWriter &writer)
{
    qsizetype number = 0;
    for (const Chapter &chapter : chapters) {
        ++number;
        if (MaybeFailure refused = change.tooManyChapters(number))
            return *refused;
        const Expected<qint64> start = change.startOf(chapter, number);
        if (!start)
            return start.error();
        const QString asRead = chapterTimeText(chapter.startMs);
        ChapterStart written = change.snapped(asRead, *start);
        written.readMilliseconds = chapter.startMs;
        written.endMilliseconds = change.endOf(chapter);
        written.media = chapter.media;
        writer.beginChapter(number, written);
        const std::optional<QStringView> name = change.replacedTitle(number);
        writer.appendTitle(name ? *name : QStringView(chapter.title));
        writer.endChapter();
    }
    return number;
}

} // namespace Tessaline
