#pragma once

#include "convertoptions.h"
#include "failure.h"
#include "formats/chapter.h"
#include "preview.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// Editing a file's chapters before they are written: the chapters read for editing and what
// identifies the file they were read from, the times typed, and what the edited chapters become
// under a run's options. The window keeps the edits and their undo; this is what they act on.
namespace Tessaline {

struct RunContext;

// The most chapters a file may hold to be edited: they are held in memory while it is, with a
// row of the table each.
constexpr qsizetype kMostEditedChapters = 100'000;

// What identifies a file's content as it was read: its size, modification time and a hash of
// its bytes (SHA-256 of all of them up to kWholeHashBytes, else of the first and last
// kHashedEndBytes, so that a large video is not read whole at every "Save").
struct FileStamp
{
    qint64 size = 0; // bytes
    QDateTime modified;
    QByteArray hash;
};

constexpr qint64 kWholeHashBytes = 64 << 20;
constexpr qint64 kHashedEndBytes = 16 << 20;

// The stamp of a regular file now, or why it cannot be read.
Expected<FileStamp> stampOf(const QString &path);

// Whether a file's content may differ from what its earlier stamp was taken of: another size or
// hash, or, for a file hashed in part only, another modification time. The same bytes written
// again (or a file touched) are the same content.
bool contentChanged(const FileStamp &earlier, const FileStamp &now);

// A chapter in the editor. A time typed that is no time is kept as typed (unreadTime), so that
// it can be seen and corrected; chapter.startMs then holds the time before.
struct EditedChapter
{
    Chapter chapter; // line 0: an edited file's chapters are known by their numbers
    QString unreadTime; // empty: chapter.startMs is the time

    friend bool operator==(const EditedChapter &, const EditedChapter &) = default;
};

// A file's chapters read for editing.
struct ChaptersForEditing
{
    QList<EditedChapter> chapters;
    bool simpleText = false; // retimed as simple text is (see ChapterChange)
    FileStamp stamp; // taken before the file was read, so that a change while it is read shows
};

// Reads a file as a run with these options reads it (its format, code page, edition or title):
// its chapters for editing, or why it cannot be read; a file of more than kMostEditedChapters
// fails as TooManyToEdit. Simple text is read whole into the list, as no conversion reads it.
Expected<ChaptersForEditing> readForEditing(const QString &path, const ConvertOptions &options);

// A time as the table shows it and it is typed: HH:MM:SS.mmm, hours of two digits or more (up to
// 10), minutes and seconds below 60. Its milliseconds, or nothing when the text is not one.
std::optional<qint64> parseChapterTime(QStringView text);

// The chapter with a time typed into it: the time, or the text kept when it is not one.
EditedChapter withTypedTime(EditedChapter chapter, const QString &text);

// The chapter inserted after row: at its time (or its text, when that is no time), untitled; at
// 00:00:00.000 before the first chapter (row -1).
EditedChapter newChapterAfter(const QList<EditedChapter> &chapters, qsizetype row);

// A chapter of edited chapters as a run writes it: the row, and why its time cannot be written
// (UnreadableTime: a time typed that is none, detail the text; TimeOutOfRange: a time the output
// cannot hold once retimed and offset, detail the time), naming its chapter.
struct EditedRow
{
    ChapterPreviewRow written; // timeWritten empty with a problem
    MaybeFailure problem;
};

// What edited chapters become under the run's options, through the change stage that changes
// chapters read (retiming, offset, the names box), a row per chapter.
QList<EditedRow> previewEditedChapters(const QList<EditedChapter> &chapters, bool simpleText, RunContext &run);

// The problems of the rows, in order.
QList<Failure> problemsOf(const QList<EditedRow> &rows);

// What a run writes for an edited file in place of what the file holds. A time typed that is no
// time fails the file, as UnreadableTime of its chapter, before anything is written.
struct EditedChapters
{
    QList<EditedChapter> chapters;
    bool simpleText = false;
};

// The chapters to write, or the first chapter whose typed time is no time.
Expected<ChapterList> chaptersToWrite(const QList<EditedChapter> &chapters);

} // namespace Tessaline
