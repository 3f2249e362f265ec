#include "conversion.h"

#include "chapterlist.h"
#include "chapterwriter.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDir>

#include <fcntl.h>
#include <io.h>
#include <qt_windows.h>
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

// Standard output takes the bytes as they are: Windows' C library would otherwise write each
// LF as CR LF.
void openStandardOutput(QFile &file)
{
#ifndef Q_OS_UNIX
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    file.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
}

// An opened chapter file, and which file it is, so that its output is never the same file.
struct InputFile
{
    std::unique_ptr<QFile> file;
#ifdef Q_OS_UNIX
    dev_t device = 0;
    ino_t inode = 0;
#else
    DWORD volume = 0; // the volume's serial number
    quint64 index = 0; // the file's index on that volume
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
// Windows paths in Windows' separators, for the wide-character calls.
std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

Failure systemFailure(Failure::Kind kind, const QString &path, DWORD error)
{
    return failureOf(kind, path, qt_error_string(int(error)));
}

// Opens first and then looks at what was opened, so that nothing can be swapped in between.
// FILE_FLAG_BACKUP_SEMANTICS lets a folder open, to be named as one; a device (NUL, CON, and
// "NUL.txt", which is NUL too) or a pipe is not a disk file and is never read, so nothing blocks.
Expected<InputFile> openInput(const QString &path)
{
    const HANDLE handle
        = CreateFileW(nativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return systemFailure(Failure::Kind::ReadFailed, path, GetLastError());
    BY_HANDLE_FILE_INFORMATION information = {};
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return failureOf(Failure::Kind::IsSpecialFile, path);
    }
    if (!GetFileInformationByHandle(handle, &information)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        return systemFailure(Failure::Kind::ReadFailed, path, error);
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        CloseHandle(handle);
        return failureOf(Failure::Kind::IsFolder, path);
    }
    const int fd = _open_osfhandle(intptr_t(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return failureOf(Failure::Kind::ReadFailed, path, qt_error_string(errno));
    }
    InputFile input {std::make_unique<QFile>(), information.dwVolumeSerialNumber,
                     quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow};
    if (!input.file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        _close(fd);
        return failureOf(Failure::Kind::ReadFailed, path, input.file->errorString());
    }
    return input;
}

// A symbolic link or junction is a reparse point of its own tag; other reparse points (files
// kept in the cloud, deduplicated files) are ordinary files for this purpose.
bool isLink(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    const HANDLE handle
        = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return true; // a reparse point that cannot be looked at is not written through
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    const bool known = GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag);
    CloseHandle(handle);
    return !known || tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT;
}

// The same file is the same index on the same volume, whatever names (hard links) it has.
MaybeFailure checkOutputPath(const QString &outputPath, const InputFile &input)
{
    const std::wstring path = nativePath(outputPath);
    if (isLink(path))
        return failureOf(Failure::Kind::OutputIsLink, outputPath);
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt; // nothing there yet (or nothing that can be looked at: open will say)
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (known && information.dwVolumeSerialNumber == input.volume
        && (quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow) == input.index)
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
        return Failure {Failure::Kind::WriteFailed, outputPath, 0, output.error()};
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
            openStandardOutput(standardOutput);
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
        return failureOf(Failure::Kind::WriteFailed, *outputPath, file.errorString());
    const Expected<qsizetype> chapters = convertInto(file, *input->file, run, inputPath, *outputPath);
    if (!chapters) {
        file.cancelWriting();
        return chapters.error();
    }
    if (!file.commit())
        return failureOf(Failure::Kind::WriteFailed, *outputPath, file.errorString());
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
