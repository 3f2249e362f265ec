#pragma once

// The core of a run that the conversion and the preview share.

#include "failure.h"

class QIODevice;

namespace Tessaline {

class ChapterWriter;
struct InputFormat;
struct RunContext;

// Reads the opened input and hands its chapters, changed, to writer: the chapter count, or why
// the input cannot be converted (the failure names it).
Expected<qsizetype> convertChapters(QIODevice &input, const InputFormat *format, RunContext &run,
                                    const QString &inputPath, ChapterWriter &writer);

} // namespace Tessaline
