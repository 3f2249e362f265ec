#pragma once

#include <QString>

#include <optional>

namespace Tessaline {

// Zero padding for chapter numbers, hours, minutes and seconds: 0 and negative values give "00",
// 1 to 9 get a leading zero, 10 and above are written in full (123 gives "123").
QString PadTwo(qint64 value);

// Zero padding for milliseconds: 0 and negative values give "000", 5 gives "005", 50 gives "050",
// 100 and above are written in full (1234 gives "1234").
QString PadThree(qint64 value);

// Moves a chapter time HH:MM:SS.mmm from 30 fps to 29.97 fps (30/1.001 fps) timing: the time is
// snapped to the nearest frame at 30 fps and the start time of that frame at 29.97 fps is returned,
// always in the HH:MM:SS.mmm shape. The fields are read at fixed positions (characters 1-2, 4-5, 7-8
// and 10-12); the separators between them are not looked at. Returns nothing when a field is not a
// number, or when the time is negative or lies past 99:59:59.999 once rescaled.
std::optional<QString> ShiftChapterTime(QStringView time);

} // namespace Tessaline
