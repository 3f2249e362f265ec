#pragma once

#include "inputformat.h"

#include <memory>

namespace Tessaline {

class ChapterWriter;
class EncodedOutput;

// ffmpeg's metadata file: the first line ;FFMETADATA1, then key=value lines in sections; a
// [CHAPTER] section holds TIMEBASE=num/den (1/1000000000 when absent), START=ticks and title.
// A backslash makes the next character, a line end too, part of the key or value; lines that
// start with ; or # are comments.

// 100 when the file starts with ;FFMETADATA1; 0 otherwise.
int probeFfmetadata(QByteArrayView head);

// The [CHAPTER] sections, in file order, with their END where it can be read and their titles
// unescaped (an escaped line end is a line feed); other sections and keys are passed over.
Expected<ChapterList> readFfmetadata(const ReadRequest &request);

// The writer of the format: a [CHAPTER] section a chapter, in milliseconds, each ending where the
// next starts; titles escaped as the format asks.
std::unique_ptr<ChapterWriter> makeFfmetadataWriter(EncodedOutput &output);

} // namespace Tessaline
