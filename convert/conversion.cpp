#include "conversion.h"

#include "chapterchange.h"
#include "chapterwriter.h"
#include "formats/inputformat.h"
#include "formats/simpletext.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <cerrno>
#include <filesystem>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else

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

constexpr qint64 kHeldOutputBytes = 64 << 20; // what standard output holds back until a file is whole

// Holds what is written until release(), so that a file that fails leaves nothing on the target;
// past kHeldOutputBytes it writes what it holds and then writes through.
class HoldingDevice : public QIODevice
{
public:
    explicit HoldingDevice(QIODevice &target) : m_target(target) { open(QIODevice::WriteOnly); }

    bool release()
    {
        m_passing = true;
        const bool written = m_target.write(m_held) == m_held.size();
        m_held.clear();
        if (!written)
            setErrorString(m_target.errorString());
        return written;
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (!m_passing && m_held.size() + size <= kHeldOutputBytes) {
            m_held.append(data, size);
            return size;
        }
        if (!release())
            return -1;
        const qint64 written = m_target.write(data, size);
        if (written != size)
            setErrorString(m_target.errorString());
        return written;
    }

private:
    QIODevice &m_target;
    QByteArray m_held;
    bool m_passing = false;
};

// The path as the system's calls take it.
std::filesystem::path systemPath(const QString &path)
{
#ifdef Q_OS_WIN
    return path.toStdWString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

#ifdef Q_OS_WIN
// Windows paths in Windows' separators, for the wide-character calls.
std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
#endif

// Writes an output under a temporary name beside it and renames it over the output only once
// it is whole and flushed to disk, as QSaveFile does, but under a name of its own
// (temporaryPathFor) that the user can tell apart. Where the file system offers unnamed files
// (O_TMPFILE) the temporary file has no name until it is complete. Windows moves no file that is
// open without FILE_SHARE_DELETE, as Qt opens files, and QTemporaryFile keeps its file open until
// it is destroyed; there the temporary file is a QFile under a fresh name, closed before the move.
class ReplacingFile
{
public:
    explicit ReplacingFile(const QString &path) : m_path(path) { }
#ifdef Q_OS_WIN
    ~ReplacingFile()
    {
        if (!m_committed && !m_temporary.fileName().isEmpty())
            m_temporary.remove();
    }
#endif

    bool open()
    {
        const QFileInfo existing(m_path);
        if (existing.isDir())
            return failed(errnoText(EISDIR), EISDIR);
        if (existing.exists() && !existing.isWritable())
            return failed(errnoText(EACCES), EACCES);
#ifdef Q_OS_UNIX
        m_temporary.setFileTemplate(temporaryPathFor(m_path));
        if (!m_temporary.open())
            return failedInLastCall(m_temporary.errorString());
        // A replaced output keeps its permissions; a new one gets what the umask leaves of 0666.
        struct stat status;
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(m_temporary.handle(),
                 ::stat(QFile::encodeName(m_path).constData(), &status) == 0 ? status.st_mode & 0777 : 0666 & ~mask);
#else
        if (!openFreshName())
            return false;
        if (existing.exists())
            m_temporary.setPermissions(existing.permissions());
#endif
        return true;
    }

    QIODevice &device()
    {
        return m_temporary;
    }

    bool commit()
    {
        if (!m_temporary.flush())
            return failedInLastCall(m_temporary.errorString());
#ifdef Q_OS_UNIX
        ::fdatasync(m_temporary.handle()); // not every file system can; the rename goes ahead
        const QString temporaryPath = m_temporary.fileName(); // gives an unnamed file its name
        std::error_code error;
        std::filesystem::rename(systemPath(temporaryPath), systemPath(m_path), error);
        if (error)
            return failedInLastCall(QString::fromLocal8Bit(error.message()));
#else
        if (!FlushFileBuffers(HANDLE(_get_osfhandle(m_temporary.handle()))))
            return failedInWindows(GetLastError());
        m_temporary.close();
        if (!MoveFileExW(nativePath(m_temporary.fileName()).c_str(), nativePath(m_path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return failedInWindows(GetLastError());
        m_committed = true;
#endif
#ifdef Q_OS_UNIX
        m_temporary.setAutoRemove(false);
#endif
        return true;
    }

    // Why open() or commit() failed, and errno's value for it (0: none, see Failure).
    const QString &errorString() const
    {
        return m_error;
    }
    int systemError() const
    {
        return m_systemError;
    }

private:
    bool failed(const QString &error, int systemError)
    {
        m_error = error;
        m_systemError = systemError;
        return false;
    }
    bool failedInLastCall(const QString &error)
    {
        return failed(error, systemErrorOfLastCall(error));
    }
#ifdef Q_OS_WIN
    bool failedInWindows(DWORD error)
    {
        return failed(qt_error_string(int(error)), windowsErrorToErrno(error));
    }

    // Creates the temporary file under temporaryPathFor()'s name with random letters for its
    // XXXXXX, never opening a file that is there already.
    bool openFreshName()
    {
        static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        QString name = temporaryPathFor(m_path);
        for (int attempt = 0; attempt < 100; ++attempt) {
            for (qsizetype i = name.size() - 6; i < name.size(); ++i)
                name[i] = QLatin1Char(kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))]);
            m_temporary.setFileName(name);
            if (m_temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                return true;
            const QString error = m_temporary.errorString();
            const int systemError = systemErrorOfLastCall(error);
            if (!QFileInfo::exists(name)) {
                m_temporary.setFileName({}); // nothing of ours to remove
                return failed(error, systemError);
            }
        }
        m_temporary.setFileName({});
        return failed(errnoText(EEXIST), 0);
    }
#endif

    QString m_path;
#ifdef Q_OS_UNIX
    QTemporaryFile m_temporary; // removed when not renamed into place
#else
    QFile m_temporary; // removed by the destructor when not moved into place
    bool m_committed = false;
#endif
    QString m_error;
    int m_systemError = 0;
};

Failure failureOf(Failure::Kind kind, const QString &path, const QString &detail = {})
{
    return Failure {kind, path, 0, detail};
}

// A failure with the system's reason, and errno's value for that reason (0: none).
Failure systemFailureOf(Failure::Kind kind, const QString &path, const QString &reason, int error)
{
    return Failure {kind, path, 0, reason, -1, error};
}

// A failure of inputPath's output, with the system's reason and errno's value for it where there is one.
Failure outputFailureOf(Failure::Kind kind, const QString &inputPath, const QString &outputPath,
                        const QString &reason = {}, int error = 0)
{
    return Failure {kind, inputPath, 0, reason, -1, error, outputPath};
}

// Standard output takes the bytes as they are: Windows' C library would otherwise write each
// LF as CR LF. They go to its descriptor, past the C library's buffer, whose failure to write
// them at the end would be known to nobody.
void openStandardOutput(QFile &file)
{
#ifdef Q_OS_UNIX
    const int descriptor = STDOUT_FILENO;
#else
    const int descriptor = _fileno(stdout);
    _setmode(descriptor, _O_BINARY);
#endif
    file.open(descriptor, QIODevice::WriteOnly | QIODevice::Unbuffered);
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

MaybeFailure checkOutputPath(const QString &outputPath, const QString &inputPath, const InputFile &input)
{
    struct stat status;
    if (::lstat(QFile::encodeName(outputPath).constData(), &status) != 0)
        return std::nullopt; // nothing there yet (or nothing that can be looked at: open will say)
    if (S_ISLNK(status.st_mode))
        return outputFailureOf(Failure::Kind::OutputIsLink, inputPath, outputPath);
    if (status.st_dev == input.device && status.st_ino == input.inode)
        return outputFailureOf(Failure::Kind::OutputIsInput, inputPath, outputPath);
    return std::nullopt;
}

// The file a path names, as device and inode: the file a link leads to, or with followLinks false
// the link itself; nothing where there is none.
std::optional<QString> fileIdentity(const QString &path, bool followLinks)
{
    struct stat status;
    const QByteArray name = QFile::encodeName(path);
    if ((followLinks ? ::stat(name.constData(), &status) : ::lstat(name.constData(), &status)) != 0)
        return std::nullopt;
    return QStringLiteral("%1:%2").arg(quint64(status.st_dev)).arg(quint64(status.st_ino));
}
#else
Failure systemFailure(Failure::Kind kind, const QString &path, DWORD error)
{
    return systemFailureOf(kind, path, qt_error_string(int(error)), windowsErrorToErrno(error));
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
        const int error = errno;
        CloseHandle(handle);
        return systemFailureOf(Failure::Kind::ReadFailed, path, errnoText(error), error);
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
MaybeFailure checkOutputPath(const QString &outputPath, const QString &inputPath, const InputFile &input)
{
    const std::wstring path = nativePath(outputPath);
    if (isLink(path))
        return outputFailureOf(Failure::Kind::OutputIsLink, inputPath, outputPath);
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt; // nothing there yet (or nothing that can be looked at: open will say)
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (known && information.dwVolumeSerialNumber == input.volume
        && (quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow) == input.index)
        return outputFailureOf(Failure::Kind::OutputIsInput, inputPath, outputPath);
    return std::nullopt;
}

// The file a path names, as its volume's serial number and its index there: the file a link leads
// to, or with followLinks false the link itself; nothing where there is none.
std::optional<QString> fileIdentity(const QString &path, bool followLinks)
{
    const HANDLE handle = CreateFileW(
        nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (!known)
        return std::nullopt;
    return QStringLiteral("%1:%2")
        .arg(information.dwVolumeSerialNumber)
        .arg(quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow);
}
#endif

// Where a path leads, as the system tells files apart: the file's identity where it exists (see
// fileIdentity), else the path, absolute and cleaned, under its folder's canonical path where the
// folder exists (case-folded on Windows, whose names are not case-sensitive). Identities start
// with a digit, absolute paths never.
QString placeOf(const QString &path, bool followLinks)
{
    if (std::optional<QString> identity = fileIdentity(path, followLinks))
        return *identity;
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    QString place
        = folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : QDir(folder).filePath(info.fileName());
#ifdef Q_OS_WIN
    place = place.toCaseFolded();
#endif
    return place;
}

// The format to read a file as: the one the options name, else the one its content shows;
// nothing for simple text, which is what no probe claims. A file of no format read fails unless
// its name says it is a chapter list (".txt").
Expected<const InputFormat *> inputFormatOf(const QString &path, QIODevice &input, const ConvertOptions &options)
{
    if (options.inputFormat == u"simple")
        return nullptr;
    if (!options.inputFormat.isEmpty())
        return inputFormatNamed(options.inputFormat);
    const InputFormat *probed = probedFormat(input);
    if (!probed && !isChapterListPath(path))
        return failureOf(Failure::Kind::NotChapterListName, path);
    return probed;
}

// Reads the opened input and hands its chapters, changed, to writer: the chapter count, or why
// the input cannot be converted (the failure names it).
Expected<qsizetype> convertChapters(QIODevice &input, const InputFormat *format, RunContext &run,
                                    const QString &inputPath, ChapterWriter &writer)
{
    const ChapterChange change(run.options, run.titles, !format);
    Expected<qsizetype> chapters = 0;
    if (!format) {
        TextLineReader reader(input, run.codePage);
        chapters = ConvertFile(reader, change, writer);
    } else {
        const Expected<ChapterList> read = format->read({inputPath, input, run.codePage, run.options.read});
        chapters = read ? writeChapters(*read, change, writer) : Expected<qsizetype>(read.error());
    }
    if (!chapters) {
        Failure failure = chapters.error();
        failure.path = inputPath;
        return failure;
    }
    return chapters;
}

// An input opened for conversion, and the format it is read as (nothing: simple text).
struct ChapterSource
{
    InputFile input;
    const InputFormat *format;
};

Expected<ChapterSource> openChapterSource(const QString &path, const ConvertOptions &options)
{
    Expected<InputFile> input = openInput(path);
    if (!input)
        return input.error();
    const Expected<const InputFormat *> format = inputFormatOf(path, *input->file, options);
    if (!format)
        return format.error();
    return ChapterSource {std::move(*input), *format};
}

// Reads the opened input, changes its chapters and writes them into device: what was written to
// outputPath, or the failure, which names the input, and outputPath too when writing failed.
Expected<EntryResult> convertInto(QIODevice &device, QIODevice &input, const InputFormat *format, RunContext &run,
                                  const QString &inputPath, const QString &outputPath)
{
    EncodedOutput output(device, outputForm(run.options.format, run.options.OutputEncoding), &run.codePage);
    const std::unique_ptr<ChapterWriter> writer = makeChapterWriter(run.options, output);
    const Expected<qsizetype> chapters = convertChapters(input, format, run, inputPath, *writer);
    if (!chapters)
        return chapters.error();
    if (!writer->finish())
        return outputFailureOf(Failure::Kind::WriteFailed, inputPath, outputPath, output.error(), output.systemError());
    return EntryResult {outputPath, *chapters, output.replacedCharacters()};
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
        m_row->readMs = start.readMilliseconds;
        if (!m_row->readMs) {
            // Simple text copied as it stands: its value, where it is a time.
            if (const std::optional<TimeFields> fields = readTimeFields(start.text))
                m_row->readMs = plainMilliseconds(*fields);
        }
        m_row->writtenMs = start.milliseconds ? start.milliseconds : m_row->readMs;
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

// The extension of a format's output, after "_new".
QStringView outputExtension(ChapterFormat format)
{
    switch (format) {
    case ChapterFormat::Matroska:
        return u".xml";
    case ChapterFormat::Ffmetadata:
        return u".ffmetadata";
    case ChapterFormat::Qpfile:
        return u".qpfile";
    case ChapterFormat::PodcastChapters:
        return u".json";
    case ChapterFormat::Simple:
        break;
    }
    return u".txt";
}

} // namespace

bool isChapterListPath(QStringView path)
{
    // A root ("/", "C:\\") ends in a separator, so it never passes.
    return path.endsWith(u".txt");
}

bool isChapterSource(const QString &path)
{
    if (isChapterListPath(path))
        return true;
    const Expected<InputFile> input = openInput(path);
    return input && probedFormat(*input->file);
}

QString temporaryPathFor(const QString &outputPath)
{
    QString name = QFileInfo(outputPath).fileName();
    const QStringView folder = QStringView(outputPath).chopped(name.size());
    const QString tail = QStringLiteral(".tessaline-XXXXXX");
    // Cut so that the name fits what file systems hold, in whole characters: 255 bytes, or on
    // Windows 255 UTF-16 units (the name's bytes in the ANSI code page say nothing there).
    const auto length = [](const QString &part) {
#ifdef Q_OS_WIN
        return part.size();
#else
        return QFile::encodeName(part).size();
#endif
    };
    while (length(name) + 1 + tail.size() > 255)
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    return folder + u'.' + name + tail;
}

QString OutputPathFor(const QString &inputPath, ChapterFormat format, const QString &outputFolder)
{
    // The file name starts after the last separator ('\\' separates on Windows only).
    const qsizetype nameStart = QDir::fromNativeSeparators(inputPath).lastIndexOf(u'/') + 1;
    const qsizetype dot = inputPath.lastIndexOf(u'.');
    QString path = dot >= nameStart ? inputPath.first(dot) : inputPath;
    path += u"_new";
    path += outputExtension(format);
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
    const Expected<EntryResult> converted = convertInto(out, in, *format, run, {}, {});
    if (!converted)
        return converted.error();
    return bytes;
}

Expected<std::unique_ptr<QFile>> openRegularFile(const QString &path)
{
    Expected<InputFile> input = openInput(path);
    if (!input)
        return input.error();
    return std::move(input->file);
}

Expected<EntryResult> ConvertEntry(const QString &inputPath, RunContext &run)
{
    Expected<ChapterSource> source = openChapterSource(inputPath, run.options);
    if (!source)
        return source.error();
    const InputFile &input = source->input;
    const InputFormat *const format = source->format;
    const QString outputPath = OutputPathFor(inputPath, run.options.format, run.options.outputFolder);

    if (run.options.destination == Destination::StandardOutput) {
        // Standard output has no path to name when writing fails.
        QFile standardOutput;
        openStandardOutput(standardOutput);
        HoldingDevice held(standardOutput);
        const Expected<EntryResult> converted = convertInto(held, *input.file, format, run, inputPath, {});
        if (!converted)
            return converted.error();
        if (!held.release()) {
            const QString reason = held.errorString();
            return outputFailureOf(Failure::Kind::WriteFailed, inputPath, {}, reason, systemErrorOfLastCall(reason));
        }
        return converted;
    }

    if (MaybeFailure refused = checkOutputPath(outputPath, inputPath, input))
        return *refused;
    ReplacingFile file(outputPath);
    if (!file.open())
        return outputFailureOf(Failure::Kind::WriteFailed, inputPath, outputPath, file.errorString(),
                               file.systemError());
    if (run.options.destination == Destination::Nowhere) {
        // A dry run goes as far as the real one can without writing: its temporary file is made
        // and then removed unwritten.
        DiscardingDevice nowhere;
        nowhere.open(QIODevice::WriteOnly);
        return convertInto(nowhere, *input.file, format, run, inputPath, outputPath); // writing cannot fail
    }
    const Expected<EntryResult> converted = convertInto(file.device(), *input.file, format, run, inputPath, outputPath);
    if (!converted)
        return converted.error();
    if (!file.commit())
        return outputFailureOf(Failure::Kind::WriteFailed, inputPath, outputPath, file.errorString(),
                               file.systemError());
    return converted;
}

Expected<FilePreview> previewEntry(const QString &inputPath, RunContext &run, qsizetype limit)
{
    Expected<ChapterSource> source = openChapterSource(inputPath, run.options);
    if (!source)
        return source.error();
    FilePreview preview;
    preview.format = source->format ? source->format->name.toString() : QStringLiteral("simple");
    PreviewWriter writer(preview, limit);
    const Expected<qsizetype> chapters = convertChapters(*source->input.file, source->format, run, inputPath, writer);
    if (!chapters)
        return chapters.error();
    if (outputForm(run.options.format, run.options.OutputEncoding) == EncodedOutput::Form::Ansi) {
        for (ChapterPreviewRow &row : preview.rows) {
            row.timeWritten = run.codePage.decoded(run.codePage.encoded(row.timeWritten));
            row.title = run.codePage.decoded(run.codePage.encoded(row.title));
        }
    }
    return preview;
}

QList<Expected<QString>> refuseCollidingOutputs(QList<Expected<QString>> entries, const ConvertOptions &options)
{
    if (options.destination == Destination::StandardOutput)
        return entries;
    QStringList paths(entries.size()); // by entry: its input and output, and where they lead
    QStringList outputPaths(entries.size());
    QStringList inputs(entries.size());
    QStringList outputs(entries.size());
    QSet<QString> read; // the places of the inputs
    // An output's place: the first entry that writes it, and the first after it with another input.
    QHash<QString, std::pair<qsizetype, qsizetype>> writers;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries[i])
            continue;
        paths[i] = *entries[i];
        outputPaths[i] = OutputPathFor(paths[i], options.format, options.outputFolder);
        // An input is read through links; an output replaces a link rather than what it leads to
        // (and ConvertEntry refuses it).
        inputs[i] = placeOf(paths[i], true);
        outputs[i] = placeOf(outputPaths[i], false);
        read.insert(inputs[i]);
        const auto writer = writers.find(outputs[i]);
        if (writer == writers.end())
            writers.insert(outputs[i], {i, -1});
        else if (writer->second < 0 && inputs[writer->first] != inputs[i])
            writer->second = i;
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries[i])
            continue;
        // An output that is its own input is left to ConvertEntry, which refuses it with its reason.
        if (outputs[i] != inputs[i] && read.contains(outputs[i])) {
            entries[i] = outputFailureOf(Failure::Kind::OutputIsAnotherInput, paths[i], outputPaths[i]);
            continue;
        }
        const auto [first, other] = writers.value(outputs[i]);
        const qsizetype sharer = inputs[first] != inputs[i] ? first : other;
        if (sharer >= 0)
            entries[i] = outputFailureOf(Failure::Kind::OutputShared, paths[i], outputPaths[i], paths[sharer]);
    }
    return entries;
}

ConvertReport ConvertAll(const QStringList &files, const ConvertOptions &options, const RunControl &control)
{
    ConvertReport report;
    Expected<RunContext> run = prepareRun(options);
    if (!run) {
        report.runFailure = run.error();
        return report;
    }
    QList<Expected<QString>> entries;
    for (qsizetype i = 0; i < files.size(); ++i) {
        entries.append(control.undecodableNames.contains(i)
                           ? Expected<QString>(failureOf(Failure::Kind::UndecodableName, files[i]))
                           : Expected<QString>(files[i]));
    }
    entries = refuseCollidingOutputs(std::move(entries), options);
    for (qsizetype done = 0; done < files.size(); ++done) {
        const QString &file = files[done];
        if (control.progress)
            control.progress(done, files.size(), file);
        if (control.stop && control.stop->load()) {
            report.cancelled = true;
            report.notConverted = files.size() - done;
            break;
        }
        const Expected<QString> &entry = entries[done];
        const Expected<EntryResult> result = entry ? ConvertEntry(*entry, *run) : Expected<EntryResult>(entry.error());
        if (!result) {
            report.failures.append(result.error());
            continue;
        }
        ++report.converted;
        if (result->replacedCharacters > 0)
            report.replacedCharacters.append(file);
        if (options.UseNameBox && result->chapters != run->titles.size())
            report.titleMismatches.append({file, result->chapters, run->titles.size()});
    }
    return report;
}

namespace {

QString fromSystemPath(const std::filesystem::path &path)
{
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

Failure folderFailure(Failure::Kind kind, const QString &path, const std::error_code &error = {})
{
    return Failure {kind, path, 0, QString::fromLocal8Bit(error.message()), -1, error.value()};
}

// Whether a name is that of an output of a run, of any format: "_new" and its extension.
bool isOutputName(QStringView path)
{
    for (const ChapterFormat format : {ChapterFormat::Simple, ChapterFormat::Matroska, ChapterFormat::Ffmetadata,
                                       ChapterFormat::Qpfile, ChapterFormat::PodcastChapters}) {
        const QStringView extension = outputExtension(format);
        if (path.endsWith(extension) && path.chopped(extension.size()).endsWith(u"_new"))
            return true;
    }
    return false;
}

// A file found below a folder, as the format a recursive run reads claims it: the path when the
// format's probe claims the file's head, its failure when it cannot be looked at (not a regular
// file, no permission), nothing when the probe does not claim it or it is a link to a folder,
// which the walk does not follow.
std::optional<Expected<QString>> claimedBy(const InputFormat &format, const QString &path)
{
    const Expected<InputFile> input = openInput(path);
    if (!input)
        return input.error().kind == Failure::Kind::IsFolder ? std::nullopt : std::optional(input.error());
    const int score = probeScore(format, *input->file);
    if (input->file->error() != QFileDevice::NoError)
        return failureOf(Failure::Kind::ReadFailed, path, input->file->errorString());
    if (score <= 0)
        return std::nullopt;
    return path;
}

} // namespace

QList<Expected<QString>> chapterFilesBelow(const QString &folder, QStringView inputFormat)
{
    namespace fs = std::filesystem;
    const InputFormat *const forced = inputFormat == u"simple" ? nullptr : inputFormatNamed(inputFormat);
    QList<std::pair<QString, Expected<QString>>> found; // by path
    QStringList toProbe; // with a forced format: the files whose heads are looked at once the walk is done
    std::vector<fs::path> folders {systemPath(folder)};
    while (!folders.empty()) {
        const fs::path current = std::move(folders.back());
        folders.pop_back();
        // Each folder is read whole and closed before the next is opened.
        std::error_code error;
        for (fs::directory_iterator it(current, error); !error && it != fs::directory_iterator(); it.increment(error)) {
            std::error_code typeError;
            const fs::file_status status = it->symlink_status(typeError);
            const QString path = fromSystemPath(it->path());
            if (status.type() == fs::file_type::directory) {
                folders.push_back(it->path());
            } else if (typeError) {
                found.append({path, folderFailure(Failure::Kind::ReadFailed, path, typeError)});
            } else if ((forced || isChapterListPath(path)) && !isOutputName(path)) {
                // Links and other files that are not regular are taken too, so that they fail with
                // their reasons.
                const bool decodes = systemPath(path) == it->path();
                if (!decodes)
                    found.append({path, folderFailure(Failure::Kind::UndecodableName, path)});
                else if (forced)
                    toProbe.append(path);
                else
                    found.append({path, path});
            }
        }
        if (error) {
            const QString path = fromSystemPath(current);
            found.append({path, folderFailure(Failure::Kind::ReadFailed, path, error)});
        }
    }
    for (const QString &path : std::as_const(toProbe)) {
        if (std::optional<Expected<QString>> claimed = claimedBy(*forced, path))
            found.append({path, std::move(*claimed)});
    }
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<Expected<QString>> entries;
    for (auto &[path, entry] : found)
        entries.append(std::move(entry));
    return entries;
}

} // namespace Tessaline
