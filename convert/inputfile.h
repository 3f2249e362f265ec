#pragma once

// Opening the inputs of a conversion: each a regular file, opened once, known by its identity so
// that its output is never the same file, and read as the format its content or the options name.

#include "convertoptions.h"
#include "failure.h"

#include <QFile>
#include <QString>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/types.h>
#endif

class QIODevice;

namespace Tessaline {

struct InputFormat;

// An opened chapter file, and which file it is, so that its output is never the same file.
struct InputFile
{
    std::unique_ptr<QFile> file;
#ifdef Q_OS_UNIX
    dev_t device = 0;
    ino_t inode = 0;
#else
    unsigned long volume = 0; // the volume's serial number
    quint64 index = 0; // the file's index on that volume
#endif
};

// Opens a regular file for reading: a FIFO, device or folder fails at once, without waiting.
Expected<InputFile> openInput(const QString &path);

// Refuses an output path that is a symbolic link or the input itself.
MaybeFailure checkOutputPath(const QString &outputPath, const QString &inputPath, const InputFile &input);

// Where a path leads, as the system tells files apart: the file's identity where it exists (see
// fileIdentity), else the path, absolute and cleaned, under its folder's canonical path where the
// folder exists (case-folded on Windows, whose names are not case-sensitive). Identities start
// with a digit, absolute paths never.
QString placeOf(const QString &path, bool followLinks);

// The format to read a file as: the one the options name, else the one its content shows;
// nothing for simple text, which is what no probe claims. A file of no format read fails unless
// its name says it is a chapter list (".txt").
Expected<const InputFormat *> inputFormatOf(const QString &path, QIODevice &input, const ConvertOptions &options);

// An input opened for conversion, and the format it is read as (nothing: simple text).
struct ChapterSource
{
    InputFile input;
    const InputFormat *format;
};

// Opens an input and finds the format it is read as.
Expected<ChapterSource> openChapterSource(const QString &path, const ConvertOptions &options);

} // namespace Tessaline
