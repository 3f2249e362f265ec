#pragma once

#include "failure.h"

#include <QString>

#include <memory>

// The chapter list text format. A file is read as pairs of lines, strictly alternating from its
// first line:
//     CHAPTER01=00:05:23.456
//     CHAPTER01NAME=Title
// The time is the 12 characters after "CHAPTERnn=" (nn: one digit or more), the title everything
// after "CHAPTERnnNAME=". A line in the place of a time line must start "CHAPTERnn="; a name line
// of any other shape is read at the position of the two-digit form (title from character 15). A
// time line whose name line never comes is dropped, unread. It is
// written back in that shape: CHAPTERnn=HH:MM:SS.mmm and CHAPTERnnNAME=title, lines joined by
// CR LF, no line end after the last line.
namespace Tessaline {

class ChapterChange;
class ChapterWriter;
class EncodedOutput;
class TextLineReader;

// Reads the chapters of a chapter file line by line, has the change stage rewrite their times
// and titles, and hands them to the writer numbered from 1. The number of chapters (0 for a file
// with no text), or why the file cannot be converted (a line that is no time line, a time that
// cannot be rescaled, text that gives no chapter, or a failed read; the failure names no path).
Expected<qsizetype> ConvertFile(TextLineReader &reader, const ChapterChange &change, ChapterWriter &writer);

// The writer of the format, which streams into output as the chapters come.
std::unique_ptr<ChapterWriter> makeSimpleTextWriter(EncodedOutput &output);

// Appends a title as the simple format holds it, on one line: each CR, LF or CR LF in it becomes
// one space. A title with line ends comes whole, from formats other than simple text.
void appendOnOneLine(QString &text, QStringView title);

} // namespace Tessaline
