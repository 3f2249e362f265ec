#include "codepage.h"

namespace Tessaline {

bool isCodePageSupported(int codePage)
{
    // Chapter files need printable ASCII, tabs and line ends to stay themselves, which rules out
    // UTF-16, UTF-7 and EBCDIC pages. (Some pages move other control codes: 932 swaps 1A and
    // 7F.) A code page that cannot be converted at all decodes to nothing.
    QByteArray ascii = "\t\n\r";
    for (char c = ' '; c < 0x7F; ++c)
        ascii += c;
    const QString text = QString::fromLatin1(ascii);
    return decodeAnsi(ascii, codePage) == text && encodeAnsi(text, codePage) == ascii;
}

} // namespace Tessaline
