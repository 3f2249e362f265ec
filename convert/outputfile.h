#pragma once

// Where a conversion writes: the file that replaces an output once it is whole, standard output,
// and the devices of a dry run and of standard output.

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>
#ifdef Q_OS_UNIX
#include <QTemporaryFile>
#endif

namespace Tessaline {

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

    // Writes what is held; false (with errorString()) when the target did not take it all.
    bool release();

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    QIODevice &m_target;
    QByteArray m_held;
    bool m_passing = false;
};

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
    ~ReplacingFile();
#endif

    // Makes the temporary file; false with errorString() when it cannot be made.
    bool open();

    QIODevice &device()
    {
        return m_temporary;
    }

    // Puts the temporary file in the output's place; false with errorString() when it fails.
    bool commit();

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
    bool failed(const QString &error, int systemError);
    bool failedInLastCall(const QString &error);
#ifdef Q_OS_WIN
    bool failedInWindows(unsigned long error);
    bool openFreshName();
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

// Opens file on the process's standard output, to take the bytes as they are: Windows' C library
// would otherwise write each LF as CR LF. They go to its descriptor, past the C library's buffer,
// whose failure to write them at the end would be known to nobody.
void openStandardOutput(QFile &file);

} // namespace Tessaline
