#include "textlinereader.h"

#include "codepage.h"

#include <QStringDecoder>

#include <algorithm>

namespace Tessaline {

namespace {

constexpr qsizetype kChunkBytes = 1 << 20;

bool isLineEnd(QChar c)
{
    return c == u'\r' || c == u'\n';
}

// Where the chunk that starts at `start` should end: after the last line end within about a
// megabyte, so that no line and no CR LF pair is cut in two. Line ends are single bytes that
// never occur inside a multi-byte character of UTF-8 or of the ANSI code pages.
qsizetype chunkEnd(QByteArrayView bytes, qsizetype start)
{
    const qsizetype limit = start + kChunkBytes;
    if (limit >= bytes.size())
        return bytes.size();
    const auto isEnd = [](char c) { return c == '\r' || c == '\n'; };
    qsizetype end = limit;
    while (end > start && !isEnd(bytes[end - 1]))
        --end;
    if (end == start) { // one line longer than a chunk: take it whole
        const auto next = std::find_if(bytes.begin() + limit, bytes.end(), isEnd);
        if (next == bytes.end())
            return bytes.size();
        end = (next - bytes.begin()) + 1;
    }
    if (bytes[end - 1] == '\r' && end < bytes.size() && bytes[end] == '\n')
        ++end;
    return end;
}

bool isValidUtf8(QByteArrayView bytes)
{
    // Chunks end at line ends, so a character cut at a chunk's end is really cut.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString buffer;
    for (qsizetype start = 0; start < bytes.size();) {
        const qsizetype end = chunkEnd(bytes, start);
        const QByteArrayView chunk = bytes.sliced(start, end - start);
        buffer.resize(decoder.requiredSpace(chunk.size()));
        decoder.appendToBuffer(buffer.data(), chunk);
        if (decoder.hasError())
            return false;
        start = end;
    }
    return true;
}

} // namespace

DetectedEncoding detectTextEncoding(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {TextEncoding::Utf8, 3};
    if (bytes.startsWith("\xFF\xFE"))
        return {TextEncoding::Utf16LE, 2};
    if (bytes.startsWith("\xFE\xFF"))
        return {TextEncoding::Utf16BE, 2};
    return {isValidUtf8(bytes) ? TextEncoding::Utf8 : TextEncoding::Ansi, 0};
}

TextLineReader::TextLineReader(QByteArrayView bytes, int ansiCodePage)
    : m_ansiCodePage(ansiCodePage)
{
    const DetectedEncoding detected = detectTextEncoding(bytes);
    m_encoding = detected.encoding;
    m_rest = bytes.sliced(detected.bomLength);
}

bool TextLineReader::decodeNextChunk()
{
    if (m_rest.isEmpty())
        return false;
    // A line end byte can be half of any UTF-16 character, so UTF-16 is decoded whole; its
    // decoded text is no larger than its bytes.
    const bool wholeText = m_encoding == TextEncoding::Utf16LE || m_encoding == TextEncoding::Utf16BE;
    const qsizetype end = wholeText ? m_rest.size() : chunkEnd(m_rest, 0);
    const QByteArrayView chunk = m_rest.first(end);
    m_rest = m_rest.sliced(end);
    m_position = 0;
    switch (m_encoding) {
    case TextEncoding::Utf8:
        m_chunk = QString::fromUtf8(chunk);
        break;
    case TextEncoding::Utf16LE:
        m_chunk = QStringDecoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless).decode(chunk);
        break;
    case TextEncoding::Utf16BE:
        m_chunk = QStringDecoder(QStringDecoder::Utf16BE, QStringDecoder::Flag::Stateless).decode(chunk);
        break;
    case TextEncoding::Ansi:
        m_chunk = decodeAnsi(chunk, m_ansiCodePage);
        break;
    }
    return true;
}

std::optional<QStringView> TextLineReader::nextLine()
{
    while (m_position >= m_chunk.size()) {
        if (!decodeNextChunk())
            return std::nullopt;
    }
    const QStringView rest = QStringView(m_chunk).sliced(m_position);
    const auto end = std::find_if(rest.begin(), rest.end(), isLineEnd);
    const qsizetype length = end - rest.begin();
    m_position += length;
    if (end != rest.end()) {
        m_position += (*end == u'\r' && length + 1 < rest.size() && rest[length + 1] == u'\n') ? 2 : 1;
    }
    return rest.first(length);
}

} // namespace Tessaline
