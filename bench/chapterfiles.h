#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Chapter files for the benchmarks, in the two-line form read by the conversion.
namespace Tessaline::Bench {

// A chapter file of `chapters` chapters in ASCII (one byte a character, the costliest input for
// memory once decoded), 300 ms apart, with titles of about 50 characters; about 98 bytes a chapter.
QByteArray chapterFileBytes(qsizetype chapters);

// As many chapters as fit into `bytes` bytes.
QByteArray chapterFileOfSize(qsizetype bytes);

// Writes `count` files "chapters<n>.txt" of `chapters` chapters each into `folder`; returns their
// paths, or the empty list when a file cannot be written.
QStringList writeChapterFiles(const QString &folder, int count, qsizetype chapters);

} // namespace Tessaline::Bench
