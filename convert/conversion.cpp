#include "conversion.h"

#include "chapterchange.h"
#include "chapterlist.h"
#include "chapterwriter.h"
#include "formats/inputformat.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
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
    if (fd < 0)
        return failureOf(Failure::Kind::ReadFailed, path, qt_error_string(errno));
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return failureOf(Failure::Kind::ReadFailed, path, qt_error_string(error));
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

// The format to read a file as: the one the options name, else the one its content shows;
// nothing for simple text, which is what no probe claims. A file of no format read fails unless
// its name says it is a chapter list (".txt").
Expected<const InputFormat *> inputFormatOf(const QString &path, QIODevice &input, const ConvertOptions &options)
{
    if (options.inputFormat == u"simple")
        return nullptr;
    if (!options.inputFormat.isEmpty())
        return inputFormatNamed(options.inputFormat);
    const InputFormat *probed = probedFormat(input.peek(kProbeBytes));
    if (!probed && !isChapterListPath(path))
        return failureOf(Failure::Kind::NotChapterListName, path);
    return probed;
}

// Reads the opened input and hands its chapters, changed, to writer: the chapter count, or why
// the input cannot be converted.
Expected<qsizetype> convertChapters(QIODevice &input, const InputFormat *format, RunContext &run,
                                    const QString &inputPath, ChapterWriter &writer)
{
    const ChapterChange change(run.options, run.titles, !format);
    if (!format) {
        TextLineReader reader(input, run.codePage);
        return ConvertFile(reader, change, writer);
    }
    const Expected<ChapterList> read = format->read({inputPath, input, run.codePage, run.options.read});
    if (!read)
        return read.error();
    return writeChapters(*read, change, writer);
}

// Reads the opened input, changes its chapters and writes them into device: the chapter count,
// or the failure, which names the input, or outputPath when writing failed.
Expected<qsizetype> convertInto(QIODevice &device, QIODevice &input, const InputFormat *format, RunContext &run,
                                const QString &inputPath, const QString &outputPath)
{
    EncodedOutput output(device, outputForm(run.options.format, run.options.OutputEncoding), &run.codePage);
    const std::unique_ptr<ChapterWriter> writer = makeChapterWriter(run.options.format, run.options.language, output);
    Expected<qsizetype> chapters = convertChapters(input, format, run, inputPath, *writer);
    if (chapters && !writer->finish())
        return Failure {Failure::Kind::WriteFailed, outputPath, 0, output.error()};
    if (!chapters) {
        Failure failure = chapters.error();
        failure.path = inputPath;
        return failure;
    }
    return chapters;
}

// Keeps the first chapters as rows of a preview, and counts them all.
class PreviewWriter : public ChapterWriter
{
public:
    PreviewWriter(FilePreview &preview, qsizetype limit) : m_preview(preview), m_limit(limit) { }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        m_preview.chapters = number;
        m_row = number <= m_limit ? &m_preview.rows.emplace_back() : nullptr;
        if (!m_row)
            return;
        m_row->number = number;
        m_row->timeRead = start.text.toString();
        m_row->timeWritten = start.milliseconds ? chapterTimeText(*start.milliseconds) : m_row->timeRead;
    }

    void appendTitle(QStringView piece) override
    {
        if (m_row)
            appendOnOneLine(m_row->title, piece);
    }

    void endChapter() override { }
    bool finish() override { return true; }

private:
    FilePreview &m_preview;
    qsizetype m_limit;
    ChapterPreviewRow *m_row = nullptr;
};

} // namespace

bool isChapterListPath(QStringView path)
{
    // A root ("/", "C:\\") ends in a separator, so it never passes.
    return path.endsWith(u".txt");
}

QString OutputPathFor(const QString &inputPath, ChapterFormat format, const QString &outputFolder)
{
    // The file name starts after the last separator ('\\' separates on Windows only).
    const qsizetype nameStart = QDir::fromNativeSeparators(inputPath).lastIndexOf(u'/') + 1;
    const qsizetype dot = inputPath.lastIndexOf(u'.');
    QString path = dot >= nameStart ? inputPath.first(dot) : inputPath;
    switch (format) {
    case ChapterFormat::Matroska:
        path += u"_new.xml";
        break;
    case ChapterFormat::Ffmetadata:
        path += u"_new.ffmetadata";
        break;
    case ChapterFormat::Simple:
        path += u"_new.txt";
        break;
    }
    if (outputFolder.isEmpty())
        return path;
    return QDir::toNativeSeparators(QDir(outputFolder).filePath(path.sliced(nameStart)));
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
    const Expected<const InputFormat *> format = inputFormatOf(QStringLiteral(".txt"), in, run.options);
    if (!format)
        return format.error();
    const Expected<qsizetype> chapters = convertInto(out, in, *format, run, {}, {});
    if (!chapters)
        return chapters.error();
    return bytes;
}

Expected<EntryResult> ConvertEntry(const QString &inputPath, RunContext &run)
{
    Expected<InputFile> input = openInput(inputPath);
    if (!input)
        return input.error();
    const Expected<const InputFormat *> format = inputFormatOf(inputPath, *input->file, run.options);
    if (!format)
        return format.error();
    const QString outputPath = OutputPathFor(inputPath, run.options.format, run.options.outputFolder);

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
                                                         *input->file, *format, run, inputPath, {});
        if (!chapters)
            return chapters.error();
        return EntryResult {dryRun ? outputPath : QString(), *chapters};
    }

    if (MaybeFailure refused = checkOutputPath(outputPath, *input))
        return *refused;
    // QSaveFile writes beside the target and renames over it only once everything is written,
    // so a failure leaves an earlier file as it was.
    QSaveFile file(outputPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failureOf(Failure::Kind::WriteFailed, outputPath, file.errorString());
    const Expected<qsizetype> chapters = convertInto(file, *input->file, *format, run, inputPath, outputPath);
    if (!chapters) {
        file.cancelWriting();
        return chapters.error();
    }
    if (!file.commit())
        return failureOf(Failure::Kind::WriteFailed, outputPath, file.errorString());
    return EntryResult {outputPath, *chapters};
}

Expected<FilePreview> previewEntry(const QString &inputPath, RunContext &run, qsizetype limit)
{
    Expected<InputFile> input = openInput(inputPath);
    if (!input)
        return input.error();
    const Expected<const InputFormat *> format = inputFormatOf(inputPath, *input->file, run.options);
    if (!format)
        return format.error();
    FilePreview preview;
    preview.format = *format ? (*format)->name.toString() : QStringLiteral("simple");
    PreviewWriter writer(preview, limit);
    const Expected<qsizetype> chapters = convertChapters(*input->file, *format, run, inputPath, writer);
    if (!chapters) {
        Failure failure = chapters.error();
        failure.path = inputPath;
        return failure;
    }
    return preview;
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
        const Expected<EntryResult> result = ConvertEntry(file, *run);
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
