#include "conversion.h"

#include "chapterlist.h"
#include "chapterwriter.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Tessaline {

namespace {

// Takes bytes and keeps none: where a dry run writes.
class DiscardingDevice : public QIODevice
{
protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override { return size; }
};

Failure failureOf(Failure::Kind kind, const QString &path, const QString &detail = {})
{
    return Failure {kind, path, 0, detail};
}

// A failure with the system's reason: errno's, when the reason is the system's text for it.
Failure systemFailureOf(Failure::Kind kind, const QString &path, const QString &reason, int error)
{
    return Failure {kind, path, 0, reason, -1, systemErrorOf(reason, error)};
}

// An opened chapter file, and which file it is, so that its output is never the same file.
struct InputFile
{
    std::unique_ptr<QFile> file;
#ifdef Q_OS_UNIX
    dev_t device = 0;
    ino_t inode = 0;
#endif
};

#ifdef Q_OS_UNIX
// Opens first and then looks at what was opened, so that nothing can be swapped in between.
// O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
Expected<InputFile> openInput(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return systemFailureOf(Failure::Kind::ReadFailed, path, qt_error_string(error), error);
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return systemFailureOf(Failure::Kind::ReadFailed, path, qt_error_string(error), error);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return failureOf(S_ISDIR(status.st_mode) ? Failure::Kind::IsFolder : Failure::Kind::IsSpecialFile, path);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    InputFile input {std::make_unique<QFile>(), status.st_dev, status.st_ino};
    if (!input.file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failureOf(Failure::Kind::ReadFailed, path, input.file->errorString());
    }
    return input;
}

MaybeFailure checkOutputPath(const QString &outputPath, const InputFile &input)
{
    struct stat status;
    if (::lstat(QFile::encodeName(outputPath).constData(), &status) != 0)
        return std::nullopt; // nothing there yet (or nothing that can be looked at: open will say)
    if (S_ISLNK(status.st_mode))
        return failureOf(Failure::Kind::OutputIsLink, outputPath);
    if (status.st_dev == input.device && status.st_ino == input.inode)
        return failureOf(Failure::Kind::OutputIsInput, outputPath);
    return std::nullopt;
}
#else
Expected<InputFile> openInput(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return failureOf(Failure::Kind::IsFolder, path);
    if (info.exists() && !info.isFile())
        return failureOf(Failure::Kind::IsSpecialFile, path);
    InputFile input {std::make_unique<QFile>(path)};
    if (!input.file->open(QIODevice::ReadOnly))
        return failureOf(Failure::Kind::ReadFailed, path, input.file->errorString());
    return input;
}

MaybeFailure checkOutputPath(const QString &outputPath, const InputFile &input)
{
    const QFileInfo output(outputPath);
    if (output.isSymLink())
        return failureOf(Failure::Kind::OutputIsLink, outputPath);
    if (output.exists() && output.canonicalFilePath() == QFileInfo(*input.file).canonicalFilePath())
        return failureOf(Failure::Kind::OutputIsInput, outputPath);
    return std::nullopt;
}
#endif

// Converts the opened input into device; the chapter count, or the failure, which names the
// input, or outputPath when writing failed.
Expected<qsizetype> convertInto(QIODevice &device, QIODevice &input, RunContext &run, const QString &inputPath,
                                const QString &outputPath)
{
    TextLineReader reader(input, run.codePage);
    EncodedOutput output(device, outputForm(run.options), &run.codePage);
    const std::unique_ptr<ChapterWriter> writer = makeChapterWriter(run.options, output);
    Expected<qsizetype> chapters = ConvertFile(reader, run.options, run.titles, *writer);
    if (chapters && !writer->finish())
        return systemFailureOf(Failure::Kind::WriteFailed, outputPath, output.error(), output.systemError());
    if (!chapters) {
        Failure failure = chapters.error();
        failure.path = inputPath;
        return failure;
    }
    return chapters;
}

} // namespace

bool isChapterListPath(QStringView path)
{
    // A root ("/", "C:\\") ends in a separator, so it never passes.
    return path.endsWith(u".txt");
}

