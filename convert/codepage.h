#pragma once

#include "failure.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The Windows ANSI code pages that chapter files without a byte order mark are written in. Windows
// answers with its own conversions; elsewhere ICU converts and the code page follows the locale.
namespace Tessaline {

// The system's ANSI code page (936, 932, 1252, ...; 65001 stands for UTF-8).
int systemAnsiCodePage();

// One code page, opened for a run. Text streams through it in pieces: a character cut between
// two pieces is carried over to the next call, until a call marked last. Not for use by two
// threads at once.
class CodePage
{
public:
    // The code page, or why it cannot be used. Chapter files need the bytes 00-7F to stay the
    // ASCII characters they are, both ways; a page whose converter only permutes them (ICU's
    // tables for 932 and the OEM pages swap 1A, 1C and 7F) is corrected, any other is refused.
    static Expected<CodePage> open(int number);

    CodePage(CodePage &&other) noexcept;
    CodePage &operator=(CodePage &&other) noexcept;
    ~CodePage();

    // Appends the text of bytes to text; bytes that form no character become U+FFFD.
    void decode(QByteArrayView bytes, QString &text, bool last);

    // Appends the bytes of text; a character the page cannot represent becomes '?', with no
    // look-alike substitutes. The number of characters so replaced.
    qsizetype encode(QStringView text, QByteArray &bytes, bool last);

    // Forgets a character cut at the end of the last call, as at the start of a new text.
    void reset();

    // Whole conversions, for short texts.
    QString decoded(QByteArrayView bytes);
    QByteArray encoded(QStringView text);

    struct Converter;

private:
    explicit CodePage(std::unique_ptr<Converter> converter);

    std::unique_ptr<Converter> m_converter;
};

} // namespace Tessaline
