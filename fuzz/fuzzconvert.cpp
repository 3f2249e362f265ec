// libFuzzer target: raw chapter file bytes through the conversion to both output forms.
//
// Input layout: byte 0 selects the options, the remaining bytes are the chapter file.
//     bit 0     ShiftFrameRate
//     bit 1     UseNameBox
//     bit 2     OutputEncoding (0 Ansi, 1 Unicode) for the write below; both forms are written
//     bits 3-4  which names text (none, three lines, one empty line in the middle, Chinese)
//     bits 5-7  the ANSI code page
// For the selectors 1C, 1D, 3C and 3D (no names, code page 1252 or 936), the file is also
// converted behind a chapter of about a megabyte, so that it straddles the reader's chunk
// boundary, and must give the same chapters there.
#include "chapterlist.h"
#include "chaptertime.h"
#include "codepage.h"
#include "conversion.h"

#include <QBuffer>
#include <QByteArray>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kCodePages[] = {1252, 936, 932, 65001, 949, 950, 1251, 1250};

const QString &namesText(int choice)
{
    static const QString texts[] = {
        QString(),
        QStringLiteral("Intro\r\nMiddle\r\nEnd"),
        QStringLiteral("One\r\n\r\nThree\r\n"),
        QStringLiteral("开场\r\n第二章\r\n片尾"),
    };
    return texts[choice];
}

[[noreturn]] void fail(const char *what, const QString &detail = {})
{
    std::fprintf(stderr, "fuzzconvert: %s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

bool isTimeShape(QStringView time)
{
    if (time.size() != 12)
        return false;
    for (qsizetype i = 0; i < 12; ++i) {
        const QChar c = time[i];
        const bool ok = (i == 2 || i == 5) ? c == u':' : i == 8 ? c == u'.' : (c >= u'0' && c <= u'9');
        if (!ok)
            return false;
    }
    return true;
}

// The output is pairs of lines "CHAPTERnn=<time>" and "CHAPTERnnNAME=<title>", numbered from 01.
void checkShape(const QString &text, const Tessaline::ConvertOptions &options)
{
    if (text.isEmpty())
        return;
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    if (lines.size() % 2 != 0)
        fail("odd number of output lines");
    for (qsizetype k = 0; k < lines.size() / 2; ++k) {
        const QString number = Tessaline::PadTwo(k + 1);
        const QString timePrefix = u"CHAPTER" + number + u'=';
        const QString namePrefix = u"CHAPTER" + number + u"NAME=";
        const QString &timeLine = lines[2 * k];
        const QString &nameLine = lines[2 * k + 1];
        if (!timeLine.startsWith(timePrefix) || timeLine.size() > timePrefix.size() + 12)
            fail("bad time line", timeLine);
        if (options.ShiftFrameRate && !isTimeShape(QStringView(timeLine).sliced(timePrefix.size())))
            fail("rescaled time not in HH:MM:SS.mmm shape", timeLine);
        if (!nameLine.startsWith(namePrefix))
            fail("bad name line", nameLine);
    }
}

QByteArray written(const QString &text, Tessaline::OutputEncoding encoding, int codePage)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!Tessaline::writeChapterText(buffer, text, encoding, codePage))
        fail("writeChapterText failed on a buffer");
    return bytes;
}

void checkUnicodeForm(const QString &text, const QByteArray &bytes)
{
    if (bytes.size() != 2 + 2 * text.size() || !bytes.startsWith("\xFF\xFE"))
        fail("Unicode form has the wrong length or no byte order mark");
    QStringDecoder decoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
    const QString back = decoder.decode(QByteArrayView(bytes).sliced(2));
    // A lone surrogate cannot come back unchanged; compare only well-formed texts.
    if (!decoder.hasError() && back != text)
        fail("Unicode form does not decode to the text");
}

void checkAnsiForm(const QString &text, const QByteArray &bytes, int codePage)
{
    if (text.isEmpty() != bytes.isEmpty())
        fail("Ansi form lost the text");
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    // Every one of these code pages writes ASCII as itself.
    if (ascii && bytes != text.toLatin1())
        fail("Ansi form of ASCII text is not the ASCII bytes");
    if (codePage != 65001 && bytes.size() > 2 * text.size())
        fail("Ansi form longer than two bytes a character");
}

