#pragma once

#include "chapterwriter.h"
#include "convertoptions.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace Tessaline {

// What a writer is given: the encoded output it writes into, the run's options (the language,
// the rates) and the path of the input, for a format that names its media.
struct WriterRequest
{
    EncodedOutput &output;
    const ConvertOptions &options;
    const QString &inputPath;
};

// One output format: what --format, --help, the completion script and the window's Format list
// say of it, how its output is named and encoded, the limits of what it holds, and its writer.
struct OutputFormat
{
    ChapterFormat format;
    QStringView name; // as --format takes it
    QStringView caption; // in the window's Format list, and in reasons that name the format
    QStringView extension; // of the output, after "_new"
    QStringView summary; // what --help says of it, before the output's name
    EncodedOutput::Form (*form)(OutputEncoding encoding); // the encoding chosen gives the form written
    qint64 largestMs; // the largest time it holds, in ms
    qsizetype mostChapters; // the most chapters it holds; 0: no limit. More fail the file.
    bool takesLanguage; // --language (the titles' language) applies
    std::unique_ptr<ChapterWriter> (*makeWriter)(const WriterRequest &request);
};

// Every format written, the default (simple text) first, in the order --help and the window list them.
const QList<OutputFormat> &outputFormats();

// The row of a format.
const OutputFormat &outputFormatOf(ChapterFormat format);

// The format that --format calls name, or nothing.
const OutputFormat *outputFormatNamed(QStringView name);

// Whether the encoding chosen (--ansi, --unicode, --code-page) changes what the format writes.
bool takesEncoding(const OutputFormat &format);

// The names of the formats whose fact is true, as --format takes them, in table order.
QStringList outputFormatNames(bool (*fact)(const OutputFormat &format) = nullptr);

} // namespace Tessaline
