#include "outputformat.h"

#include "chaptertime.h"
#include "cuesheet.h"
#include "ffmetadata.h"
#include "matroskaxml.h"
#include "podcastchapters.h"
#include "qpfile.h"
#include "simpletext.h"
#include "timestamplist.h"
#include "webvtt.h"

#include <algorithm>
#include <limits>

namespace Tessaline {

namespace {

// Simple text is written in the encoding chosen: the ANSI code page, or UTF-16LE after its mark.
EncodedOutput::Form chosenForm(OutputEncoding encoding)
{
    return encoding == OutputEncoding::Ansi ? EncodedOutput::Form::Ansi : EncodedOutput::Form::Utf16LEWithMark;
}

EncodedOutput::Form utf8Form(OutputEncoding)
{
    return EncodedOutput::Form::Utf8;
}

EncodedOutput::Form utf8WithMarkForm(OutputEncoding)
{
    return EncodedOutput::Form::Utf8WithMark;
}

} // namespace

// One row a format, each writer from its own file under formats/, beside its reader.
const QList<OutputFormat> &outputFormats()
{
    static const QList<OutputFormat> formats = {
        {ChapterFormat::Simple, u"simple", u"Simple text", u".txt", u"the default: CHAPTERnn lines", chosenForm,
         kLargestChapterTime, 0, false,
         [](const WriterRequest &request) { return makeSimpleTextWriter(request.output); }},
        {ChapterFormat::Matroska, u"matroska", u"Matroska XML", u".xml", u"chapter XML for mkvmerge, UTF-8", utf8Form,
         std::numeric_limits<qint64>::max() / 1'000'000, // nanoseconds in 64 bits
         0, true,
         [](const WriterRequest &request) { return makeMatroskaXmlWriter(request.output, request.options.language); }},
        {ChapterFormat::Ffmetadata, u"ffmetadata", u"ffmetadata", u".ffmetadata", u"for ffmpeg, UTF-8", utf8Form,
         qint64(1e15), // as far as retiming reaches; ffmpeg holds microseconds in 64 bits
         0, false, [](const WriterRequest &request) { return makeFfmetadataWriter(request.output); }},
        {ChapterFormat::WebVtt, u"webvtt", u"WebVTT", u".vtt", u"chapters for web players, UTF-8", utf8Form,
         kLargestChapterTime, // the last cue of unknown end ends there
         0, false, [](const WriterRequest &request) { return makeWebVttWriter(request.output); }},
        {ChapterFormat::CueSheet, u"cue", u"CUE sheet", u".cue",
         u"for mkvmerge and disc tools, UTF-8 after a byte order mark", utf8WithMarkForm, kLargestChapterTime,
         99, // tracks, numbered in two digits
         false, [](const WriterRequest &request) { return makeCueSheetWriter(request.output, request.inputPath); }},
        {ChapterFormat::TimestampList, u"timestamps", u"Timestamp list", u".timestamps.txt",
         u"0:00 Title lines for video descriptions, UTF-8", utf8Form, kLargestChapterTime, 0, false,
         [](const WriterRequest &request) { return makeTimestampListWriter(request.output); }},
        {ChapterFormat::Qpfile, u"qpfile", u"QP file", u".qpfile",
         u"a keyframe a chapter for x264's and x265's --qpfile, frames at --fps or --rate's TO", utf8Form,
         kLargestChapterTime, // frames within x264's int at any rate the command line takes
         0, false,
         [](const WriterRequest &request) {
             const ConvertOptions &options = request.options;
             return makeQpfileWriter(request.output, options.frameRate.value_or(options.retiming.to),
                                     options.qpFrameType);
         }},
        {ChapterFormat::PodcastChapters, u"json", u"Podcasting 2.0 chapters", u".json",
         u"Podcasting 2.0 chapters, UTF-8", utf8Form,
         qint64(1e15), // as far as retiming reaches; a double holds each millisecond of it
         0, false, [](const WriterRequest &request) { return makePodcastChaptersWriter(request.output); }},
    };
    return formats;
}

const OutputFormat &outputFormatOf(ChapterFormat format)
{
    const QList<OutputFormat> &formats = outputFormats();
    const auto row = std::find_if(formats.begin(), formats.end(),
                                  [format](const OutputFormat &row) { return row.format == format; });
    Q_ASSERT(row != formats.end()); // every ChapterFormat has its row
    return row != formats.end() ? *row : formats.front();
}

const OutputFormat *outputFormatNamed(QStringView name)
{
    for (const OutputFormat &format : outputFormats()) {
        if (format.name == name)
            return &format;
    }
    return nullptr;
}

bool takesEncoding(const OutputFormat &format)
{
    return format.form(OutputEncoding::Ansi) != format.form(OutputEncoding::Unicode);
}

QStringList outputFormatNames(bool (*fact)(const OutputFormat &format))
{
    QStringList names;
    for (const OutputFormat &format : outputFormats()) {
        if (!fact || fact(format))
            names.append(format.name.toString());
    }
    return names;
}

} // namespace Tessaline
