#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Chapter files for the benchmarks, in the two-line form read by the conversion.
namespace Tessaline::Bench {

// A chapter file of `chapters` chapters in ASCII (one byte a character, the costliest input for
// memory once decoded), 300 ms apart, with titles of about 50 characters; about 98 bytes a chapter.
QByteArray chapterFileBytes(qsizetype chapters);

// Writes as many of the same chapters as fit into `bytes` bytes to `path`, a block at a time, so
// that a file of any size is never held; the number of chapters, or -1 when it cannot be written.
qsizetype writeChapterFileOfSize(const QString &path, qsizetype bytes);

// Writes `head`, then `count` bytes `fill`, to `path`; false when it cannot be written.
bool writeRepeated(const QString &path, QByteArrayView head, char fill, qsizetype count);

// Writes `count` files "chapters<n>.txt" of `chapters` chapters each into `folder`; returns their
// paths, or the empty list when a file cannot be written.
QStringList writeChapterFiles(const QString &folder, int count, qsizetype chapters);

} // namespace Tessaline::Bench
