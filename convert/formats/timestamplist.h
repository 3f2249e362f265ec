#pragma once

#include "inputformat.h"

namespace Tessaline {

// A list of timestamps as video descriptions give them: every non-blank line a time [h:]m:ss
// and a title ("0:00 Intro", "1:02:03 - Finale").

// 50 when every non-blank line is such a line and there is one at least; 0 otherwise.
int probeTimestampList(QByteArrayView head);

// One chapter a non-blank line: its time and the rest of the line, without the separator
// (spaces, tabs, dashes or a bar) between.
Expected<ChapterList> readTimestampList(const ReadRequest &request);

} // namespace Tessaline