// The file placed behind one chapter of plain ASCII whose time line is so long (its characters
// past the time field are dropped, so the output stays small) that the chapter ends `shortBy`
// bytes (less than 100) before the reader's 1 MiB chunk boundary, with a line end at its end.
// One buffer serves every run: large allocations are what such a run spends its time on.
QByteArrayView behindFiller(QByteArrayView file, int shortBy)
{
    constexpr qsizetype kChunk = 1 << 20;
    constexpr qsizetype kChanging = 128; // the name line and shortBy lie within the last bytes
    static QByteArray buffer;
    if (buffer.isEmpty()) {
        buffer = QByteArray(kChunk, 'x');
        buffer.replace(0, 22, "CHAPTER01=00:00:01.000");
    }
    buffer.resize(kChunk);
    std::fill(buffer.end() - kChanging, buffer.end(), 'x');
    const QByteArrayView name = "\r\nCHAPTER01NAME=f\r\n";
    buffer.truncate(kChunk - shortBy);
    std::copy(name.begin(), name.end(), buffer.end() - name.size());
    buffer.append(file);
    return buffer;
}

// A line without its "CHAPTER<digits>" prefix, which differs once chapters are renumbered.
QStringView withoutNumber(QStringView line)
{
    qsizetype i = 7; // "CHAPTER"
    while (i < line.size() && line[i] >= u'0' && line[i] <= u'9')
        ++i;
    return line.sliced(i);
}

// The file converted after the filler must give the filler's chapters, then its own.
void checkAcrossChunkBoundary(QByteArrayView file, int shortBy, const Tessaline::ConvertOptions &options,
                              const Tessaline::ConvertedText &alone)
{
    // A byte order mark counts only at the start of a file.
    if (file.startsWith("\xEF\xBB\xBF") || file.startsWith("\xFF\xFE") || file.startsWith("\xFE\xFF"))
        return;
    constexpr qsizetype fillerChapters = 1;
    const Tessaline::ConvertedText behind
        = Tessaline::convertChapterBytes(behindFiller(file, shortBy), options);
    if (behind.error.isEmpty() != alone.error.isEmpty())
        fail("behind other chapters, the file fails differently", behind.error + alone.error);
    if (!alone.error.isEmpty())
        return;
    const QStringList all = behind.text.split(QStringLiteral("\r\n"));
    const QStringList own = alone.text.isEmpty() ? QStringList() : alone.text.split(QStringLiteral("\r\n"));
    if (all.size() != 2 * fillerChapters + own.size())
        fail("behind other chapters, the file gives a different number of lines");
    for (qsizetype i = 0; i < own.size(); ++i) {
        if (withoutNumber(all[2 * fillerChapters + i]) != withoutNumber(own[i]))
            fail("behind other chapters, a line differs", all[2 * fillerChapters + i] + u" / " + own[i]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int selector = data[0];
    Tessaline::ConvertOptions options;
    options.ShiftFrameRate = selector & 1;
    options.UseNameBox = selector & 2;
    options.OutputEncoding
        = (selector & 4) ? Tessaline::OutputEncoding::Unicode : Tessaline::OutputEncoding::Ansi;
    options.NameBoxText = namesText((selector >> 3) & 3);
    options.codePage = kCodePages[(selector >> 5) & 7];
    if (!Tessaline::isCodePageSupported(options.codePage))
        fail("code page not supported", QString::number(options.codePage));

    const QByteArrayView file(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const Tessaline::ConvertedText converted = Tessaline::convertChapterBytes(file, options);
    // Only for four selectors (code page 1252 or 936, with and without rescaling): one such run
    // costs about a hundred plain runs.
    if ((selector & 0xDE) == 0x1C)
        checkAcrossChunkBoundary(file, size > 1 ? data[size - 1] % 100 : 0, options, converted);
    if (!converted.error.isEmpty()) {
        if (!converted.text.isEmpty())
            fail("a failed conversion returned text");
        if (!options.ShiftFrameRate)
            fail("conversion failed without rescaling", converted.error);
        return 0;
    }
    checkShape(converted.text, options);

    const QByteArray unicode = written(converted.text, Tessaline::OutputEncoding::Unicode, options.codePage);
    checkUnicodeForm(converted.text, unicode);
    const QByteArray ansi = written(converted.text, Tessaline::OutputEncoding::Ansi, options.codePage);
    checkAnsiForm(converted.text, ansi, options.codePage);
    (void)written(converted.text, options.OutputEncoding, options.codePage);

    // Without rewrites the conversion is a fixed point: reading our own Unicode output back gives
    // the same text.
    if (!options.ShiftFrameRate && !options.UseNameBox) {
        const Tessaline::ConvertedText again = Tessaline::convertChapterBytes(unicode, options);
        if (!again.error.isEmpty() || again.text != converted.text)
            fail("reading the Unicode output back changes it", again.text.left(200));
    }
    return 0;
}
