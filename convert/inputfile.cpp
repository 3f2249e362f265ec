#include "inputfile.h"

#include "conversion.h"
#include "formats/inputformat.h"
#include "runfailure.h"
#include "systempath.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <optional>

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

namespace {

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

} // namespace

#else
namespace {

Failure systemFailure(Failure::Kind kind, const QString &path, DWORD error)
{
    return systemFailureOf(kind, path, qt_error_string(int(error)), windowsErrorToErrno(error));
}

} // namespace

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

#endif

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

Expected<std::unique_ptr<QFile>> openRegularFile(const QString &path)
{
    Expected<InputFile> input = openInput(path);
    if (!input)
        return input.error();
    return std::move(input->file);
}

} // namespace Tessaline
