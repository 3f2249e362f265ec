#include "chaptertime.h"

#include <cmath>

namespace Tessaline {

namespace {

// One field of a time text: a decimal number, surrounding spaces and a leading sign allowed.
std::optional<int> readField(QStringView time, qsizetype from, qsizetype length)
{
    bool ok = false;
    const int value = time.mid(from, length).toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

constexpr double kLargestSeconds = 1e12; // far past any chapter; keeps the frame count exact

} // namespace

QString PadTwo(qint64 value)
{
    if (value <= 0)
        return QStringLiteral("00");
    if (value < 10)
        return QLatin1Char('0') + QString::number(value);
    return QString::number(value);
}

QString PadThree(qint64 value)
{
    if (value <= 0)
        return QStringLiteral("000");
    if (value < 10)
        return QStringLiteral("00") + QString::number(value);
    if (value < 100)
        return QLatin1Char('0') + QString::number(value);
    return QString::number(value);
}

std::optional<TimeFields> readTimeFields(QStringView time)
{
    const auto hours = readField(time, 0, 2);
    const auto minutes = readField(time, 3, 2);
    const auto seconds = readField(time, 6, 2);
    const auto milliseconds = readField(time, 9, 3);
    if (!hours || !minutes || !seconds || !milliseconds)
        return std::nullopt;
    return TimeFields{qint64(*hours) * 3600 + qint64(*minutes) * 60 + *seconds, *milliseconds};
}

qint64 plainMilliseconds(TimeFields time)
{
    return time.wholeSeconds * 1000 + time.milliseconds;
}

std::optional<qint64> retimedMilliseconds(TimeFields time, const Retiming &retiming)
{
    // The double-precision steps below, in this order, are what chapter times produced earlier
    // were computed with; an exact rational formula would differ on half-millisecond ties. Each
    // factor is one division of two integers, so that 30 to 29.97 fps gives 30 and 1.001 exactly.
    const double framesPerSecond = double(retiming.from.numerator) / double(retiming.from.denominator);
    const double stretch = double(retiming.from.numerator * retiming.to.denominator)
        / double(retiming.from.denominator * retiming.to.numerator);
    const double inputSeconds = time.milliseconds / 1000.0 + double(time.wholeSeconds);
    if (inputSeconds < 0)
        return std::nullopt;
    const double frames = std::nearbyint(inputSeconds * framesPerSecond); // halves to even
    const double moved = frames / framesPerSecond * stretch;               // s
    if (!(moved <= kLargestSeconds))
        return std::nullopt;
    const double whole = std::floor(moved);
    // A fraction of .9995 s or more rounds up into the next second.
    return qint64(whole) * 1000 + qint64(std::nearbyint((moved - whole) * 1000));
}

QString chapterTimeText(qint64 milliseconds)
{
    const qint64 whole = milliseconds / 1000;
    return PadTwo(whole / 3600) + QLatin1Char(':') + PadTwo(whole % 3600 / 60) + QLatin1Char(':')
        + PadTwo(whole % 60) + QLatin1Char('.') + PadThree(milliseconds % 1000);
}

std::optional<QString> ShiftChapterTime(QStringView time)
{
    const std::optional<TimeFields> fields = readTimeFields(time);
    if (!fields)
        return std::nullopt;
    const std::optional<qint64> moved = retimedMilliseconds(*fields, Retiming());
    if (!moved || *moved > kLargestChapterTime)
        return std::nullopt;
    return chapterTimeText(*moved);
}

} // namespace Tessaline
