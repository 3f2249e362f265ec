// Code pages through ICU converters, for every system but Windows.
#include "codepage.h"

#include "localecodepage.h"

#include <unicode/ucnv.h>

#include <memory>

namespace Tessaline {

namespace {

constexpr int kUtf8CodePage = 65001;

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
    return text;
}

QByteArray encodeAnsi(QStringView text, int codePage)
{
    const Converter converter = openConverter(codePage);
    if (!converter || text.isEmpty())
        return {};
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
