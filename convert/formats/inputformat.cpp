#include "inputformat.h"

#include "cuesheet.h"
#include "ffmetadata.h"
#include "matroskaxml.h"
#include "mplsplaylist.h"
#include "timestamplist.h"
#include "webvtt.h"
#ifdef TESSALINE_LIBRARY_FORMATS
#include "dvdtitle.h"
#include "matroskafile.h"
#include "mediafile.h"
#endif

#include <QIODevice>

#include <algorithm>

namespace Tessaline {

// One row a format, each from its own file under formats/. The signatures of the binary formats
// come first: a file one of them claims (scoring 100) asks no other probe, neither the text
// formats', which decode the head and look for lines in it (a few milliseconds for 64 KiB of
// binary bytes), nor the media files', which may load the tessaline-media module and so comes last.
const QList<InputFormat> &inputFormats()
{
    static const QList<InputFormat> formats = {
        {u"mpls", probeMplsPlaylist, readMplsPlaylist},
#ifdef TESSALINE_LIBRARY_FORMATS
        {u"dvd", probeDvdTitleSet, readDvdTitleSet},
        {u"matroska", probeMatroskaFile, readMatroskaFile},
#endif
        {u"matroska-xml", probeMatroskaXml, readMatroskaXml},
        {u"ffmetadata", probeFfmetadata, readFfmetadata},
        {u"cue", probeCueSheet, readCueSheet},
        {u"webvtt", probeWebVtt, readWebVtt},
        {u"timestamps", probeTimestampList, readTimestampList},
#ifdef TESSALINE_LIBRARY_FORMATS
        {u"media", probeMediaFile, readMediaFile},
#endif
    };
    return formats;
}

namespace {

// format's score for head, or, when head is too short for it to decide and file has more, for a
// longer head of file.
int scoreOf(const InputFormat &format, QByteArrayView head, QIODevice *file)
{
    const int score = format.probe(head);
    if (score != kProbeUndecided)
        return score;
    if (!file || head.size() < kProbeBytes)
        return 0; // head is the whole file
    return std::max(format.probe(file->peek(kLongestProbeBytes)), 0);
}

const InputFormat *surestOf(QByteArrayView head, QIODevice *file)
{
    constexpr int kSurest = 100; // a signature: no later probe can beat it, so none is asked
    const InputFormat *surest = nullptr;
    int best = 0;
    for (const InputFormat &format : inputFormats()) {
        if (const int score = scoreOf(format, head, file); score > best) {
            best = score;
            surest = &format;
            if (best >= kSurest)
                break;
        }
    }
    return surest;
}

} // namespace

const InputFormat *probedFormat(QByteArrayView head)
{
    return surestOf(head, nullptr);
}

const InputFormat *probedFormat(QIODevice &file)
{
    return surestOf(file.peek(kProbeBytes), &file);
}

int probeScore(const InputFormat &format, QIODevice &file)
{
    return scoreOf(format, file.peek(kProbeBytes), &file);
}

const InputFormat *inputFormatNamed(QStringView name)
{
    for (const InputFormat &format : inputFormats()) {
        if (format.name == name)
            return &format;
    }
    return nullptr;
}

} // namespace Tessaline
