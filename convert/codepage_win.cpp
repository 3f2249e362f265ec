// Code pages through the Windows conversions.
#include "codepage.h"

#include <qt_windows.h>

namespace Tessaline {

int systemAnsiCodePage()
{
    return int(GetACP());
}

QString decodeAnsi(QByteArrayView bytes, int codePage)
{
    if (bytes.isEmpty())
        return {};
    const int length = MultiByteToWideChar(UINT(codePage), 0, bytes.data(), int(bytes.size()), nullptr, 0);
    QString text(length, Qt::Uninitialized);
    MultiByteToWideChar(UINT(codePage), 0, bytes.data(), int(bytes.size()),
                        reinterpret_cast<wchar_t *>(text.data()), length);
    return text;
}

QByteArray encodeAnsi(QStringView text, int codePage)
{
    if (text.isEmpty())
        return {};
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    // UTF-8 takes neither flags nor a default character.
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char *defaultChar = utf8 ? nullptr : "?";
    const int length = WideCharToMultiByte(UINT(codePage), flags, wide, int(text.size()), nullptr, 0,
                                           defaultChar, nullptr);
    QByteArray bytes(length, Qt::Uninitialized);
    WideCharToMultiByte(UINT(codePage), flags, wide, int(text.size()), bytes.data(), length,
                        defaultChar, nullptr);
    return bytes;
}

} // namespace Tessaline
