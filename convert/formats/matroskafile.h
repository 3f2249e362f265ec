#pragma once

#include "inputformat.h"

namespace Tessaline {

// Matroska and WebM files (an EBML header, its sizes of any length, with DocType "matroska" or
// "webm"): 100, else 0.
int probeMatroskaFile(QByteArrayView head);

// The top-level ChapterAtoms of one edition (ReadSettings::edition, from 1), in file order, hidden
// and disabled ones too: each one's start and the string of its first ChapterDisplay. Only the
// EBML header, the heads of the Segment's top-level elements (past the first Cluster only when
// the SeekHead is missing or damaged), its SeekHeads and its Chapters are read; ChapterAtoms
// nested more than 64 levels deep fail the file. Read by the tessaline-matroska module, loaded on
// first use (formatmodule.h).
Expected<ChapterList> readMatroskaFile(const ReadRequest &request);

// The presentation times of the keyframes that the Cues list for the first video track, in ms,
// sorted, each taken up to the next whole millisecond (so that a chapter at that time never falls
// before the frame), as readVideoKeyframes (mediafile.h) gives them; empty when the file has no
// Cues, or none for that track, and must be read whole for its blocks' flags. Read as
// readMatroskaFile reads, from the Info, Tracks and Cues alone: a few small reads, and none of the
// libraries that libavformat loads.
Expected<QList<qint64>> readMatroskaCueKeyframes(const KeyframeRequest &request);

// The same, through libebml and libmatroska (matroskafilelibrary.cpp): what the module exports,
// and what the fuzz target calls.
Expected<ChapterList> readMatroskaFileWithLibrary(const ReadRequest &request);
Expected<QList<qint64>> readMatroskaCueKeyframesWithLibrary(const KeyframeRequest &request);

} // namespace Tessaline
