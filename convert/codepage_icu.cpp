// Code pages through ICU converters, for every system but Windows.
#include "codepage.h"

#include "localecodepage.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <memory>

namespace Tessaline {

namespace {

constexpr int kUtf8CodePage = 65001;
constexpr int kShiftJisCodePage = 932;

// ICU's windows-932 table (ibm-943_P15A-2003) keeps IBM's layout for three control codes: it
// reads the bytes 1A, 1C and 7F as U+001C, U+007F and U+001A, and writes them back the same way.
// Windows' code page 932 reads every byte below 80 as itself. No other byte sequence of the table
// gives or takes these three characters, so rotating them back is exact.
char16_t fromIcuShiftJis(char16_t c)
{
    switch (c) {
    case 0x1C: return 0x1A;
    case 0x7F: return 0x1C;
    case 0x1A: return 0x7F;
    default: return c;
    }
}

char16_t toIcuShiftJis(char16_t c)
{
    switch (c) {
    case 0x1A: return 0x1C;
    case 0x1C: return 0x7F;
    case 0x7F: return 0x1A;
    default: return c;
    }
}

struct ConverterCloser
{
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openConverter(int codePage)
{
    const QByteArray name = codePage == kUtf8CodePage ? QByteArray("UTF-8")
                                                      : "windows-" + QByteArray::number(codePage);
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name.constData(), &status));
    if (U_FAILURE(status))
        return nullptr;
    // ICU's own substitute for the windows-125x pages is the control byte 1A.
    ucnv_setSubstChars(converter.get(), "?", 1, &status);
    return converter;
}

} // namespace

int systemAnsiCodePage()
{
    return ansiCodePageFromEnvironment();
}

QString decodeAnsi(QByteArrayView bytes, int codePage)
{
    const Converter converter = openConverter(codePage);
    if (!converter || bytes.isEmpty())
        return {};
    // No code page yields more UTF-16 units than it has bytes.
    QString text(bytes.size(), Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter.get(), reinterpret_cast<UChar *>(text.data()),
                                         int32_t(text.size()), bytes.data(), int32_t(bytes.size()),
                                         &status);
    if (U_FAILURE(status))
        return {};
    text.truncate(length);
    if (codePage == kShiftJisCodePage) {
        for (QChar &c : text)
            c = QChar(fromIcuShiftJis(c.unicode()));
    }
    return text;
}

QByteArray encodeAnsi(QStringView text, int codePage)
{
    const Converter converter = openConverter(codePage);
    if (!converter || text.isEmpty())
        return {};
    QString rotated;
    if (codePage == kShiftJisCodePage) {
        rotated.resize(text.size());
        std::transform(text.begin(), text.end(), rotated.begin(),
                       [](QChar c) { return QChar(toIcuShiftJis(c.unicode())); });
        text = rotated;
    }
    QByteArray bytes(qsizetype(UCNV_GET_MAX_BYTES_FOR_STRING(text.size(), ucnv_getMaxCharSize(converter.get()))),
                     Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_fromUChars(converter.get(), bytes.data(), int32_t(bytes.size()),
                                           reinterpret_cast<const UChar *>(text.utf16()),
                                           int32_t(text.size()), &status);
    if (U_FAILURE(status))
        return {};
    bytes.truncate(length);
    return bytes;
}

} // namespace Tessaline
