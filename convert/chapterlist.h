#pragma once

#include "conversion.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// The chapter list text format. A file is read as pairs of lines, strictly alternating from its
// first line:
//     CHAPTER01=00:05:23.456
//     CHAPTER01NAME=Title
// The time is the 12 characters after "CHAPTERnn=", the title everything after "CHAPTERnnNAME=".
// Lines of any other shape are read at the positions of the two-digit form (time from character
// 11, title from character 15). Output renumbers the chapters from 01 and joins lines with CR LF,
// with no line end after the last line.
namespace Tessaline {

// A converted chapter text, or why the file could not be converted.
struct ConvertedText
{
    QString text;
    QString error;
};

// Converts the raw bytes of a chapter file (see TextLineReader for how they are decoded).
ConvertedText convertChapterBytes(QByteArrayView bytes, const ConvertOptions &options);

// Reads the chapter file at inputPath and converts it; the file is only read.
ConvertedText ConvertFile(const QString &inputPath, const ConvertOptions &options);

// Line n (counted from 1) of the names text, whose lines are separated by CR LF (a CR or LF on
// its own is part of a line). Nothing when the text has fewer lines; the empty text has none.
std::optional<QString> NameFromText(QStringView text, qsizetype n);

// The names text (lines separated by CR LF) of a names file, whose bytes are split into lines the
// way a chapter file's are (see TextLineReader).
QString namesTextFromBytes(QByteArrayView bytes, int ansiCodePage);

} // namespace Tessaline