std::optional<QString> OutputPathFor(const QString &inputPath, ChapterFormat format)
{
    if (!isChapterListPath(inputPath))
        return std::nullopt;
    switch (format) {
    case ChapterFormat::Matroska:
        return inputPath.chopped(4) + u"_new.xml";
    case ChapterFormat::Ffmetadata:
        return inputPath.chopped(4) + u"_new.ffmetadata";
    case ChapterFormat::Simple:
        break;
    }
    return inputPath.chopped(4) + u"_new.txt";
}

Expected<RunContext> prepareRun(const ConvertOptions &options)
{
    Expected<CodePage> codePage = CodePage::open(options.codePage);
    if (!codePage)
        return codePage.error();
    return RunContext {options, std::move(*codePage), titlesFor(options)};
}

Expected<QByteArray> convertBytes(QByteArrayView input, RunContext &run)
{
    QBuffer in;
    in.setData(input.data(), input.size());
    in.open(QIODevice::ReadOnly);
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    const Expected<qsizetype> chapters = convertInto(out, in, run, {}, {});
    if (!chapters)
        return chapters.error();
    return bytes;
}

Expected<EntryResult> ConvertEntry(const QString &inputPath, RunContext &run)
{
    const std::optional<QString> outputPath = OutputPathFor(inputPath, run.options.format);
    if (!outputPath)
        return failureOf(Failure::Kind::NotChapterListName, inputPath);
    Expected<InputFile> input = openInput(inputPath);
    if (!input)
        return input.error();

    if (run.options.destination != Destination::BesideInput) {
        // A dry run writes nowhere; standard output has no path to name when writing fails.
        const bool dryRun = run.options.destination == Destination::Nowhere;
        DiscardingDevice nowhere;
        QFile standardOutput;
        if (dryRun)
            nowhere.open(QIODevice::WriteOnly);
        else
            standardOutput.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
        const Expected<qsizetype> chapters = convertInto(dryRun ? static_cast<QIODevice &>(nowhere) : standardOutput,
                                                         *input->file, run, inputPath, {});
        if (!chapters)
            return chapters.error();
        return EntryResult {dryRun ? *outputPath : QString(), *chapters};
    }

    if (MaybeFailure refused = checkOutputPath(*outputPath, *input))
        return *refused;
    // QSaveFile writes beside the target and renames over it only once everything is written,
    // so a failure leaves an earlier file as it was.
    QSaveFile file(*outputPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return systemFailureOf(Failure::Kind::WriteFailed, *outputPath, file.errorString(), errno);
    const Expected<qsizetype> chapters = convertInto(file, *input->file, run, inputPath, *outputPath);
    if (!chapters) {
        file.cancelWriting();
        return chapters.error();
    }
    if (!file.commit())
        return systemFailureOf(Failure::Kind::WriteFailed, *outputPath, file.errorString(), errno);
    return EntryResult {*outputPath, *chapters};
}

ConvertReport ConvertAll(const QStringList &files, const ConvertOptions &options, const RunControl &control)
{
    ConvertReport report;
    Expected<RunContext> run = prepareRun(options);
    if (!run) {
        report.runFailure = run.error();
        return report;
    }
    for (qsizetype done = 0; done < files.size(); ++done) {
        const QString &file = files[done];
        if (control.progress)
            control.progress(done, files.size(), file);
        if (control.stop && control.stop->load()) {
            report.cancelled = true;
            report.notConverted = files.size() - done;
            break;
        }
        const Expected<EntryResult> result = control.undecodableNames.contains(done)
            ? Expected<EntryResult>(failureOf(Failure::Kind::UndecodableName, file))
            : ConvertEntry(file, *run);
        if (!result) {
            report.failures.append(result.error());
            continue;
        }
        ++report.converted;
        if (options.UseNameBox && result->chapters != run->titles.size())
            report.titleMismatches.append({file, result->chapters, run->titles.size()});
    }
    return report;
}

} // namespace Tessaline
