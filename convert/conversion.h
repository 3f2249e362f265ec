#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

class QIODevice;

// Converting chapter files: each listed file is read, converted and written beside itself as
// "<name>_new.txt".
namespace Tessaline {

enum class OutputEncoding {
    Ansi,    // the ANSI code page, no byte order mark
    Unicode, // UTF-16LE after the byte order mark FF FE
};

// The settings of one run, taken from the window's controls when "Save" is pressed.
struct ConvertOptions
{
    bool ShiftFrameRate = true; // move times from 30 fps to 29.97 fps timing
    bool UseNameBox = false;    // replace titles by the lines of NameBoxText
    QString NameBoxText;        // one title a line, lines separated by CR LF
    Tessaline::OutputEncoding OutputEncoding = Tessaline::OutputEncoding::Unicode;
    int codePage = 1252; // the ANSI code page: for input without a byte order mark and the Ansi form
};

struct FileFailure
{
    QString path;
    QString reason;
};

// What a run did: how many files were written, and which failed and why, in list order.
struct ConvertReport
{
    int converted = 0;
    QList<FileFailure> failures;
    bool cancelled = false;     // the run was stopped before its last file
    qsizetype notConverted = 0; // files not started because of the stop
};

// How a run reports its progress and learns that it is to stop. Both are used from the thread
// that runs ConvertAll.
struct RunControl
{
    // Called before each file: files done so far, all files, the file about to be converted.
    std::function<void(qsizetype done, qsizetype total, const QString &current)> progress;
    const std::atomic<bool> *stop = nullptr; // set: no further file is started
};

// One file's outcome: the path written, or why nothing was written.
struct EntryResult
{
    QString outputPath;
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// The message a run ends with: text and title for a message box, and whether it warns.
struct CompletionMessage
{
    QString title;
    QString text;
    bool isWarning = false;
};

// The output path beside the input: its final ".txt" (exact case) becomes "_new.txt".
// Nothing for a path that does not end in ".txt".
std::optional<QString> OutputPathFor(const QString &inputPath);

// Writes chapter text in the chosen form to a device; false when a write fails.
bool writeChapterText(QIODevice &device, QStringView text, OutputEncoding encoding, int codePage);

// Writes chapter text to a file, replacing it whole, or leaving it as it was on failure.
// Returns the reason of a failure, or the empty string.
QString WriteChapterFile(const QString &outputPath, QStringView text, OutputEncoding encoding,
                         int codePage);

// Converts one file into its output path.
EntryResult ConvertEntry(const QString &inputPath, const ConvertOptions &options);

// Converts every file in order; a file that fails does not stop the others. A stop requested
// through control takes effect between files, so no file is left half-written.
ConvertReport ConvertAll(const QStringList &files, const ConvertOptions &options,
                         const RunControl &control = {});

// "已成功转换N个文件" under the title "成功"; when files failed, a warning that also lists them;
// when the run was cancelled, a warning that says how many files were left unconverted.
CompletionMessage completionMessage(const ConvertReport &report);

} // namespace Tessaline
