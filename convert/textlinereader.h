#pragma once

#include "failure.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QIODevice;

namespace Tessaline {

class CodePage;

enum class TextEncoding { Utf8, Utf16LE, Utf16BE, Ansi };

// How text without a byte order mark is decoded.
enum class UnmarkedText {
    Utf8OrAnsi, // UTF-8 when valid throughout, else the ANSI code page
    Utf8, // for formats defined as UTF-8: an invalid sequence becomes U+FFFD, the rest is kept
};

// A stretch of one line: all of it, or a part of a line too long to hold at once.
struct LinePiece
{
    QStringView text; // valid until the next piece is asked for
    bool endsLine; // the last piece of its line
};

// Splits a text file into lines as it reads it, holding about a megabyte at a time however long
// the file or its lines. A byte order mark (EF BB BF, FF FE, FE FF) names the encoding and is not
// part of the text; without one, the text is decoded as unmarked says (by default a file that is
// valid UTF-8 throughout is UTF-8, and anything else is in the ANSI code page). CR LF, CR and LF each end a line; a
// line end at the very end of the file starts no further line.
class TextLineReader
{
public:
    // The device is read from its start, twice when it has no byte order mark (once to tell
    // whether it is UTF-8), so it must be able to seek. Its size is taken now: a device that
    // then grows or shrinks fails with Failure::Kind::ChangedWhileRead.
    TextLineReader(QIODevice &device, CodePage &ansiCodePage, UnmarkedText unmarked = UnmarkedText::Utf8OrAnsi);

    // The next piece of the current line; an empty line is one empty piece. Nothing at the end
    // of the text, or when reading failed (see failure()).
    std::optional<LinePiece> nextPiece();

    // The whole of the next line, for files of short lines such as a names file.
    std::optional<QString> nextLine();

    // Why reading stopped before the end of the file, if it did.
    const MaybeFailure &failure() const { return m_failure; }

private:
    bool detectEncoding();
    bool isUtf8Throughout();
    bool readBlock();
    bool decodeNextBlock();

    QIODevice &m_device;
    CodePage &m_ansiCodePage;
    UnmarkedText m_unmarked;
    qint64 m_size; // bytes, as the device was at the start; -1 for a sequential device
    TextEncoding m_encoding = TextEncoding::Utf8;
    MaybeFailure m_failure;
    bool m_started = false;
    bool m_atEnd = false; // everything has been read from the device
    bool m_decodedAny = false; // a block has been decoded: the next one does not start the file
    QByteArray m_bytes; // read, not yet decoded
    QString m_text; // decoded, from m_position on not yet handed out
    qsizetype m_position = 0;
    bool m_skipLineFeed = false; // the last line ended at a CR
    bool m_lineOpen = false; // a piece of a line went out, but not its end
};

} // namespace Tessaline
