// Code pages through ICU converters, for every system but Windows.
#include "codepage.h"

#include "localecodepage.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <array>

namespace Tessaline {

namespace {

constexpr int kUtf8CodePage = 65001;
constexpr int kAscii = 0x80;

struct ConverterCloser
{
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};

// What ICU makes of one ASCII byte, and of one ASCII character; -1 when it is not one ASCII
// character or byte.
int icuCharOfByte(UConverter *converter, char byte)
{
    UChar text[4];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter);
    const int32_t length = ucnv_toUChars(converter, text, 4, &byte, 1, &status);
    return U_SUCCESS(status) && length == 1 && text[0] < kAscii ? int(text[0]) : -1;
}

int icuByteOfChar(UConverter *converter, UChar c)
{
    char bytes[8];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(converter);
    const int32_t length = ucnv_fromUChars(converter, bytes, 8, &c, 1, &status);
    return U_SUCCESS(status) && length == 1 && uchar(bytes[0]) < kAscii ? int(uchar(bytes[0])) : -1;
}

// ICU's substitution, counting the characters substituted in the qsizetype at context.
void countingSubstitute(const void *context, UConverterFromUnicodeArgs *args, const UChar *codeUnits, int32_t length,
                        UChar32 codePoint, UConverterCallbackReason reason, UErrorCode *error)
{
    if (reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR)
        ++*static_cast<qsizetype *>(const_cast<void *>(context));
    UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, codeUnits, length, codePoint, reason, error);
}

} // namespace

struct CodePage::Converter
{
    std::unique_ptr<UConverter, ConverterCloser> icu;
    // Windows reads every byte below 80 as the character of the same value. toIcu[c] is the
    // character ICU takes for byte c, fromIcu its inverse; the identity for most pages.
    std::array<char16_t, kAscii> toIcu;
    std::array<char16_t, kAscii> fromIcu;
    bool corrected = false;
    QString scratch; // text on its way to ICU, when corrected
    qsizetype substituted = 0; // characters written as '?' by the encode() under way
};

CodePage::CodePage(std::unique_ptr<Converter> converter) : m_converter(std::move(converter))
{ }

CodePage::CodePage(CodePage &&other) noexcept = default;
CodePage &CodePage::operator=(CodePage &&other) noexcept = default;
CodePage::~CodePage() = default;

Expected<CodePage> CodePage::open(int number)
{
    const Failure unsupported {Failure::Kind::UnsupportedCodePage, {}, 0, QString::number(number)};
    const QByteArray name = number == kUtf8CodePage ? QByteArray("UTF-8") : "windows-" + QByteArray::number(number);
    UErrorCode status = U_ZERO_ERROR;
    auto converter = std::make_unique<Converter>();
    converter->icu.reset(ucnv_open(name.constData(), &status));
    if (U_FAILURE(status))
        return unsupported;
    UConverter *icu = converter->icu.get();
    // ICU's own substitute for the windows-125x pages is the control byte 1A.
    ucnv_setSubstChars(icu, "?", 1, &status);
    ucnv_setFromUCallBack(icu, countingSubstitute, &converter->substituted, nullptr, nullptr, &status);

    // Each of the 128 bytes must be read as one ASCII character and written back as itself;
    // the characters so read must be all 128 of them.
    std::array<bool, kAscii> taken {};
    for (int byte = 0; byte < kAscii; ++byte) {
        const int c = icuCharOfByte(icu, char(byte));
        if (c < 0 || taken[c] || icuByteOfChar(icu, UChar(c)) != byte)
            return unsupported;
        taken[c] = true;
        converter->toIcu[byte] = char16_t(c);
        converter->fromIcu[c] = char16_t(byte);
        converter->corrected |= c != byte;
    }
    ucnv_reset(icu);
    return CodePage(std::move(converter));
}

void CodePage::decode(QByteArrayView bytes, QString &text, bool last)
{
    UConverter *icu = m_converter->icu.get();
    const qsizetype start = text.size();
    // No code page yields more UTF-16 units than it takes bytes, but a character carried over
    // from the last call may add a few.
    qsizetype capacity = bytes.size() + 8;
    const char *source = bytes.data();
    const char *const sourceEnd = source + bytes.size();
    qsizetype written = start;
    for (;;) {
        text.resize(start + capacity);
        auto *const base = reinterpret_cast<UChar *>(text.data());
        UChar *target = base + written;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(icu, &target, base + text.size(), &source, sourceEnd, nullptr, last, &status);
        written = target - base;
        if (status != U_BUFFER_OVERFLOW_ERROR)
            break;
        capacity *= 2;
    }
    text.truncate(written);
    if (last)
        ucnv_resetToUnicode(icu);
    if (m_converter->corrected) {
        QChar *const chars = text.data();
        for (qsizetype i = start; i < written; ++i) {
            if (chars[i].unicode() < kAscii)
                chars[i] = QChar(m_converter->fromIcu[chars[i].unicode()]);
        }
    }
}

void CodePage::reset()
{
    ucnv_reset(m_converter->icu.get());
}

qsizetype CodePage::encode(QStringView text, QByteArray &bytes, bool last)
{
    UConverter *icu = m_converter->icu.get();
    m_converter->substituted = 0;
    if (m_converter->corrected) {
        QString &scratch = m_converter->scratch;
        scratch.resize(text.size());
        std::transform(text.begin(), text.end(), scratch.begin(),
                       [this](QChar c) { return c.unicode() < kAscii ? QChar(m_converter->toIcu[c.unicode()]) : c; });
        text = scratch;
    }
    const qsizetype start = bytes.size();
    bytes.resize(start + UCNV_GET_MAX_BYTES_FOR_STRING(text.size(), ucnv_getMaxCharSize(icu)) + 16);
    auto *source = reinterpret_cast<const UChar *>(text.utf16());
    char *target = bytes.data() + start;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_fromUnicode(icu, &target, bytes.data() + bytes.size(), &source, source + text.size(), nullptr, last, &status);
    bytes.truncate(target - bytes.data());
    if (last)
        ucnv_resetFromUnicode(icu);
    return m_converter->substituted;
}

int systemAnsiCodePage()
{
    return ansiCodePageFromEnvironment();
}

} // namespace Tessaline
