#include "textlinereader.h"

#include "codepage.h"

#include <QIODevice>
#include <QStringDecoder>

#include <algorithm>

namespace Tessaline {

namespace {

constexpr qsizetype kBlockBytes = 1 << 20; // read and decoded at a time

bool isLineEnd(QChar c)
{
    return c == u'\r' || c == u'\n';
}

// Where to cut UTF-8 bytes read so far so that no character is cut in two: before a last
// sequence that lacks bytes. Invalid bytes are cut wherever they stand, as a decoder of the
// whole text would read them one by one.
qsizetype utf8CutPoint(QByteArrayView bytes)
{
    for (qsizetype back = 1; back <= std::min<qsizetype>(3, bytes.size()); ++back) {
        const uchar byte = uchar(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte
        const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

// Where to cut UTF-16 bytes: at a whole code unit, and not inside a surrogate pair.
qsizetype utf16CutPoint(QByteArrayView bytes, bool littleEndian)
{
    qsizetype cut = bytes.size() & ~qsizetype(1);
    if (cut >= 2) {
        const uchar high = uchar(bytes[cut - (littleEndian ? 1 : 2)]);
        if ((high & 0xFC) == 0xD8) // a high surrogate waits for its pair
            cut -= 2;
    }
    return cut;
}

// Decodes a block cut where no character is cut, as the whole text would be decoded. Qt's
// decoders drop a byte order mark at the start of what they decode: a second mark at the start
// of the file has always been dropped so, while one at the start of a later block is text.
void appendDecoded(QString &text, QByteArrayView bytes, QStringDecoder::Encoding encoding, bool fileStart)
{
    QStringDecoder decoder(encoding,
                           fileStart ? QStringDecoder::Flag::Stateless
                                     : QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const qsizetype start = text.size();
    text.resize(start + decoder.requiredSpace(bytes.size()));
    QChar *end = decoder.appendToBuffer(text.data() + start, bytes);
    text.truncate(end - text.constData());
}

} // namespace

TextLineReader::TextLineReader(QIODevice &device, CodePage &ansiCodePage, UnmarkedText unmarked)
    : m_device(device), m_ansiCodePage(ansiCodePage), m_unmarked(unmarked),
      m_size(device.isSequential() ? -1 : device.size())
{ }

bool TextLineReader::readBlock()
{
    const qsizetype start = m_bytes.size();
    // No more than the file holds, and one byte more to find its end in the same call.
    const qint64 left = m_size < 0 ? kBlockBytes : m_size - m_device.pos() + 1;
    m_bytes.resize(start + qsizetype(std::clamp<qint64>(left, 1, kBlockBytes)));
    qsizetype filled = start;
    while (filled < m_bytes.size()) {
        const qint64 got = m_device.read(m_bytes.data() + filled, m_bytes.size() - filled);
        if (got < 0) {
            m_failure = Failure {Failure::Kind::ReadFailed, {}, 0, m_device.errorString()};
            m_bytes.clear();
            return false;
        }
        if (got == 0) {
            m_atEnd = true;
            break;
        }
        filled += got;
    }
    m_bytes.truncate(filled);
    // Past its size, or ending before it: the file is not what it was when the UTF-8 check or
    // the first block read it.
    if (m_size >= 0 && (m_device.pos() > m_size || (m_atEnd && m_device.pos() < m_size))) {
        m_failure = Failure {Failure::Kind::ChangedWhileRead, {}, 0, {}};
        m_bytes.clear();
        return false;
    }
    return true;
}

bool TextLineReader::isUtf8Throughout()
{
    while (!m_atEnd) {
        if (!readBlock())
            return false;
        const qsizetype cut = m_atEnd ? m_bytes.size() : utf8CutPoint(m_bytes);
        if (!QByteArrayView(m_bytes).first(cut).isValidUtf8())
            return false;
        m_bytes.remove(0, cut);
    }
    return true;
}

bool TextLineReader::detectEncoding()
{
    m_started = true;
    m_ansiCodePage.reset(); // a file read before may have stopped inside a character
    const QByteArray mark = m_device.peek(3);
    struct ByteOrderMark
    {
        QByteArrayView bytes;
        TextEncoding encoding;
    };
    for (const ByteOrderMark &bom :
         {ByteOrderMark {"\xEF\xBB\xBF", TextEncoding::Utf8}, ByteOrderMark {"\xFF\xFE", TextEncoding::Utf16LE},
          ByteOrderMark {"\xFE\xFF", TextEncoding::Utf16BE}}) {
        if (mark.startsWith(bom.bytes)) {
            m_encoding = bom.encoding;
            return m_device.skip(bom.bytes.size()) == bom.bytes.size();
        }
    }
    if (m_unmarked == UnmarkedText::Utf8)
        return true; // m_encoding is UTF-8
    const qint64 start = m_device.pos();
    const bool utf8 = isUtf8Throughout();
    if (m_failure)
        return false;
    m_encoding = utf8 ? TextEncoding::Utf8 : TextEncoding::Ansi;
    m_bytes.clear();
    m_atEnd = false;
    if (!m_device.seek(start)) {
        m_failure = Failure {Failure::Kind::ReadFailed, {}, 0, m_device.errorString()};
        return false;
    }
    return true;
}

bool TextLineReader::decodeNextBlock()
{
    if (!m_started && !detectEncoding())
        return false;
    const bool fileStart = !m_decodedAny;
    m_decodedAny = true;
    if (m_atEnd || !readBlock())
        return false;
    m_text.resize(0);
    m_position = 0;
    qsizetype cut = m_bytes.size();
    switch (m_encoding) {
    case TextEncoding::Utf8:
        cut = m_atEnd ? cut : utf8CutPoint(m_bytes);
        appendDecoded(m_text, QByteArrayView(m_bytes).first(cut), QStringDecoder::Utf8, fileStart);
        break;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
        const bool littleEndian = m_encoding == TextEncoding::Utf16LE;
        cut = m_atEnd ? cut : utf16CutPoint(m_bytes, littleEndian);
        appendDecoded(m_text, QByteArrayView(m_bytes).first(cut),
                      littleEndian ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE, fileStart);
        break;
    }
    case TextEncoding::Ansi:
        // The code page carries a character cut at the block's end over to the next block.
        m_ansiCodePage.decode(m_bytes, m_text, m_atEnd);
        break;
    }
    m_bytes.remove(0, cut);
    return true;
}

std::optional<LinePiece> TextLineReader::nextPiece()
{
    for (;;) {
        if (m_position < m_text.size()) {
            const QStringView rest = QStringView(m_text).sliced(m_position);
            if (m_skipLineFeed) { // the LF of a CR LF
                m_skipLineFeed = false;
                if (rest.front() == u'\n') {
                    ++m_position;
                    continue;
                }
            }
            const auto end = std::find_if(rest.begin(), rest.end(), isLineEnd);
            const qsizetype length = end - rest.begin();
            if (end == rest.end()) {
                m_position = m_text.size();
                m_lineOpen = true;
                return LinePiece {rest, false};
            }
            m_position += length + 1;
            m_skipLineFeed = *end == u'\r';
            m_lineOpen = false;
            return LinePiece {rest.first(length), true};
        }
        if (!decodeNextBlock()) {
            if (!m_lineOpen || m_failure)
                return std::nullopt;
            m_lineOpen = false; // the end of the file ends the last line
            return LinePiece {{}, true};
        }
    }
}

std::optional<QString> TextLineReader::nextLine()
{
    QString line;
    while (const std::optional<LinePiece> piece = nextPiece()) {
        line += piece->text;
        if (piece->endsLine)
            return line;
    }
    return std::nullopt;
}

} // namespace Tessaline
