// libFuzzer target: ShiftChapterTime on arbitrary 12-character texts.
//
// Input layout: byte 0 chooses how the text is made. Even: the next 12 bytes are 12 Latin-1
// characters (so digits, signs and spaces come up often). Odd: the next 24 bytes are 12 UTF-16LE
// code units (any character, lone surrogates included).
#include "chaptertime.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QString &time, const QString &result)
{
    std::fprintf(stderr, "fuzzshifttime: %s: \"%s\" gave \"%s\"\n", what, time.toUtf8().constData(),
                 result.toUtf8().constData());
    std::abort();
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

int digits(QStringView text)
{
    int value = 0;
    for (QChar c : text)
        value = value * 10 + (c.unicode() - u'0');
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    constexpr qsizetype kLength = 12;
    if (size < 1)
        return 0;
    QString time;
    if (data[0] % 2 == 0) {
        if (size < 1 + kLength)
            return 0;
        time = QString::fromLatin1(reinterpret_cast<const char *>(data) + 1, kLength);
    } else {
        if (size < 1 + 2 * kLength)
            return 0;
        time.resize(kLength);
        for (qsizetype i = 0; i < kLength; ++i)
            time[i] = QChar(char16_t(data[1 + 2 * i] | (data[2 + 2 * i] << 8)));
    }

    const std::optional<QString> shifted = Tessaline::ShiftChapterTime(time);
    if (!shifted)
        return 0;
    const QString &result = *shifted;

    // Exactly HH:MM:SS.mmm with minutes and seconds below 60.
    if (result.size() != kLength)
        fail("result is not 12 characters", time, result);
    for (qsizetype i = 0; i < kLength; ++i) {
        const QChar c = result[i];
        const bool ok = (i == 2 || i == 5) ? c == u':' : i == 8 ? c == u'.' : isDigit(c);
        if (!ok)
            fail("result is not in HH:MM:SS.mmm shape", time, result);
    }
    const QStringView view(result);
    if (digits(view.sliced(3, 2)) > 59 || digits(view.sliced(6, 2)) > 59)
        fail("minutes or seconds of 60 or more", time, result);

    // Within a millisecond of the exact start of the frame: frames * 1001 / 30 ms, where frames
    // is the input in ms * 30 / 1000 rounded. The fields are read as the function documents.
    bool ok[4] = {};
    const qint64 hours = QStringView(time).sliced(0, 2).toInt(&ok[0]);
    const qint64 minutes = QStringView(time).sliced(3, 2).toInt(&ok[1]);
    const qint64 seconds = QStringView(time).sliced(6, 2).toInt(&ok[2]);
    const qint64 millis = QStringView(time).sliced(9, 3).toInt(&ok[3]);
    if (!(ok[0] && ok[1] && ok[2] && ok[3]))
        fail("a result for a time whose fields are not all numbers", time, result);
    const qint64 inputMs = ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis;
    if (inputMs < 0)
        fail("a result for a negative time", time, result);
    // frames = inputMs * 30 / 1000 = inputMs * 3 / 100, to the nearest; an exact half may go
    // either way, as the double-precision steps see it.
    const qint64 whole = inputMs * 3 / 100;
    const qint64 remainder = inputMs * 3 % 100;
    const qint64 lowest = remainder > 50 ? whole + 1 : whole;
    const qint64 highest = remainder >= 50 ? whole + 1 : whole;
    const qint64 resultMs
        = ((digits(view.sliced(0, 2)) * 60 + digits(view.sliced(3, 2))) * 60 + digits(view.sliced(6, 2)))
            * qint64(1000)
        + digits(view.sliced(9, 3));
    bool near = false;
    for (qint64 frames = lowest; frames <= highest; ++frames)
        near = near || std::abs(double(resultMs) - double(frames) * 1001 / 30) <= 1.0;
    if (!near)
        fail("result more than 1 ms from the rescaled frame start", time, result);
    return 0;
}
