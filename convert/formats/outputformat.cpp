#include "outputformat.h"

#include "chaptertime.h"
#include "ffmetadata.h"
#include "matroskaxml.h"
#include "simpletext.h"

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
