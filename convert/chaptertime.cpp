#include "chaptertime.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace Tessaline {

namespace {

// One field of a time text: a decimal number, surrounding spaces and a leading sign allowed.
std::optional<int> readField(QStringView time, qsizetype from, qsizetype length)
{
    const QStringView field = time.mid(from, length);
    // Nearly every field is plain digits, read here without the general parser.
    if (field.size() == length
        && std::all_of(field.begin(), field.end(), [](QChar c) { return c.isDigit() && c.unicode() < 0x80; })) {
        int value = 0;
        for (const QChar c : field)
            value = value * 10 + (c.unicode() - u'0');
        return value;
    }
    bool ok = false;
    const int value = field.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

constexpr double kLargestSeconds = 1e12; // far past any chapter; keeps the frame count exact

using Wide = __int128;

// numerator / denominator to the nearest integer, a half to the even one; both positive.
Wide quotientHalfToEven(Wide numerator, Wide denominator)
{
    const Wide quotient = numerator / denominator;
    const Wide twiceRest = numerator % denominator * 2;
    return quotient + (twiceRest > denominator || (twiceRest == denominator && quotient % 2 != 0) ? 1 : 0);
}

// 30 fps to 30000/1001 fps, in any terms.
bool isThirtyToNtsc(const Retiming &retiming)
{
    return retiming.from.numerator == 30 * retiming.from.denominator
        && retiming.to.numerator * 1001 == 30000 * retiming.to.denominator;
}

// The double-precision steps below, in this order, are what chapter times of 30 to 29.97 fps
// produced earlier were computed with; the exact quotients differ on half-millisecond ties. Each
// factor is one division of two integers, so that they are 30 and 1.001 exactly.
std::optional<qint64> ntscMilliseconds(TimeFields time, const Retiming &retiming)
{
    const double framesPerSecond = double(retiming.from.numerator) / double(retiming.from.denominator);
    const double stretch = double(retiming.from.numerator * retiming.to.denominator)
        / double(retiming.from.denominator * retiming.to.numerator);
    const double inputSeconds = time.milliseconds / 1000.0 + double(time.wholeSeconds);
    if (inputSeconds < 0)
        return std::nullopt;
    const double frames = std::nearbyint(inputSeconds * framesPerSecond); // halves to even
    const double moved = frames / framesPerSecond * stretch; // s
    if (!(moved <= kLargestSeconds))
        return std::nullopt;
    const double whole = std::floor(moved);
    // A fraction of .9995 s or more rounds up into the next second.
    return qint64(whole) * 1000 + qint64(std::nearbyint((moved - whole) * 1000));
}

} // namespace

void appendPadded(QString &text, qint64 value, int width)
{
    char16_t digits[20];
    char16_t *const end = std::end(digits);
    char16_t *first = end;
    for (qint64 rest = std::max<qint64>(value, 0); rest > 0; rest /= 10)
        *--first = char16_t(u'0' + rest % 10);
    while (end - first < width)
        *--first = u'0';
    text.append(reinterpret_cast<const QChar *>(first), end - first);
}

QString PadTwo(qint64 value)
{
    QString text;
    appendPadded(text, value, 2);
    return text;
}

QString PadThree(qint64 value)
{
    QString text;
    appendPadded(text, value, 3);
    return text;
}

std::optional<TimeFields> readTimeFields(QStringView time)
{
    const auto hours = readField(time, 0, 2);
    const auto minutes = readField(time, 3, 2);
    const auto seconds = readField(time, 6, 2);
    const auto milliseconds = readField(time, 9, 3);
    if (!hours || !minutes || !seconds || !milliseconds)
        return std::nullopt;
    return TimeFields {qint64(*hours) * 3600 + qint64(*minutes) * 60 + *seconds, *milliseconds};
}

qint64 plainMilliseconds(TimeFields time)
{
    return time.wholeSeconds * 1000 + time.milliseconds;
}

std::optional<qint64> retimedMilliseconds(TimeFields time, const Retiming &retiming)
{
    if (isThirtyToNtsc(retiming))
        return ntscMilliseconds(time, retiming);
    const qint64 input = plainMilliseconds(time);
    if (input < 0)
        return std::nullopt;
    // frame = ms * p / (q * 1000) at the first rate; ms = frame * q * 1000 / p at the second.
    // Terms are at most 10^7 and times about 4 * 10^8 ms, so the products need more than 64 bits.
    const Wide frame
        = quotientHalfToEven(Wide(input) * retiming.from.numerator, Wide(retiming.from.denominator) * 1000);
    const Wide moved = quotientHalfToEven(frame * retiming.to.denominator * 1000, Wide(retiming.to.numerator));
    if (moved > Wide(kLargestSeconds) * 1000)
        return std::nullopt;
    return qint64(moved);
}

qint64 nearestFrame(qint64 milliseconds, FrameRate rate)
{
    return qint64(quotientHalfToEven(Wide(milliseconds) * rate.numerator, Wide(rate.denominator) * 1000));
}

void appendChapterTime(QString &text, qint64 milliseconds)
{
    const qint64 whole = milliseconds / 1000;
    appendPadded(text, whole / 3600, 2);
    text += u':';
    appendPadded(text, whole % 3600 / 60, 2);
    text += u':';
    appendPadded(text, whole % 60, 2);
    text += u'.';
    appendPadded(text, milliseconds % 1000, 3);
}

QString chapterTimeText(qint64 milliseconds)
{
    QString text;
    appendChapterTime(text, milliseconds);
    return text;
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

std::optional<FrameRate> parseFrameRate(QStringView text)
{
    static const QList<std::pair<QStringView, FrameRate>> names = {{u"23.976", {24000, 1001}},
                                                                   {u"29.97", {30000, 1001}},
                                                                   {u"47.952", {48000, 1001}},
                                                                   {u"59.94", {60000, 1001}},
                                                                   {u"119.88", {120000, 1001}}};
    for (const auto &[name, rate] : names) {
        if (text == name)
            return rate;
    }
    static const QRegularExpression grammar(QStringLiteral("^([0-9]+)(?:/([0-9]+))?$"));
    const QRegularExpressionMatch match = grammar.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    // Past 19 digits a term does not fit: it is over the limit all the same.
    const auto term = [](QStringView digits) {
        bool ok = false;
        const qint64 value = digits.toLongLong(&ok);
        return ok ? value : kLargestRateTerm + 1;
    };
    const FrameRate rate {term(match.capturedView(1)), match.hasCaptured(2) ? term(match.capturedView(2)) : 1};
    if (rate.numerator == 0 || rate.denominator == 0)
        return std::nullopt;
    return rate;
}

bool isWithinRateTerms(FrameRate rate)
{
    return rate.numerator <= kLargestRateTerm && rate.denominator <= kLargestRateTerm;
}

std::optional<qint64> parseOffsetMs(QStringView text)
{
    bool ok = false;
    const qint64 offset = text.toLongLong(&ok);
    if (!ok || offset < -kLargestOffsetMs || offset > kLargestOffsetMs)
        return std::nullopt;
    return offset;
}

} // namespace Tessaline
