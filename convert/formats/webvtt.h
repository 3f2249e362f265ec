#pragma once

#include "inputformat.h"

#include <memory>

namespace Tessaline {

class ChapterWriter;
class EncodedOutput;

// WebVTT: the first line WEBVTT (alone, or followed by a space or tab and any text), then blocks
// separated by blank lines. A cue is an optional identifier line, a timing line
// "start --> end [settings]" with times [hh:]mm:ss.ttt, and its text lines.

// 100 when the first line is a WebVTT signature; 0 otherwise.
int probeWebVtt(QByteArrayView head);

// One chapter a cue: its start, its end and its first text line (empty when it has none). NOTE, STYLE
// and REGION blocks are passed over; a timing line whose times cannot be read fails at it.
Expected<ChapterList> readWebVtt(const ReadRequest &request);

// The writer of WebVTT chapters: WEBVTT, then a cue a chapter, numbered from 1, from its start to
// the next chapter's start (to its own start when the next starts earlier), its title on one line
// with &, < and > as references. The last cue ends where the input says the last chapter ends,
// when that is past its start; else at 99:59:59.999, the largest time written, which a player
// takes as the end of whatever it plays. LF line ends, UTF-8 without a byte order mark.
std::unique_ptr<ChapterWriter> makeWebVttWriter(EncodedOutput &output);

} // namespace Tessaline
