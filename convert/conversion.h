#pragma once

#include "codepage.h"
#include "convertoptions.h"
#include "failure.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

// Converting chapter files: each listed file is read, converted and written beside itself as
// "<name>_new.txt".
namespace Tessaline {

// Whether a path names a chapter file: it ends in ".txt", in exactly that case.
bool isChapterListPath(QStringView path);

// The output path beside the input: its final ".txt" (exact case) becomes "_new.txt" (or
// "_new.xml", "_new.ffmetadata" for the other formats). Nothing for a path that does not end in
// ".txt".
std::optional<QString> OutputPathFor(const QString &inputPath, ChapterFormat format = ChapterFormat::Simple);

// What every file of a run shares: its options, the code page opened once, and the titles.
struct RunContext
{
    ConvertOptions options;
    CodePage codePage;
    QStringList titles;
};

// The run's context, or why no file can be converted (the code page cannot be used).
Expected<RunContext> prepareRun(const ConvertOptions &options);

// One converted file.
struct EntryResult
{
    QString outputPath; // where it went; empty for standard output and nowhere
    qsizetype chapters = 0;
};

// Converts one file into its output. Only regular files are read (a FIFO, device or folder fails
// at once); an output path that is a symbolic link or the input itself is never written; the
// output is replaced only once it is whole, and a failure leaves an earlier output as it was.
Expected<EntryResult> ConvertEntry(const QString &inputPath, RunContext &run);

// Converts a chapter file held in memory into the bytes of its output.
Expected<QByteArray> convertBytes(QByteArrayView input, RunContext &run);

// A file whose chapter count differs from the number of titles given for it.
struct TitleCountMismatch
{
    QString path;
    qsizetype chapters;
    qsizetype titles;
};

// What a run did: how many files were written, and which failed and why, in list order.
struct ConvertReport
{
    int converted = 0;
    QList<Failure> failures;
    MaybeFailure runFailure; // nothing was converted: the run could not start
    QList<TitleCountMismatch> titleMismatches;
    bool cancelled = false; // the run was stopped before its last file
    qsizetype notConverted = 0; // files not started because of the stop
};

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
};

// Converts every file in order; a file that fails does not stop the others. A stop requested
// through control takes effect between files, so no file is left half-written.
ConvertReport ConvertAll(const QStringList &files, const ConvertOptions &options, const RunControl &control = {});

} // namespace Tessaline
