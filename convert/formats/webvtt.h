#pragma once

#include "inputformat.h"

namespace Tessaline {

// WebVTT: the first line WEBVTT (alone, or followed by a space or tab and any text), then blocks
// separated by blank lines. A cue is an optional identifier line, a timing line
// "start --> end [settings]" with times [hh:]mm:ss.ttt, and its text lines.

// 100 when the first line is a WebVTT signature; 0 otherwise.
int probeWebVtt(QByteArrayView head);

// One chapter a cue: its start and its first text line (empty when it has none). NOTE, STYLE
// and REGION blocks are passed over; a timing line whose times cannot be read fails at it.
Expected<ChapterList> readWebVtt(const ReadRequest &request);

} // namespace Tessaline
