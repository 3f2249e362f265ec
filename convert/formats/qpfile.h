#pragma once

#include "chaptertime.h"
#include "convertoptions.h"

#include <memory>

namespace Tessaline {

class ChapterWriter;
class EncodedOutput;

// The QP file x264 and x265 read with --qpfile: a line "FRAME TYPE" for each frame whose type is
// forced, frames counted from 0 in ascending order, TYPE K (a keyframe: IDR, or with --open-gop a
// recovery point) or I (always IDR); no QP, so that the encoder chooses it.

// The writer of the format: a line for the frame at rate where each chapter starts (nearestFrame,
// as retiming snaps times), in ascending order, a frame that two chapters share once. The encoders
// read the file in order and pass over a frame earlier than the one before, so the frames are
// held until the last chapter and sorted. Lines end in LF.
std::unique_ptr<ChapterWriter> makeQpfileWriter(EncodedOutput &output, FrameRate rate, QpFrameType type);

} // namespace Tessaline
