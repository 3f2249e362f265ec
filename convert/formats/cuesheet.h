#pragma once

#include "inputformat.h"

#include <memory>

namespace Tessaline {

class ChapterWriter;
class EncodedOutput;

// A CUE sheet: FILE lines, each followed by its TRACK lines, each track with a TITLE and INDEX
// lines; INDEX 01 mm:ss:ff is where the track starts, in minutes (any number), seconds and
// frames of 1/75 s, from the start of its FILE.

// 80 when every line starts with a CUE keyword and FILE, TRACK and INDEX lines come in that
// order; 0 otherwise.
int probeCueSheet(QByteArrayView head);

// One chapter a TRACK: its INDEX 01 and its TITLE (quoted or not; empty when it has none), in
// the media its FILE names.
// A sheet of several FILEs each timed from its own start fails, as its times have no one
// timeline.
Expected<ChapterList> readCueSheet(const ReadRequest &request);

// The writer of CUE sheets: a FILE line naming the media the input names (a CUE sheet's FILE, a
// media file itself; else NAME.wav for the input NAME.EXT), MP3 for an .mp3, AIFF for an .aif or
// .aiff, WAVE for any other; then TRACK nn AUDIO, its TITLE in quotes on one line and INDEX 01 at
// the chapter's start, to the nearest frame of 1/75 s (half a frame up). CR LF line ends; UTF-8
// after a byte order mark, which mkvmerge needs to read UTF-8 whatever the locale's encoding.
std::unique_ptr<ChapterWriter> makeCueSheetWriter(EncodedOutput &output, const QString &inputPath);

} // namespace Tessaline
