#pragma once

#include "chapterwriter.h"
#include "convertoptions.h"
#include "failure.h"
#include "formats/chapter.h"
#include "formats/outputformat.h"

#include <QStringList>

#include <optional>

namespace Tessaline {

// The characters of a bad line that a failure quotes.
constexpr qsizetype kQuotedLineLength = 60;

// The start of a line as a failure quotes it: kQuotedLineLength characters, then "…" when the
// line goes on.
QString quotedLineStart(QStringView head);

// The change stage of a conversion: what a run asks of every chapter, whatever format it was
// read from and is written in. Its start is retimed between frame rates and shifted by the
// offset, and must then fit the format written, as must the number of chapters, and is then
// snapped to a keyframe; its title is replaced by a line of the names. Reading and writing never
// see the options: this is where they stop.
class ChapterChange
{
public:
    // fromSimpleText: the chapters come from simple text, which is retimed whenever the options
    // ask for it; chapters of the other formats carry true times, retimed only when the options
    // say so for them too (retimeOtherFormats). keyframes: the times (ms, sorted) that starts are
    // snapped to, within the options' snapWindowMs; null: none.
    ChapterChange(const ConvertOptions &options, const QStringList &titles, bool fromSimpleText,
                  const QList<qint64> *keyframes = nullptr);

    // The start of a chapter read from a simple-text time field, copied as it stands when nothing
    // asks for its value; failures give the line and quote its start (lineHead).
    Expected<ChapterStart> startOf(QStringView field, QStringView lineHead, qint64 lineNumber) const;

    // The start of chapter number (from 1) read from another format, before snapping; failures
    // give the line it was read from, or else its number.
    Expected<qint64> startOf(const Chapter &chapter, qsizetype number) const;

    // The end of a chapter read from another format, changed as its start; nothing where the
    // input gives none or the change takes it out of the format's range.
    std::optional<qint64> endOf(const Chapter &chapter) const;

    // A start as written: ms (retimed and offset) snapped to a keyframe when the run asks for it;
    // text: as read.
    ChapterStart snapped(QStringView text, qint64 ms) const;

    // Why chapter number (from 1) cannot be written: the format written holds fewer chapters
    // (OutputFormat::mostChapters); nothing when it can.
    MaybeFailure tooManyChapters(qsizetype number) const;

    // The title that chapter number (from 1) takes in place of its own, if the names give one.
    std::optional<QStringView> replacedTitle(qsizetype number) const;

private:
    std::optional<qint64> changed(TimeFields time) const;

    const ConvertOptions &m_options;
    const QStringList &m_titles;
    const QList<qint64> *m_keyframes;
    bool m_retime;
    bool m_needsMilliseconds; // simple text copied as read otherwise
    const OutputFormat &m_format; // written
};

// The lines of a names text, separated by CR LF (a CR or LF on its own is part of a line); the
// empty text has none, and a CR LF at the end starts no further line ("a\r\n" is one line, "\r\n"
// one empty line).
QStringList nameLines(QStringView text);

// Line n (counted from 1) of the names (nameLines() of the names text); nothing when there are
// fewer lines.
std::optional<QStringView> NameFromText(const QStringList &names, qsizetype n);

// The titles a run puts in place of the files' own: a names file's lines, the names box's lines,
// or none.
QStringList titlesFor(const ConvertOptions &options);

// Writes chapters read from a format other than simple text, changed as the run asks: the
// number of chapters, or why one cannot be written.
Expected<qsizetype> writeChapters(const ChapterList &chapters, const ChapterChange &change, ChapterWriter &writer);

} // namespace Tessaline
