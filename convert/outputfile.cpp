#include "outputfile.h"

#include "conversion.h"
#include "failure.h"
#include "systempath.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <filesystem>

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

bool HoldingDevice::release()
{
    m_passing = true;
    const bool written = m_target.write(m_held) == m_held.size();
    m_held.clear();
    if (!written)
        setErrorString(m_target.errorString());
    return written;
}

qint64 HoldingDevice::writeData(const char *data, qint64 size)
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

#ifdef Q_OS_WIN
ReplacingFile::~ReplacingFile()
{
    if (!m_committed && !m_temporary.fileName().isEmpty())
        m_temporary.remove();
}
#endif

bool ReplacingFile::open()
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

bool ReplacingFile::commit()
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

bool ReplacingFile::failed(const QString &error, int systemError)
{
    m_error = error;
    m_systemError = systemError;
    return false;
}

bool ReplacingFile::failedInLastCall(const QString &error)
{
    return failed(error, systemErrorOfLastCall(error));
}

#ifdef Q_OS_WIN
bool ReplacingFile::failedInWindows(unsigned long error)
{
    return failed(qt_error_string(int(error)), windowsErrorToErrno(error));
}

// Creates the temporary file under temporaryPathFor()'s name with random letters for its
// XXXXXX, never opening a file that is there already.
bool ReplacingFile::openFreshName()
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

} // namespace Tessaline
