// libFuzzer target: raw chapter file bytes through the conversion.
//
// Input layout: byte 0 selects the options, the remaining bytes are the chapter file.
//     bit 0     ShiftFrameRate
//     bit 1     UseNameBox
//     bit 2     OutputEncoding (0 Ansi, 1 Unicode)
//     bits 3-4  which names text (none, three lines, one empty line in the middle, Chinese)
//     bits 5-7  the ANSI code page
// For the selectors 1C, 1D, 3C and 3D (Unicode form, no names, code page 1252 or 936), the file
// is also converted behind a chapter that ends just before the reader's 1 MiB block boundary,
// and must give the same chapters there.
#include "conversion.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kCodePages[] = {1252, 936, 932, 65001, 949, 950, 1251, 437};
constexpr qsizetype kBlock = 1 << 20;

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

// The lines of a Unicode form: FF FE and UTF-16LE.
QStringList unicodeLines(const QByteArray &bytes)
{
    if (!bytes.startsWith("\xFF\xFE") || bytes.size() % 2 != 0)
        fail("Unicode form without its byte order mark, or of odd length");
    const QString text = QStringDecoder(QStringDecoder::Utf16LE).decode(QByteArrayView(bytes).sliced(2));
    return text.isEmpty() ? QStringList() : text.split(QStringLiteral("\r\n"));
}

// A line without its "CHAPTER<digits>" prefix, which differs once chapters are renumbered.
QStringView withoutNumber(QStringView line)
{
    qsizetype i = 7; // "CHAPTER"
    while (i < line.size() && line[i] >= u'0' && line[i] <= u'9')
        ++i;
    return line.sliced(i);
}

// The file behind one chapter whose time line is so long that the chapter ends shortBy bytes
// (less than 100) before the reader's block boundary.
QByteArray behindFiller(QByteArrayView file, int shortBy)
{
    QByteArray bytes(kBlock - shortBy, 'x');
    bytes.replace(0, 22, "CHAPTER01=00:00:01.000");
    const QByteArrayView name = "\r\nCHAPTER01NAME=f\r\n";
    std::copy(name.begin(), name.end(), bytes.end() - name.size());
    return bytes + file;
}

void checkAcrossBlockBoundary(QByteArrayView file, int shortBy, Tessaline::RunContext &run,
                              const Tessaline::Expected<QByteArray> &alone)
{
    // A byte order mark counts only at the start of a file.
    if (file.startsWith("\xEF\xBB\xBF") || file.startsWith("\xFF\xFE") || file.startsWith("\xFE\xFF"))
        return;
    const Tessaline::Expected<QByteArray> behind = Tessaline::convertBytes(behindFiller(file, shortBy), run);
    if (!alone && alone.error().kind == Tessaline::Failure::Kind::NoChapters) {
        if (!behind || unicodeLines(*behind).size() != 2)
            fail("behind another chapter, a file of no chapters gives chapters or fails");
        return;
    }
    if (bool(behind) != bool(alone))
        fail("behind another chapter, the file fails differently");
    if (!alone)
        return;
    const QStringList all = unicodeLines(*behind);
    const QStringList own = unicodeLines(*alone);
    if (all.size() != 2 + own.size())
        fail("behind another chapter, the file gives a different number of lines");
    for (qsizetype i = 0; i < own.size(); ++i) {
        if (withoutNumber(all[2 + i]) != withoutNumber(own[i]))
            fail("behind another chapter, a line differs", all[2 + i] + u" / " + own[i]);
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
    options.OutputEncoding = (selector & 4) ? Tessaline::OutputEncoding::Unicode : Tessaline::OutputEncoding::Ansi;
    options.NameBoxText = namesText((selector >> 3) & 3);
    options.codePage = kCodePages[(selector >> 5) & 7];
    // The simple-text path, whatever another format's probe would make of the bytes (fuzzreaders
    // covers the other readers).
    options.inputFormat = QStringLiteral("simple");
    // A run for each selector, prepared once: opening a code page tests all its ASCII bytes.
    static std::optional<Tessaline::RunContext> runs[256];
    if (!runs[selector]) {
        Tessaline::Expected<Tessaline::RunContext> prepared = Tessaline::prepareRun(options);
        if (!prepared)
            fail("code page not supported", QString::number(options.codePage));
        runs[selector] = std::move(*prepared);
    }
    Tessaline::RunContext *run = &*runs[selector];

    const QByteArrayView file(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const Tessaline::Expected<QByteArray> converted = Tessaline::convertBytes(file, *run);
    if (!converted) {
        // Without rescaling only the shape of the lines can fail a file.
        const Tessaline::Failure::Kind kind = converted.error().kind;
        if (!options.ShiftFrameRate && kind != Tessaline::Failure::Kind::BadInput
            && kind != Tessaline::Failure::Kind::NoChapters)
            fail("conversion failed without rescaling, not for its lines");
        if (kind == Tessaline::Failure::Kind::NoChapters && file.isEmpty())
            fail("an empty file holds no chapters");
        if ((selector & 0xDE) == 0x1C)
            checkAcrossBlockBoundary(file, size > 1 ? data[size - 1] % 100 : 0, *run, converted);
        return 0;
    }
    if (options.OutputEncoding == Tessaline::OutputEncoding::Ansi)
        return 0; // the Unicode form is the one that can be read back exactly
    if ((selector & 0xDE) == 0x1C)
        checkAcrossBlockBoundary(file, size > 1 ? data[size - 1] % 100 : 0, *run, converted);
    // Without rewrites the conversion is a fixed point: our own Unicode output converts to itself.
    if (!options.ShiftFrameRate && !options.UseNameBox) {
        const Tessaline::Expected<QByteArray> again = Tessaline::convertBytes(*converted, *run);
        if (!again || *again != *converted)
            fail("converting the Unicode output again changes it");
    }
    return 0;
}
