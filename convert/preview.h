#pragma once

// What a file would become, shown before a run: its first chapters as they would be written.

#include "failure.h"

#include <QList>
#include <QString>

#include <optional>

namespace Tessaline {

struct RunContext;

// A chapter as a conversion would write it. What is "as it will be written" is what the output
// holds: in ANSI output, a character the code page cannot represent is the '?' it becomes.
struct ChapterPreviewRow
{
    qsizetype number = 0; // from 1
    QString timeRead; // as the file gives it
    QString timeWritten; // HH:MM:SS.mmm, as it will be written
    QString title; // as it will be written, on one line
    // The times in milliseconds; none for a time copied as it stands that is no time.
    std::optional<qint64> readMs {};
    std::optional<qint64> writtenMs {};
    // When the run snaps to keyframes: the time before snapping (retimed and offset), and, for a
    // chapter left where it was, why (notSnappedText); empty otherwise.
    QString timeUnsnapped {};
    QString notSnapped {};
};

// What a file would become: the format it is read as, and its chapters.
struct FilePreview
{
    QString format; // the input format's name; "simple" for simple text
    QList<ChapterPreviewRow> rows; // the first chapters, as many as asked for
    qsizetype chapters = 0; // all of them
};

// Reads and changes a file as ConvertEntry would, writing nothing: its first limit chapters as
// they would be written, or why the file would fail.
Expected<FilePreview> previewEntry(const QString &inputPath, RunContext &run, qsizetype limit);

} // namespace Tessaline
