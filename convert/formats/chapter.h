#pragma once

#include "failure.h"

#include <QList>
#include <QString>

#include <optional>

namespace Tessaline {

// One chapter as every reader yields it: where it starts and its title as the file holds it
// (line ends included, where the format allows them).
struct Chapter
{
    qint64 startMs = 0; // milliseconds from the start of the video
    QString title;
    qint64 line = 0; // the line its start was read from, counted from 1; 0 for formats without lines
    // Where it ends (ms), where the input says: a cue's or a container's chapter end; for the last
    // chapter of a playlist or a DVD title, where the playlist or title ends.
    std::optional<qint64> endMs {};
    // The media file its times are in, as the input names it: a CUE sheet's FILE, a media file's
    // own name; empty where the input names none.
    QString media {};

    friend bool operator==(const Chapter &, const Chapter &) = default;
};

using ChapterList = QList<Chapter>;

// What a reader is asked for beyond the file itself.
struct ReadSettings
{
    int edition = 1; // Matroska: the edition to read, counted from 1
    int title = 0; // DVD: the title of the title set to read, counted from 1; 0: the longest
};

// A time of ticks × numerator / denominator seconds in milliseconds, rounded to the nearest
// millisecond, half a millisecond to the even one; exact for any 64-bit ticks and time base.
// Nothing when the result does not fit in 64 bits or the time base is not positive; never
// undefined, whatever the arguments.
std::optional<qint64> roundedMilliseconds(qint64 ticks, qint64 numerator, qint64 denominator);

// Chapters at the given starts, in ticks of 1/ticksPerSecond s, titled "Chapter 01", "Chapter 02",
// …: for playlists and discs, whose chapters have no titles of their own. The last ends at end.
ChapterList numberedChapters(const QList<qint64> &starts, qint64 ticksPerSecond, qint64 end);

// The chapters read from a media file, each naming that file (by its name alone) as its media.
Expected<ChapterList> inMediaFile(Expected<ChapterList> chapters, const QString &path);

} // namespace Tessaline
