// Code pages through the Windows conversions.
#include "codepage.h"

#include <qt_windows.h>

#include <algorithm>

namespace Tessaline {

struct CodePage::Converter
{
    UINT page;
    QByteArray carried; // the start of a character cut at the end of the last decode
    QString carriedText; // a high surrogate cut from its pair at the end of the last encode
};

namespace {

// How many bytes at the start of bytes form whole characters of the page.
qsizetype wholeCharacters(UINT page, QByteArrayView bytes)
{
    qsizetype position = 0;
    while (position < bytes.size()) {
        const qsizetype length = page == CP_UTF8 ? (uchar(bytes[position]) >= 0xF0       ? 4
                                                        : uchar(bytes[position]) >= 0xE0 ? 3
                                                        : uchar(bytes[position]) >= 0xC0 ? 2
                                                                                         : 1)
                                                 : (IsDBCSLeadByteEx(page, BYTE(bytes[position])) ? 2 : 1);
        if (position + length > bytes.size())
            break;
        position += length;
    }
    return position;
}

QString wideOf(UINT page, QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    const int length = MultiByteToWideChar(page, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    QString text(length, Qt::Uninitialized);
    MultiByteToWideChar(page, 0, bytes.data(), int(bytes.size()), reinterpret_cast<wchar_t *>(text.data()), length);
    return text;
}

// usedDefault, where given, is set when a character became the default '?'.
QByteArray plainBytesOf(UINT page, QStringView text, BOOL *usedDefault = nullptr)
{
    if (text.isEmpty())
        return {};
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    // UTF-8 takes neither flags nor a default character.
    const bool utf8 = page == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char *defaultChar = utf8 ? nullptr : "?";
    const int length = WideCharToMultiByte(page, flags, wide, int(text.size()), nullptr, 0, defaultChar, nullptr);
    QByteArray bytes(length, Qt::Uninitialized);
    WideCharToMultiByte(page, flags, wide, int(text.size()), bytes.data(), length, defaultChar,
                        utf8 ? nullptr : usedDefault);
    return bytes;
}

// The text with each half of a surrogate pair that stands alone, which UTF-8 cannot hold, as a
// '?' (Windows would write U+FFFD; ICU writes the '?' elsewhere); replaced counts them.
QString withUnpairedSurrogatesReplaced(QStringView text, qsizetype &replaced)
{
    QString plain = text.toString();
    for (qsizetype i = 0; i < plain.size(); ++i) {
        if (plain[i].isHighSurrogate() && i + 1 < plain.size() && plain[i + 1].isLowSurrogate()) {
            ++i;
        } else if (plain[i].isSurrogate()) {
            plain[i] = u'?';
            ++replaced;
        }
    }
    return plain;
}

// Windows writes a '?' for each half of a character beyond U+FFFF that the page cannot hold:
// such a pair is converted alone, and one character becomes one '?', as ICU does elsewhere.
// replaced counts the characters that the page cannot hold. Windows says only whether the
// default was used; the '?' bytes beyond the text's own are then the count (in the ANSI pages no
// byte of a character is 3F but '?'s), and at least one.
QByteArray bytesOf(UINT page, QStringView text, qsizetype &replaced)
{
    if (page == CP_UTF8)
        return plainBytesOf(page, withUnpairedSurrogatesReplaced(text, replaced));
    QByteArray bytes;
    const auto appendPlain = [&](QStringView part) {
        BOOL usedDefault = FALSE;
        const QByteArray plain = plainBytesOf(page, part, &usedDefault);
        if (usedDefault)
            replaced += std::max<qsizetype>(1, plain.count('?') - part.count(u'?'));
        bytes += plain;
    };
    qsizetype start = 0;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (!text[i].isHighSurrogate() || !text[i + 1].isLowSurrogate())
            continue;
        appendPlain(text.sliced(start, i - start));
        BOOL usedDefault = FALSE;
        const QByteArray pair = plainBytesOf(page, text.sliced(i, 2), &usedDefault);
        bytes += usedDefault ? QByteArray("?") : pair;
        replaced += usedDefault ? 1 : 0;
        start = ++i + 1;
    }
    appendPlain(text.sliced(start));
    return bytes;
}

} // namespace

CodePage::CodePage(std::unique_ptr<Converter> converter) : m_converter(std::move(converter))
{ }

CodePage::CodePage(CodePage &&other) noexcept = default;
CodePage &CodePage::operator=(CodePage &&other) noexcept = default;
CodePage::~CodePage() = default;

Expected<CodePage> CodePage::open(int number)
{
    const Failure unsupported {Failure::Kind::UnsupportedCodePage, {}, 0, QString::number(number)};
    const UINT page = UINT(number);
    if (number <= 0 || !IsValidCodePage(page))
        return unsupported;
    QByteArray ascii;
    for (int byte = 0; byte < 0x80; ++byte)
        ascii += char(byte);
    const QString text = QString::fromLatin1(ascii);
    qsizetype replaced = 0;
    if (wideOf(page, ascii) != text || bytesOf(page, text, replaced) != ascii)
        return unsupported;
    return CodePage(std::make_unique<Converter>(Converter {page, {}, {}}));
}

void CodePage::decode(QByteArrayView bytes, QString &text, bool last)
{
    QByteArray &carried = m_converter->carried;
    carried += bytes;
    const qsizetype whole = last ? carried.size() : wholeCharacters(m_converter->page, carried);
    text += wideOf(m_converter->page, QByteArrayView(carried).first(whole));
    carried.remove(0, whole);
}

void CodePage::reset()
{
    m_converter->carried.clear();
    m_converter->carriedText.clear();
}

qsizetype CodePage::encode(QStringView text, QByteArray &bytes, bool last)
{
    QString &carried = m_converter->carriedText;
    carried += text;
    qsizetype whole = carried.size();
    if (!last && whole > 0 && carried[whole - 1].isHighSurrogate())
        --whole;
    qsizetype replaced = 0;
    bytes += bytesOf(m_converter->page, QStringView(carried).first(whole), replaced);
    carried.remove(0, whole);
    return replaced;
}

int systemAnsiCodePage()
{
    return int(GetACP());
}

} // namespace Tessaline
