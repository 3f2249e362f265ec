#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace Tessaline {

// Why a step of a conversion failed: what failed, where (the file, and the line of a chapter
// file), and the system's reason where there is one. A failure of an output names the input in
// path and the output in output. The conversion only reports; each program words a failure in
// its own language.
struct Failure
{
    enum class Kind {
        NotChapterListName, // no format's probe claims it, and the name does not end in ".txt"
        UndecodableName, // the name given does not decode in the locale's encoding
        UnsupportedCodePage, // detail: the code page asked for
        IsFolder,
        IsSpecialFile, // a FIFO, device or socket: never read, so that nothing blocks
        ReadFailed, // detail: the system's reason
        ChangedWhileRead, // the file grew or shrank while it was read
        UnreadableTime, // line (else chapter): the time line; detail: its start, as read
        TimeOutOfRange, // line (else chapter): the time line; detail: its start, as read
        OutputIsLink, // output: a symbolic link that is left alone
        OutputIsInput, // output: the input file itself
        OutputIsAnotherInput, // output: also an input of the same run, so it is not replaced
        OutputShared, // output: also that of another input of the run; detail: that input
        WriteFailed, // output: where writing failed, empty for standard output; detail: the system's reason
        BadInput, // not what its content claims; line or offset: where; detail: what is wrong
        NoChapters, // a file, playlist or disc title that holds no chapters (an empty text file is an empty list)
        ModuleUnavailable, // the module that reads the file's format cannot be loaded; detail: why
        TooManyChapters, // more than the format written holds; chapter (line): the first too many; detail: the limit
        TooManyToEdit, // more chapters than can be edited; chapter: how many; detail: the most
    };

    Kind kind;
    QString path;
    qint64 line = 0; // counted from 1; 0 where no line is concerned
    QString detail;
    qint64 offset = -1; // bytes from the start of the file, where a binary format went wrong; -1: none
    int systemError = 0; // the errno value behind detail, where there is one
    QString output {}; // the output concerned, for the kinds above that name one
    qsizetype chapter = 0; // counted from 1: the chapter whose time failed, where it has no line
};

// errno's value for the calling thread's last failed system call when reason is the system's text
// for it, as Qt's file classes give it; else 0, since a reason that a library words itself
// ("Filename refers to a directory") has no errno behind it. On Windows Qt's reasons are Win32's,
// for GetLastError()'s code, whose meaning is mapped onto errno's (windowsErrorToErrno).
int systemErrorOfLastCall(const QString &reason);

// The C library's text for an errno value. (Qt's qt_error_string() takes errno values on Unix
// only: on Windows it takes Win32 codes, whose numbers mean other things.)
QString errnoText(int error);

#ifdef Q_OS_WIN
// errno's value for a Win32 error code where the reasons the programs word themselves have one
// (ENOENT, EACCES, EROFS, ENOSPC); else 0.
int windowsErrorToErrno(unsigned long error);
#endif

// Nothing when a step succeeded, or why it failed.
using MaybeFailure = std::optional<Failure>;

// A value, or why there is none.
template<typename T> class Expected
{
public:
    Expected(T value) : m_value(std::move(value)) { }
    Expected(Failure failure) : m_value(std::move(failure)) { }

    bool has_value() const { return m_value.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T &operator*() { return std::get<0>(m_value); }
    const T &operator*() const { return std::get<0>(m_value); }
    T *operator->() { return &std::get<0>(m_value); }
    const T *operator->() const { return &std::get<0>(m_value); }
    const Failure &error() const { return std::get<1>(m_value); }

private:
    std::variant<T, Failure> m_value;
};

} // namespace Tessaline
