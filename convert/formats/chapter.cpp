#include "chapter.h"

#include <QFileInfo>

#include <limits>

namespace Tessaline {

std::optional<qint64> roundedMilliseconds(qint64 ticks, qint64 numerator, qint64 denominator)
{
    if (numerator <= 0 || denominator <= 0)
        return std::nullopt;
    // ticks × numerator fits in 128 bits (each is below 2^63 in size); × 1000 may not, but only
    // where the quotient by a denominator below 2^63 would be past 2^64 ms, out of range anyway.
    __int128 scaled = 0;
    if (__builtin_mul_overflow(__int128(ticks) * numerator, 1000, &scaled))
        return std::nullopt;
    __int128 quotient = scaled / denominator;
    __int128 remainder = scaled % denominator;
    if (remainder < 0) { // floor division, so that halves are judged the same on both sides of 0
        --quotient;
        remainder += denominator;
    }
    const __int128 twice = remainder * 2;
    if (twice > denominator || (twice == denominator && (quotient & 1) != 0))
        ++quotient;
    if (quotient > std::numeric_limits<qint64>::max() || quotient < std::numeric_limits<qint64>::min())
        return std::nullopt;
    return qint64(quotient);
}

ChapterList numberedChapters(const QList<qint64> &starts, qint64 ticksPerSecond, qint64 end)
{
    ChapterList chapters;
    chapters.reserve(starts.size());
    for (const qint64 ticks : starts) {
        chapters.append(Chapter {*roundedMilliseconds(ticks, 1, ticksPerSecond),
                                 QStringLiteral("Chapter %1").arg(chapters.size() + 1, 2, 10, QLatin1Char('0'))});
    }
    if (!chapters.isEmpty())
        chapters.last().endMs = roundedMilliseconds(end, 1, ticksPerSecond);
    return chapters;
}

Expected<ChapterList> inMediaFile(Expected<ChapterList> chapters, const QString &path)
{
    if (chapters) {
        const QString name = QFileInfo(path).fileName();
        for (Chapter &chapter : *chapters)
            chapter.media = name;
    }
    return chapters;
}

} // namespace Tessaline
