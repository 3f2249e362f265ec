#pragma once

#include "inputformat.h"

namespace Tessaline {

// A CUE sheet: FILE lines, each followed by its TRACK lines, each track with a TITLE and INDEX
// lines; INDEX 01 mm:ss:ff is where the track starts, in minutes (any number), seconds and
// frames of 1/75 s, from the start of its FILE.

// 80 when every line starts with a CUE keyword and FILE, TRACK and INDEX lines come in that
// order; 0 otherwise.
int probeCueSheet(QByteArrayView head);

// One chapter a TRACK: its INDEX 01 and its TITLE (quoted or not; empty when it has none).
// A sheet of several FILEs each timed from its own start fails, as its times have no one
// timeline.
Expected<ChapterList> readCueSheet(const ReadRequest &request);

} // namespace Tessaline
