#pragma once

#include "inputformat.h"

namespace Tessaline {

// Any other container libavformat recognises from its bytes (MP4/MOV/M4A, Ogg, ...): libavformat's
// score scaled to at most 40, below the signature probes of the other formats; 0 for what it is
// unsure of (under half its scale) and for the text formats read here by readers of their own.
int probeMediaFile(QByteArrayView head);

// The container's chapters, from its header only, exactly in their time base, titled by their
// "title" metadata.
Expected<ChapterList> readMediaFile(const ReadRequest &request);

} // namespace Tessaline
