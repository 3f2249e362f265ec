#pragma once

#include <QFont>

namespace Tessaline {

// The names box font: "宋体" (SimSun) at 9 points. The first call registers Song-style CJK faces
// as substitutes for the family, so that systems without SimSun draw it in the nearest face they
// have.
QFont namesBoxFont();

} // namespace Tessaline
