#pragma once

#include "inputformat.h"

#include <QStringList>

#include <memory>

namespace Tessaline {

class ChapterWriter;
class EncodedOutput;

// A list of timestamps as video descriptions give them: every non-blank line a time [h:]m:ss
// and a title ("0:00 Intro", "1:02:03 - Finale").

// 50 when every non-blank line is such a line and there is one at least; 0 otherwise.
int probeTimestampList(QByteArrayView head);

// One chapter a non-blank line: its time and the rest of the line, without the separator
// (spaces, tabs, dashes or a bar) between.
Expected<ChapterList> readTimestampList(const ReadRequest &request);

// The writer of timestamp lists for video descriptions: a line a chapter, its start in whole
// seconds (cut, so that it never lies after the moment it marks) as m:ss, or h:mm:ss from an hour
// on, a space and its title on one line; LF line ends, UTF-8 without a byte order mark. Times are
// written as they are; the rules by which the video sites take a list as chapters (the first at
// 0:00, three at least, each 10 s or longer, the last one's length where the input gives its
// end) are checked on what is written, and each list that breaks one gets a warning naming it.
std::unique_ptr<ChapterWriter> makeTimestampListWriter(EncodedOutput &output);

} // namespace Tessaline
