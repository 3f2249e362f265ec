#pragma once

#include "inputformat.h"

#include <memory>
#include <optional>

namespace Tessaline {

class ChapterWriter;
class EncodedOutput;

// Matroska chapter XML, as mkvextract writes it: the root element Chapters, EditionEntry
// elements, ChapterAtom elements with a ChapterTimeStart (HH:MM:SS.nnnnnnnnn) and ChapterDisplay
// elements holding a ChapterString.

// 100 when the root element is Chapters; kProbeUndecided when head ends before the root element,
// in the prolog (the XML declaration, comments, processing instructions, a DOCTYPE); 0 otherwise.
int probeMatroskaXml(QByteArrayView head);

// The top-level atoms of one edition (settings.edition, from 1), in file order; a hidden or
// disabled atom is read too, a nested one is not a chapter. The title is the ChapterString (or
// ChapString) of the first ChapterDisplay, empty when there is none. A file fails with its line
// where ChapterAtom elements nest more than 64 deep or other elements deeper than such atoms need,
// where its DOCTYPE declares an entity, or where it names an entity that it does not define (an
// external DTD is never read).
Expected<ChapterList> readMatroskaXml(const ReadRequest &request);

// The milliseconds of a ChapterTimeStart text, [HH:]MM:SS with any number of fraction digits,
// rounded half to even; nothing when it is not such a time.
std::optional<qint64> matroskaTimeMilliseconds(QStringView text);

// The writer of the format: one edition, one ChapterAtom a chapter with its ChapterTimeStart
// (HH:MM:SS.nnnnnnnnn) and one ChapterDisplay, in language (a BCP 47 tag; und when it is none
// that canonicalLanguageTag() knows), no UIDs: mkvmerge makes them.
std::unique_ptr<ChapterWriter> makeMatroskaXmlWriter(EncodedOutput &output, const QString &language);

} // namespace Tessaline
