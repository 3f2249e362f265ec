#pragma once

#include "chapteredits.h"
#include "codepage.h"
#include "convertoptions.h"
#include "failure.h"
#include "keyframes.h"
#include "preview.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QFile;

// Converting chapter files: each listed file is read, converted and written beside itself as
// "<name>_new.txt".
namespace Tessaline {

// Whether a path names a chapter file: it ends in ".txt", in exactly that case.
bool isChapterListPath(QStringView path);

// Whether a file is taken into a list of files to convert (a drop, "Add files…", the window's
// command line): a ".txt" name (isChapterListPath) is taken by its name alone, without reading;
// any other only when it is a regular file whose first bytes (as probedFormat reads them) an input
// format's probe claims. A FIFO, device or folder is never opened for reading, so nothing blocks.
bool isChapterSource(const QString &path);

// The output path of an input: its last extension becomes "_new" and the format's extension
// (OutputFormat::extension: "film.txt" gives "film_new.txt", "00800.mpls" with Matroska XML
// "00800_new.xml"; a name
// without an extension gets them added), beside the input or, given outputFolder, there.
QString OutputPathFor(const QString &inputPath, ChapterFormat format = ChapterFormat::Simple,
                      const QString &outputFolder = {});

// The template of the temporary file an output is written to before it replaces the output:
// ".NAME.tessaline-XXXXXX" beside it (X: a random character), the name cut to fit 255 bytes. A
// run killed before the rename can leave such a file on file systems without unnamed files.
QString temporaryPathFor(const QString &outputPath);

// What every file of a run shares: its options, the code page opened once, the titles, and the
// keyframes read once.
struct RunContext
{
    ConvertOptions options;
    CodePage codePage;
    QStringList titles;
    std::optional<QList<qint64>> keyframes; // with snapKeyframes: the video's (ms, sorted)
};

// The run's context, or why no file can be converted: the code page cannot be used, or the video
// to snap to (the failure names it) cannot be read; progress hears of a video read whole.
Expected<RunContext> prepareRun(const ConvertOptions &options, const KeyframeProgress &progress = {});

// One converted file.
struct EntryResult
{
    QString outputPath; // where it went; empty for standard output
    qsizetype chapters = 0;
    qsizetype replacedCharacters = 0; // written as '?': the ANSI code page cannot represent them
    // The notes on what was written: on each chapter not snapped to a keyframe (notSnappedText),
    // then the writer's (ChapterWriter::warnings).
    QStringList warnings;
};

// Converts one file into its output. Only regular files are read (a FIFO, device or folder fails
// at once); an output path that is a symbolic link or the input itself is never written; the
// output is replaced only once it is whole, and a failure leaves an earlier output as it was. A
// dry run (Destination::Nowhere) checks the output as far as making its temporary file; standard
// output gets a file only once it is whole, up to 64 MiB, past which it is written as it comes.
// Given edited chapters, the file is opened but not read: those are changed as its own would be
// and written in its place.
Expected<EntryResult> ConvertEntry(const QString &inputPath, RunContext &run, const EditedChapters *edited = nullptr);

// Opens a regular file for reading, as ConvertEntry opens its input: a FIFO, device or folder
// fails at once, without waiting.
Expected<std::unique_ptr<QFile>> openRegularFile(const QString &path);

// Converts a chapter file held in memory into the bytes of its output.
Expected<QByteArray> convertBytes(QByteArrayView input, RunContext &run);

// The chapter files below a folder, for a recursive run, in path order, not following links to
// folders. With inputFormat empty or "simple": every "*.txt" but the "_new.txt" outputs of an
// earlier run. With the name of another input format: every file whose head (probeScore) that
// format's probe claims, but the outputs of an earlier run in any format written ("_new" and
// the format's extension: "_new.txt", "_new.xml", ...). A folder that cannot be read, a name that
// does not decode and, with another format, a file that cannot be looked at (not a regular file,
// a dangling link, no permission) come in their places as failures. One folder is open at a time, however deep the
// tree; the files of another format are opened one at a time once the walk is done.
QList<Expected<QString>> chapterFilesBelow(const QString &folder, QStringView inputFormat = {});

// The entries of a run (paths to convert, or why one cannot be), with each whose output may not be
// written replaced by its failure before anything is written: an output that is another input of
// the run (OutputIsAnotherInput), or that of another input too (OutputShared, every one of them,
// so that none wins by its place in the list). The same file listed twice, under any of its names,
// is no collision: both outputs hold the same bytes. Paths are compared as the system tells files
// apart: by the file's identity where it exists, else by the absolute path (case-insensitively on
// Windows). A run to standard output writes no file, and keeps its entries.
QList<Expected<QString>> refuseCollidingOutputs(QList<Expected<QString>> entries, const ConvertOptions &options);

// A file whose chapter count differs from the number of titles given for it.
struct TitleCountMismatch
{
    QString path;
    qsizetype chapters;
    qsizetype titles;
};

// A writer's note on a file it wrote (ChapterWriter::warnings).
struct FileWarning
{
    QString path; // the input
    QString text; // a reason, as the writer words it
};

// What a run did: how many files were written, and which failed and why, in list order.
struct ConvertReport
{
    int converted = 0;
    QList<Failure> failures;
    MaybeFailure runFailure; // nothing was converted: the run could not start
    QList<TitleCountMismatch> titleMismatches;
    QStringList replacedCharacters; // converted files whose output has a '?' for a character
                                    // that the ANSI code page cannot represent
    QList<FileWarning> warnings; // of the converted files, in list order
    bool cancelled = false; // the run was stopped before its last file
    qsizetype notConverted = 0; // files not started because of the stop
};

// The files of a run (as given to ConvertAll) that it converted: those it started and that did
// not fail.
QStringList convertedFiles(const QStringList &files, const ConvertReport &report);

// How a run reports its progress and learns that it is to stop. Both are used from the thread
// that runs ConvertAll.
struct RunControl
{
    // Called before each file: files done so far, all files, the file about to be converted.
    std::function<void(qsizetype done, qsizetype total, const QString &current)> progress;
    const std::atomic<bool> *stop = nullptr; // set: no further file is started
    // The files (by index) whose names did not decode, and so name another file or none: each
    // fails as UndecodableName without being looked up.
    QSet<qsizetype> undecodableNames;
    // The files (by index) that the user edited: their edited chapters are written in place of
    // what they hold (see ConvertEntry).
    QHash<qsizetype, EditedChapters> edited;
};

// Converts every file in order, but those whose outputs collide (refuseCollidingOutputs); a file
// that fails does not stop the others. A stop requested
// through control takes effect between files, so no file is left half-written.
ConvertReport ConvertAll(const QStringList &files, const ConvertOptions &options, const RunControl &control = {});

} // namespace Tessaline
