#pragma once

#include <QByteArray>
#include <QString>

// The Windows ANSI code pages that chapter files without a byte order mark are written in. Windows
// answers with its own conversions; elsewhere ICU converts and the code page follows the locale.
namespace Tessaline {

// The system's ANSI code page (936, 932, 1252, ...; 65001 stands for UTF-8).
int systemAnsiCodePage();

// Whether text can be converted to and from this code page here, and the code page keeps ASCII
// as it is (as every ANSI code page does).
bool isCodePageSupported(int codePage);

// Decodes bytes in the code page; bytes that form no character of it become U+FFFD.
QString decodeAnsi(QByteArrayView bytes, int codePage);

// Encodes text in the code page; characters that it cannot represent become '?', with no
// look-alike substitutes.
QByteArray encodeAnsi(QStringView text, int codePage);

} // namespace Tessaline
