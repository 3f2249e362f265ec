#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace Tessaline {

enum class TextEncoding { Utf8, Utf16LE, Utf16BE, Ansi };

// How a text file's bytes are to be read: a byte order mark (EF BB BF, FF FE, FE FF) names the
// encoding; without one, text that is valid UTF-8 throughout is UTF-8, and anything else is in
// the ANSI code page. bomLength is the number of mark bytes, which are not part of the text.
struct DetectedEncoding
{
    TextEncoding encoding;
    qsizetype bomLength;
};
DetectedEncoding detectTextEncoding(QByteArrayView bytes);

// Splits a text file's bytes into lines, decoding as detectTextEncoding() finds. CR LF, CR and LF
// each end a line; a line end at the very end of the file starts no further line. Decodes about a
// megabyte at a time, so the decoded text of a large file is never held whole.
class TextLineReader
{
public:
    // bytes must outlive the reader.
    TextLineReader(QByteArrayView bytes, int ansiCodePage);

    // The next line without its line end, valid until the following call; nothing at the end.
    std::optional<QStringView> nextLine();

private:
    bool decodeNextChunk();

    QByteArrayView m_rest;
    TextEncoding m_encoding;
    int m_ansiCodePage;
    QString m_chunk;
    qsizetype m_position = 0;
};

} // namespace Tessaline
