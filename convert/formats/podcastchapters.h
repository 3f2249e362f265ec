#pragma once

#include <memory>

namespace Tessaline {

class ChapterWriter;
class EncodedOutput;

// Podcasting 2.0 chapters, the JSON file a feed's <podcast:chapters> links to:
//     {"version": "1.2.0", "chapters": [{"startTime": 83.456, "title": "Intro"}, ...]}
// version and chapters are required; in a chapter startTime (seconds, a number) is, title (a
// string) is not. Chapters are in ascending order of startTime, as the format assumes.

// The writer of the format: a chapter a line, startTime the exact decimal of its milliseconds
// (83.456, 60, never an exponent), the title a JSON string ('"', '\' and control characters
// escaped; UTF-8 turns an unpaired surrogate into U+FFFD). The chapters are held until the last
// and sorted by their starts, chapters that start together in the order read.
std::unique_ptr<ChapterWriter> makePodcastChaptersWriter(EncodedOutput &output);

} // namespace Tessaline
