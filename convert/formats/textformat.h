#pragma once

#include "chapter.h"
#include "failure.h"
#include "textlinereader.h"

#include <QByteArrayView>
#include <QStringList>

namespace Tessaline {

struct ReadRequest;

// What the text formats share: their probes look at whole lines of the head, their readers at
// the lines of the file as the simple text's reader decodes them.

// The complete lines of a file's head: a byte order mark names the encoding (UTF-16 is decoded
// as such), anything else is decoded as UTF-8, which keeps the ASCII keywords the probes look
// for whatever the code page. A head of kProbeBytes loses its last line, which may be cut.
QStringList headLines(QByteArrayView head);

// Every line of the file, decoded as the simple text is (byte order mark, else UTF-8 when valid
// throughout, else the run's ANSI code page; CR LF, CR and LF end a line), or, for formats defined
// as UTF-8 (unmarked: Utf8), as UTF-8 whatever it holds; or why reading failed.
Expected<QStringList> readTextLines(const ReadRequest &request, UnmarkedText unmarked = UnmarkedText::Utf8OrAnsi);

// A BadInput failure of the file at line (counted from 1; 0 for the file as a whole).
Failure badInput(const ReadRequest &request, qint64 line, const QString &detail);

// The chapters, or a NoChapters failure when there are none: each text format is read to find
// chapters, so a file of that format without one has nothing to convert.
Expected<ChapterList> chaptersFound(const ReadRequest &request, ChapterList chapters);

// A decimal number of digits only (no sign, no spaces), or nothing when it is not or does not
// fit in 64 bits.
std::optional<qint64> decimalNumber(QStringView digits);

} // namespace Tessaline
