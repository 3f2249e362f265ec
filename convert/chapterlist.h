#pragma once

#include "failure.h"

#include <QString>
#include <QStringList>

#include <optional>

// The chapter list text format. A file is read as pairs of lines, strictly alternating from its
// first line:
//     CHAPTER01=00:05:23.456
//     CHAPTER01NAME=Title
// The time is the 12 characters after "CHAPTERnn=", the title everything after "CHAPTERnnNAME=".
// Lines of any other shape are read at the positions of the two-digit form (time from character
// 11, title from character 15). A time line whose name line never comes is dropped.
namespace Tessaline {

class ChapterChange;
class ChapterWriter;
class TextLineReader;

// Reads the chapters of a chapter file line by line, has the change stage rewrite their times
// and titles, and hands them to the writer numbered from 1. The number of chapters, or why the
// file cannot be converted (a time that cannot be rescaled, or a failed read; the failure names
// no path).
Expected<qsizetype> ConvertFile(TextLineReader &reader, const ChapterChange &change, ChapterWriter &writer);

// The lines of a names text, separated by CR LF (a CR or LF on its own is part of a line); the
// empty text has none.
QStringList nameLines(QStringView text);

// Line n (counted from 1) of the names (nameLines() of the names text); nothing when there are
// fewer lines.
std::optional<QStringView> NameFromText(const QStringList &names, qsizetype n);

} // namespace Tessaline
