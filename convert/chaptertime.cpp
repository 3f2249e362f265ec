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

constexpr double kFramesPerSecond = 30.0; // the timing the input times are snapped to
constexpr double kSlowdown = 1.001;       // 29.97 fps is 30/1.001 fps
constexpr qint64 kLargestHours = 99;      // HH holds two digits

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

std::optional<QString> ShiftChapterTime(QStringView time)
{
    const auto hours = readField(time, 0, 2);
    const auto minutes = readField(time, 3, 2);
    const auto seconds = readField(time, 6, 2);
    const auto milliseconds = readField(time, 9, 3);
    if (!hours || !minutes || !seconds || !milliseconds)
        return std::nullopt;

    // The double-precision steps below, in this order, are what chapter times produced earlier were
    // computed with; an exact rational formula would differ on half-millisecond ties.
    const qint64 wholeSeconds = qint64(*hours) * 3600 + qint64(*minutes) * 60 + *seconds;
    const double inputSeconds = *milliseconds / 1000.0 + double(wholeSeconds);
    if (inputSeconds < 0)
        return std::nullopt;
    const double frames = std::nearbyint(inputSeconds * kFramesPerSecond); // halves to even
    const double shifted = frames / kFramesPerSecond * kSlowdown;          // s

    qint64 shiftedWhole = qint64(std::floor(shifted));
    qint64 shiftedMs = qint64(std::nearbyint((shifted - std::floor(shifted)) * 1000));
    if (shiftedMs == 1000) { // a fraction of .9995 s or more rounds up into the next second
        ++shiftedWhole;
        shiftedMs = 0;
    }
    const qint64 shiftedHours = shiftedWhole / 3600;
    if (shiftedHours > kLargestHours)
        return std::nullopt;

    return PadTwo(shiftedHours) + QLatin1Char(':') + PadTwo(shiftedWhole % 3600 / 60)
        + QLatin1Char(':') + PadTwo(shiftedWhole % 60) + QLatin1Char('.') + PadThree(shiftedMs);
}

} // namespace Tessaline
