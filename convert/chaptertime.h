#pragma once

#include <QString>

#include <optional>

namespace Tessaline {

// Appends value in decimal, padded with leading zeros to width digits; 0 and negative values
// give zeros only. What PadTwo and PadThree return, without a string of its own.
void appendPadded(QString &text, qint64 value, int width);

// Zero padding for chapter numbers, hours, minutes and seconds: 0 and negative values give "00",
// 1 to 9 get a leading zero, 10 and above are written in full (123 gives "123").
QString PadTwo(qint64 value);

// Zero padding for milliseconds: 0 and negative values give "000", 5 gives "005", 50 gives "050",
// 100 and above are written in full (1234 gives "1234").
QString PadThree(qint64 value);

// A frame rate as an exact fraction: numerator frames every denominator seconds.
struct FrameRate
{
    qint64 numerator;
    qint64 denominator = 1;

    friend bool operator==(const FrameRate &, const FrameRate &) = default;
};

constexpr qint64 kLargestRateTerm = 10'000'000; // so that products of two rates' terms stay exact in 64 bits

// A frame rate as typed: an integer, a fraction p/q (digits only, no sign or space), or one of
// the NTSC-style names 23.976, 29.97, 47.952, 59.94 and 119.88. Nothing when the text is none of
// these or a term is 0; a term past kLargestRateTerm is kept as kLargestRateTerm + 1.
std::optional<FrameRate> parseFrameRate(QStringView text);

// Whether both terms of a rate are at most kLargestRateTerm, as retiming needs.
bool isWithinRateTerms(FrameRate rate);

// Moving times from the frames of one rate to the same frames at another.
struct Retiming
{
    FrameRate from {30, 1};
    FrameRate to {30000, 1001}; // 29.97 fps
};

// The fields of a time text HH:MM:SS.mmm, read at fixed positions (characters 1-2, 4-5, 7-8 and
// 10-12; the separators are not looked at), each a decimal number with surrounding spaces and a
// leading sign allowed.
struct TimeFields
{
    qint64 wholeSeconds;
    qint64 milliseconds;
};
std::optional<TimeFields> readTimeFields(QStringView time);

// The time in milliseconds; negative for a negative time.
qint64 plainMilliseconds(TimeFields time);

// Snaps a time to the nearest frame at the first rate (a time half-way goes to the even frame)
// and returns the start of that frame at the second rate, in milliseconds (half a millisecond
// goes to the even one), computed exactly. 30 to 30000/1001 fps, in any terms, keeps the
// double-precision steps its times were always computed with, which can differ by a millisecond
// on a tie. Nothing for a negative time or one past about 30,000 years.
std::optional<qint64> retimedMilliseconds(TimeFields time, const Retiming &retiming);

// The frame at rate (counted from 0) nearest to a time in milliseconds, not negative, as retiming
// snaps a time to a frame: a time half-way goes to the even frame. A retimed time is the start of
// the very frame it was snapped to, for rates below 1000 fps (frames longer than its rounding).
qint64 nearestFrame(qint64 milliseconds, FrameRate rate);

// HH:MM:SS.mmm; hours of three digits and more are written in full.
QString chapterTimeText(qint64 milliseconds);
void appendChapterTime(QString &text, qint64 milliseconds);

constexpr qint64 kLargestOffsetMs = 10'000'000'000'000; // some 300 years either way

// An offset as typed: a whole number of milliseconds, negative allowed, at most
// kLargestOffsetMs either way. Nothing for any other text.
std::optional<qint64> parseOffsetMs(QStringView text);

// The largest time HH:MM:SS.mmm holds: 99:59:59.999.
constexpr qint64 kLargestChapterTime = 100LL * 3600 * 1000 - 1; // ms

// Moves a chapter time HH:MM:SS.mmm from 30 fps to 29.97 fps (30/1.001 fps) timing: the start of
// the same frame, always in the HH:MM:SS.mmm shape. Nothing when a field is not a number, or when
// the time is negative or lies past 99:59:59.999 once moved.
std::optional<QString> ShiftChapterTime(QStringView time);

} // namespace Tessaline
