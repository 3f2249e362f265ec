#pragma once

#include <QString>

namespace Tessaline {

// The Windows ANSI code page of a POSIX locale name such as "zh_CN.UTF-8" or "sr_RS@latin",
// as Windows-compatible layers find it: the charset is ignored, @latin and @cyrillic name the
// script, and an unknown name falls back to its language, then to en-US (1252). "C", "POSIX"
// and the empty name give 1252.
int ansiCodePageForLocale(QStringView posixLocale);

// The code page of the effective character-type locale: the first non-empty of LC_ALL,
// LC_CTYPE and LANG, whether or not that locale is installed.
int ansiCodePageFromEnvironment();

} // namespace Tessaline
