// tessaline-convert: converts chapter files given on the command line, each as the window's
// "Save" converts a list entry. This file reads the arguments, words the outcome in English and
// sets the exit status; the conversion is the library's.
#include "chapterchange.h"
#include "codepage.h"
#include "conversion.h"
#include "formats/inputformat.h"
#include "formats/outputformat.h"
#include "languagetag.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>
#include <variant>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#else
#include <io.h>
#endif

using namespace Tessaline;

namespace {

constexpr int kAllConverted = 0;
constexpr int kSomeFailed = 1; // also: standard output could not be written
constexpr int kUsageError = 2; // nothing converted: the command line cannot be used

// The standard streams the caller closed, and the first failure to write to standard output.
struct StandardStreams
{
    std::array<bool, 3> closed {};
    bool printed = false; // a line went to standard output
    int outputError = 0; // errno of the first failed write to standard output
};
StandardStreams streams;

// Messages and paths are written in the locale's encoding, so that a script reads back the
// paths it passed.
void printBytes(FILE *stream, const QByteArray &bytes)
{
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    if (stream == stdout) {
        streams.printed = true;
        if (written != size_t(bytes.size()) && streams.outputError == 0)
            streams.outputError = errno;
    }
}

void printLine(FILE *stream, const QString &line)
{
    printBytes(stream, (line + u'\n').toLocal8Bit());
}

// Whether standard output is a pipe whose reader has gone (as "| head" leaves it once it has its
// lines).
bool readerGone()
{
    return streams.outputError == EPIPE;
}

void printError(const QString &message)
{
    printLine(stderr, QCoreApplication::applicationName() + u": " + message);
}

int usageError(const QString &message)
{
    printError(message);
    printLine(stderr, u"Try '" + QCoreApplication::applicationName() + u" --help' for more information.");
    return kUsageError;
}

// A name as it is shown: as it stands, unless it holds a control character (a line feed would
// split an "IN -> OUT" line), then quoted as bash's $'...' quotes, so that it reads back as one.
QString shownName(const QString &name)
{
    const auto isControl = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; };
    if (std::none_of(name.begin(), name.end(), isControl))
        return name;
    QString quoted = QStringLiteral("$'");
    for (const QChar c : name) {
        if (c == u'\\' || c == u'\'')
            quoted.append(u'\\').append(c);
        else if (c == u'\n')
            quoted += u"\\n";
        else if (c == u'\t')
            quoted += u"\\t";
        else if (c == u'\r')
            quoted += u"\\r";
        else if (isControl(c))
            quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            quoted += c;
    }
    return quoted + u'\'';
}

QString nativePath(const QString &path)
{
    return shownName(QDir::toNativeSeparators(path));
}

// Where a time failed: its line, or the chapter of a format without lines.
QString timePlace(const Failure &failure)
{
    return failure.line > 0 ? QStringLiteral("line %1").arg(failure.line)
                            : QStringLiteral("chapter %1").arg(failure.chapter);
}

// A failure in the words of this program: without the file's own path, which the caller puts
// in front.
QString reasonText(const Failure &failure)
{
    switch (failure.kind) {
    case Failure::Kind::NotChapterListName:
        return QStringLiteral("is in no chapter format that is read, and its name does not end in .txt");
    case Failure::Kind::UndecodableName:
        return QStringLiteral("the name is not valid in the locale's encoding, so the file cannot be "
                              "found by it");
    case Failure::Kind::UnsupportedCodePage:
        return QStringLiteral("code page %1 is not supported").arg(failure.detail);
    case Failure::Kind::IsFolder:
        return QStringLiteral("is a folder, not a chapter file");
    case Failure::Kind::IsSpecialFile:
        return QStringLiteral("is not a regular file (a FIFO, device or socket), so it is not read");
    case Failure::Kind::ReadFailed:
        return QStringLiteral("cannot be read (%1)").arg(failure.detail);
    case Failure::Kind::ChangedWhileRead:
        return QStringLiteral("changed while being read; nothing written");
    case Failure::Kind::UnreadableTime:
        return QStringLiteral("%1 has no time that can be rescaled: \"%2\"").arg(timePlace(failure), failure.detail);
    case Failure::Kind::TimeOutOfRange:
        return QStringLiteral("%1 has a time that falls below zero or past the largest time the format holds: \"%2\"")
            .arg(timePlace(failure), failure.detail);
    case Failure::Kind::OutputIsLink:
        return QStringLiteral("%1 is a symbolic link, which is not written through; nothing written")
            .arg(nativePath(failure.output));
    case Failure::Kind::OutputIsInput:
        return QStringLiteral("%1 is the input file itself; nothing written").arg(nativePath(failure.output));
    case Failure::Kind::OutputIsAnotherInput:
        return QStringLiteral("its output %1 is also an input of this run; nothing written")
            .arg(nativePath(failure.output));
    case Failure::Kind::OutputShared:
        return QStringLiteral("its output %1 is also the output of %2; nothing written")
            .arg(nativePath(failure.output), nativePath(failure.detail));
    case Failure::Kind::WriteFailed:
        return QStringLiteral("cannot write %1 (%2)")
            .arg(failure.output.isEmpty() ? QStringLiteral("to standard output") : nativePath(failure.output),
                 failure.detail);
    case Failure::Kind::BadInput: {
        const QString place = failure.line > 0 ? QStringLiteral(" at line %1").arg(failure.line)
            : failure.offset >= 0              ? QStringLiteral(" at byte %1").arg(failure.offset)
                                               : QString();
        return u"cannot be read" + place + u": " + failure.detail;
    }
    case Failure::Kind::NoChapters:
        return QStringLiteral("holds no chapters");
    case Failure::Kind::ModuleUnavailable:
        return QStringLiteral("cannot be read: the module that reads its format cannot be loaded (%1)")
            .arg(failure.detail);
    case Failure::Kind::TooManyChapters:
        return QStringLiteral("cannot be converted: %1").arg(failure.detail);
    case Failure::Kind::TooManyToEdit:
        return QStringLiteral("holds %1 chapters, more than %2").arg(failure.chapter).arg(failure.detail);
    }
    return {};
}

QString examplesText()
{
    return QStringLiteral("\nExamples:\n"
                          "  tessaline-convert film.txt\n"
                          "      writes film_new.txt: times for 29.97 fps, titles kept, UTF-16LE\n"
                          "  tessaline-convert --no-shift --names titles.txt --ansi ep1.txt ep2.txt\n"
                          "      takes the titles from titles.txt, one a line, and writes ANSI text\n"
                          "  tessaline-convert --rate 25:23.976 --offset -1000 --format matroska film.txt\n"
                          "      undoes a PAL speed-up, one second earlier, into film_new.xml\n"
                          "  tessaline-convert --recursive --dry-run chapters\n"
                          "      shows what converting every .txt below chapters would write\n"
                          "  tessaline-convert -r --from cue --format matroska music\n"
                          "      writes NAME_new.xml beside every CUE sheet below music\n"
                          "  tessaline-convert --format timestamps film.mkv\n"
                          "      writes film_new.timestamps.txt, 0:00 Title lines for a video description");
}

// The input formats --from takes, as one phrase.
QString inputFormatNames()
{
    QStringList names = {QStringLiteral("simple")};
    for (const InputFormat &format : inputFormats())
        names.append(format.name.toString());
    return names.join(QStringLiteral(", "));
}

QString rateTermsError(QStringView option, const QString &value)
{
    return option + u" takes frame rates whose terms are at most " + QString::number(kLargestRateTerm)
        + u" (10^7), not " + value;
}

constexpr qint64 kLargestQpfileRate = 1000; // fps: frames longer than the millisecond times are rounded to

// Reads the options of the qpfile format (--fps, --qp-type) into options; why they cannot be
// used. A QP file's frames are counted at --fps, or at --rate's TO: a run names one of them,
// since a guessed rate would put every keyframe in the wrong place.
std::optional<QString> readQpfileOptions(const QCommandLineParser &parser, const QCommandLineOption &fpsOption,
                                         const QCommandLineOption &qpTypeOption, ConvertOptions &options)
{
    const bool qpfile = options.format == ChapterFormat::Qpfile;
    const bool rate = parser.isSet(QStringLiteral("rate"));
    for (const QCommandLineOption *option : {&fpsOption, &qpTypeOption}) {
        if (parser.isSet(*option) && !qpfile)
            return u"--" + option->names().constFirst() + u" goes with --format qpfile only";
    }
    if (!qpfile)
        return std::nullopt;
    if (parser.isSet(fpsOption)) {
        const QString value = parser.value(fpsOption);
        const std::optional<FrameRate> fps = parseFrameRate(value);
        if (!fps)
            return u"--fps takes a frame rate such as 23.976 or 24000/1001, not " + value;
        if (!isWithinRateTerms(*fps))
            return rateTermsError(u"--fps", value);
        if (rate)
            return QStringLiteral("--fps and --rate contradict each other: with --rate, frames are counted at its TO");
        options.frameRate = *fps;
        options.ShiftFrameRate = false;
    } else if (!rate) {
        return QStringLiteral("--format qpfile counts frames at the video's frame rate: give --fps RATE, or --rate "
                              "FROM:TO to count them at TO");
    }
    const FrameRate counted = options.frameRate.value_or(options.retiming.to);
    if (counted.numerator > kLargestQpfileRate * counted.denominator)
        return QStringLiteral("--format qpfile counts frames of at most %1 fps, since chapter times are in "
                              "milliseconds")
            .arg(kLargestQpfileRate);
    if (parser.isSet(qpTypeOption)) {
        const QString value = parser.value(qpTypeOption);
        if (value != u"K" && value != u"I")
            return u"--qp-type takes K or I, not " + value;
        options.qpFrameType = value == u"I" ? QpFrameType::Idr : QpFrameType::Keyframe;
    }
    return std::nullopt;
}

// Names as a phrase: "a", "a or b", "a, b or c" (conjunction "or"; "and" likewise).
QString phrase(const QStringList &names, QStringView conjunction)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.first(names.size() - 1).join(QStringLiteral(", ")) + u' ' + conjunction + u' ' + names.last();
}

bool takesLanguage(const OutputFormat &format)
{
    return format.takesLanguage;
}

// What --help says of --format: every output format with its output's name.
QString outputFormatsHelp()
{
    QStringList formats;
    for (const OutputFormat &format : outputFormats())
        formats.append(format.name + u" (" + format.summary + u", FILE_new" + format.extension + u')');
    return phrase(formats, u"or") + u". --ansi, --unicode and --code-page go with "
        + phrase(outputFormatNames(takesEncoding), u"and") + u" only.";
}

// The outputs of an earlier run, that a recursive run leaves out: "_new.txt, _new.xml and ...";
// with suffix, those whose names end in it.
QString outputNames(QStringView suffix = {})
{
    QStringList names;
    for (const OutputFormat &format : outputFormats()) {
        if (format.extension.endsWith(suffix))
            names.append(u"_new" + format.extension);
    }
    return phrase(names, u"and");
}

// What the command line asks for.
struct Request
{
    ConvertOptions options;
    QStringList files;
    QList<Expected<QString>> entries; // the files to convert, or why one cannot be
    std::optional<QString> namesPath;
    QString codePageText;
    bool recursive = false;
    bool list = false; // list the chapters, write nothing
    bool json = false; // the listing or dry run as one JSON document
};

// The arguments that do not decode in the locale's encoding, as they were decoded: a name that
// comes out as one of these is refused rather than taken for another file's.
QSet<QString> undecodableArguments(int argc, char *argv[])
{
    QSet<QString> undecodable;
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        const QString decoded = QString::fromLocal8Bit(bytes);
        if (decoded.toLocal8Bit() != bytes)
            undecodable.insert(decoded);
    }
    return undecodable;
}

// Reads the command line into a request, or gives the status to exit with at once (help,
// version, a usage error).
std::variant<Request, int> parseCommandLine(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Converts chapter lists (CHAPTER01=00:05:23.456 / CHAPTER01NAME=Title) from 30 fps to\n"
                       "29.97 fps timing, or between other frame rates. Each FILE.txt is written beside itself\n"
                       "as FILE_new.txt, replacing an earlier FILE_new.txt; files are converted in the order\n"
                       "given. Chapters are also read from Matroska and MP4 files, Matroska chapter XML,\n"
                       "ffmetadata, CUE sheets, WebVTT, timestamp lists, Blu-ray playlists and DVD title sets,\n"
                       "each known by its content; FILE.EXT is then written as FILE_new.txt."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption noShiftOption(QStringLiteral("no-shift"), QStringLiteral("Keep the times as they are."));
    const QCommandLineOption namesOption(
        QStringLiteral("names"),
        QStringLiteral("Replace the titles by the lines of FILE, one a line, in chapter order "
                       "(\"-\" reads standard input). Chapters beyond the last line keep their titles. "
                       "FILE is a regular file, and it or standard input holds at most 16 MiB."),
        QStringLiteral("FILE"));
    const QCommandLineOption ansiOption(QStringLiteral("ansi"),
                                        QStringLiteral("Write text in the ANSI code page, without a byte order mark."));
    const QCommandLineOption unicodeOption(
        QStringLiteral("unicode"),
        QStringLiteral("Write UTF-16LE text after a byte order mark (the default). Of --ansi and "
                       "--unicode the last one given counts."));
    const QCommandLineOption codePageOption(
        QStringLiteral("code-page"),
        QStringLiteral("The ANSI code page (936, 932, 1252, 65001 for UTF-8, ...) for files without a "
                       "byte order mark and for --ansi output. Default: the locale's, here %1.")
            .arg(systemAnsiCodePage()),
        QStringLiteral("N"));
    const QCommandLineOption rateOption(
        QStringLiteral("rate"),
        QStringLiteral("Retime from one frame rate to another (default 30:29.97): each time is snapped "
                       "to the nearest frame at FROM and moved to the start of that frame at TO. A rate "
                       "is an integer, a fraction p/q (digits only, each term at most 10000000), or "
                       "23.976, 29.97, 47.952, 59.94, 119.88 (24000/1001 ... 120000/1001)."),
        QStringLiteral("FROM:TO"));
    const QCommandLineOption offsetOption(
        QStringLiteral("offset"),
        QStringLiteral("Add MS milliseconds (negative: subtract) to every time, after retiming. A time "
                       "that would fall below zero or past what the format holds fails the file."),
        QStringLiteral("MS"));
    const QCommandLineOption formatOption(QStringLiteral("format"), outputFormatsHelp(), QStringLiteral("FORMAT"));
    const QCommandLineOption fpsOption(
        QStringLiteral("fps"),
        QStringLiteral("The frame rate the qpfile format counts frames at, written as --rate's rates; the "
                       "times are taken as they are, as with --no-shift (with --rate instead, frames are "
                       "counted at its TO). Each chapter's frame is the one nearest its time, half-way "
                       "going to the even frame, as retiming snaps. At most 1000 fps."),
        QStringLiteral("RATE"));
    const QCommandLineOption qpTypeOption(
        QStringLiteral("qp-type"),
        QStringLiteral("The frame type the qpfile format forces at each chapter: K (the default: a keyframe, "
                       "IDR, or a recovery point with --open-gop) or I (always IDR)."),
        QStringLiteral("TYPE"));
    const QCommandLineOption languageOption(
        QStringLiteral("language"),
        QStringLiteral("The titles' language in %1 output: an ISO 639 code or a tag such as "
                       "zh-Hans-CN (default und).")
            .arg(phrase(outputFormatNames(takesLanguage), u"and")),
        QStringLiteral("CODE"));
    const QCommandLineOption stdoutOption(
        QStringLiteral("stdout"),
        QStringLiteral("Write the converted output of the one file given to standard output, and "
                       "nothing to disk. The output is held until the file is whole, so a file that "
                       "fails writes nothing; past 64 MiB it is written as it comes, and standard "
                       "output may then hold a partial result before the failure message."));
    const QCommandLineOption dryRunOption(
        QStringLiteral("dry-run"),
        QStringLiteral("Convert everything in memory and report what would be written, writing "
                       "nothing; outputs the run would refuse are refused."));
    const QCommandLineOption listOption(
        QStringLiteral("list"),
        QStringLiteral("List each file's chapters (number, time as read, time as it would be written, title as "
                       "it would be written; with --snap-keyframes the time before snapping comes before the "
                       "time written) and write nothing."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("With --list or --dry-run: print one JSON document for scripts instead (its keys are "
                       "in the README); failures are in it rather than on standard error."));
    const QCommandLineOption snapOption(
        QStringLiteral("snap-keyframes"),
        QStringLiteral("Move each chapter, once retimed and offset, back onto the latest keyframe of VIDEO at or "
                       "before it, when that keyframe lies within the --snap-window; a chapter with none there "
                       "stays, and standard error says so. The keyframes are read once, from VIDEO's index "
                       "(Matroska's Cues, MP4's sync samples) without decoding; a Matroska file without Cues is "
                       "read whole, with a progress line; a VIDEO that cannot be read stops the run."),
        QStringLiteral("VIDEO"));
    const QCommandLineOption snapWindowOption(
        QStringLiteral("snap-window"),
        QStringLiteral("How far back, in milliseconds, --snap-keyframes moves a chapter (default %1).")
            .arg(kDefaultSnapWindowMs),
        QStringLiteral("MS"));
    const QCommandLineOption fromOption(
        QStringLiteral("from"),
        QStringLiteral("Read every file as FORMAT, whatever its content looks like: %1.").arg(inputFormatNames()),
        QStringLiteral("FORMAT"));
    const QCommandLineOption editionOption(
        QStringLiteral("edition"), QStringLiteral("Of Matroska chapters, read edition N (from 1; default the first)."),
        QStringLiteral("N"));
    const QCommandLineOption titleOption(
        QStringLiteral("title"), QStringLiteral("Of a DVD title set, read title N (from 1; default the longest)."),
        QStringLiteral("N"));
    const QCommandLineOption outputDirOption(
        {QStringLiteral("o"), QStringLiteral("output-dir")},
        QStringLiteral("Write the outputs into DIR, under the names they would have beside their inputs."),
        QStringLiteral("DIR"));
    const QCommandLineOption recursiveOption(
        {QStringLiteral("r"), QStringLiteral("recursive")},
        QStringLiteral("Convert every .txt file below a folder given, in path order, leaving out "
                       "%1 files and not following links to folders; with --from FORMAT other "
                       "than simple, every file of that format by its content, whatever its name, "
                       "leaving out %2 files. What cannot be read "
                       "or taken (a folder, a FIFO, a link) is reported and fails the run.")
            .arg(outputNames(u".txt"), outputNames()));
    parser.addOptions({helpOption,  versionOption,   noShiftOption,    rateOption,     offsetOption,
                       namesOption, formatOption,    fpsOption,        qpTypeOption,   languageOption,
                       ansiOption,  unicodeOption,   codePageOption,   fromOption,     editionOption,
                       titleOption, outputDirOption, stdoutOption,     dryRunOption,   listOption,
                       jsonOption,  snapOption,      snapWindowOption, recursiveOption});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Chapter files to convert."),
                                 QStringLiteral("FILE..."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        printLine(stdout, parser.helpText() + examplesText());
        return kAllConverted;
    }
    if (parser.isSet(versionOption)) {
        printLine(stdout, QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion());
        return kAllConverted;
    }

    Request request;
    ConvertOptions &options = request.options;
    request.files = parser.positionalArguments();
    request.recursive = parser.isSet(recursiveOption);
    options.ShiftFrameRate = !parser.isSet(noShiftOption);
    if (parser.isSet(rateOption)) {
        const QString value = parser.value(rateOption);
        const QList<QStringView> rates = QStringView(value).split(u':');
        const std::optional<FrameRate> from = rates.size() == 2 ? parseFrameRate(rates[0]) : std::nullopt;
        const std::optional<FrameRate> to = rates.size() == 2 ? parseFrameRate(rates[1]) : std::nullopt;
        if (!from || !to)
            return usageError(u"--rate takes FROM:TO, two frame rates such as 25:23.976, not " + value);
        if (!isWithinRateTerms(*from) || !isWithinRateTerms(*to))
            return usageError(rateTermsError(u"--rate", value));
        if (!options.ShiftFrameRate)
            return usageError(QStringLiteral("--rate and --no-shift contradict each other"));
        options.retiming = {*from, *to};
    }
    if (parser.isSet(offsetOption)) {
        const QString value = parser.value(offsetOption);
        const std::optional<qint64> offset = parseOffsetMs(value);
        if (!offset) {
            bool isNumber = false;
            value.toLongLong(&isNumber);
            return usageError((isNumber ? QString(u"--offset takes at most " + QString::number(kLargestOffsetMs)
                                                  + u" milliseconds either way, not ")
                                        : QStringLiteral("--offset takes a whole number of milliseconds, not "))
                              + value);
        }
        options.offsetMs = *offset;
    }
    if (parser.isSet(formatOption)) {
        const QString value = parser.value(formatOption);
        const OutputFormat *format = outputFormatNamed(value);
        if (!format)
            return usageError(u"--format takes " + phrase(outputFormatNames(), u"or") + u", not " + value);
        options.format = format->format;
    }
    if (const std::optional<QString> error = readQpfileOptions(parser, fpsOption, qpTypeOption, options))
        return usageError(*error);
    const OutputFormat &written = outputFormatOf(options.format);
    if (!takesEncoding(written)
        && (parser.isSet(ansiOption) || parser.isSet(unicodeOption) || parser.isSet(codePageOption)))
        return usageError(u"--ansi, --unicode and --code-page go with --format "
                          + phrase(outputFormatNames(takesEncoding), u"or") + u" only");
    if (parser.isSet(languageOption)) {
        if (!written.takesLanguage)
            return usageError(u"--language goes with --format " + phrase(outputFormatNames(takesLanguage), u"or")
                              + u" only");
        const std::optional<QString> tag = canonicalLanguageTag(parser.value(languageOption));
        if (!tag)
            return usageError(u"--language takes an ISO 639 code or a tag such as zh-Hans-CN, not "
                              + parser.value(languageOption));
        options.language = *tag;
    }
    if (parser.isSet(stdoutOption) + parser.isSet(dryRunOption) + parser.isSet(listOption) > 1)
        return usageError(QStringLiteral("only one of --stdout, --dry-run and --list can be given"));
    request.list = parser.isSet(listOption);
    request.json = parser.isSet(jsonOption);
    if (request.json && !request.list && !parser.isSet(dryRunOption))
        return usageError(QStringLiteral("--json goes with --list or --dry-run only"));
    // Formats other than simple text carry true times: they are retimed only when a rate is given.
    options.retimeOtherFormats = parser.isSet(rateOption);
    if (parser.isSet(fromOption)) {
        options.inputFormat = parser.value(fromOption);
        if (options.inputFormat != u"simple" && !inputFormatNamed(options.inputFormat))
            return usageError(u"--from takes " + inputFormatNames() + u", not " + options.inputFormat);
    }
    for (const auto &[option, value] :
         {std::pair {&editionOption, &options.read.edition}, std::pair {&titleOption, &options.read.title}}) {
        if (!parser.isSet(*option))
            continue;
        bool ok = false;
        *value = parser.value(*option).toInt(&ok);
        if (!ok || *value < 1)
            return usageError(u"--" + option->names().constLast() + u" takes a number from 1, not "
                              + parser.value(*option));
    }
    if (parser.isSet(outputDirOption)) {
        options.outputFolder = parser.value(outputDirOption);
        if (!QFileInfo(options.outputFolder).isDir())
            return usageError(u"--output-dir: " + options.outputFolder + u" is not a folder");
    }
    if (parser.isSet(stdoutOption))
        options.destination = Destination::StandardOutput;
    else if (parser.isSet(dryRunOption))
        options.destination = Destination::Nowhere;
    if (parser.isSet(codePageOption)) {
        request.codePageText = parser.value(codePageOption);
        bool isNumber = false;
        options.codePage = request.codePageText.toInt(&isNumber);
        if (!isNumber)
            return usageError(u"code page " + request.codePageText + u" is not supported");
    }
    for (const QString &name : parser.optionNames()) {
        if (name == ansiOption.names().constFirst())
            options.OutputEncoding = OutputEncoding::Ansi;
        else if (name == unicodeOption.names().constFirst())
            options.OutputEncoding = OutputEncoding::Unicode;
    }
    if (parser.isSet(namesOption))
        request.namesPath = parser.value(namesOption);
    if (parser.isSet(snapOption)) {
        options.snapKeyframes = parser.value(snapOption);
        if (options.snapKeyframes.isEmpty())
            return usageError(QStringLiteral("--snap-keyframes takes a video file"));
    }
    if (parser.isSet(snapWindowOption)) {
        const QString value = parser.value(snapWindowOption);
        if (!parser.isSet(snapOption))
            return usageError(QStringLiteral("--snap-window goes with --snap-keyframes only"));
        bool isNumber = false;
        options.snapWindowMs = value.toLongLong(&isNumber);
        const bool digitsOnly = std::all_of(value.begin(), value.end(), [](QChar c) { return c.isDigit(); });
        if (!isNumber || !digitsOnly)
            return usageError(u"--snap-window takes a whole number of milliseconds from 0, not " + value);
    }
    if (request.files.isEmpty())
        return usageError(QStringLiteral("no chapter files given"));
    return request;
}

constexpr qint64 kLargestNamesFile = 16 << 20; // bytes: names for a million chapters and more

// The lines of the names file, or of standard input for "-", read as chapter files are read. A
// names file is a regular file (so that a FIFO or device neither blocks nor runs on for ever);
// either is refused past kLargestNamesFile. The failure's detail says why.
Expected<QStringList> readNameLines(const QString &path, CodePage &codePage)
{
    const auto refused = [&](const QString &why) { return Failure {Failure::Kind::ReadFailed, path, 0, why}; };
    std::unique_ptr<QFile> file;
    if (path == u"-") {
        if (streams.closed[0])
            return refused(QStringLiteral("it is closed"));
        file = std::make_unique<QFile>();
        if (!file->open(stdin, QIODevice::ReadOnly))
            return refused(file->errorString());
    } else {
        Expected<std::unique_ptr<QFile>> opened = openRegularFile(path);
        if (!opened) {
            const Failure &failure = opened.error();
            return refused(failure.kind == Failure::Kind::IsFolder         ? QStringLiteral("it is a folder")
                               : failure.kind == Failure::Kind::ReadFailed ? failure.detail
                                                                           : QStringLiteral("not a regular file"));
        }
        file = std::move(*opened);
    }
    // Held whole: standard input cannot be read twice, and a names file is short.
    QBuffer buffer;
    while (buffer.size() <= kLargestNamesFile) {
        const QByteArray bytes = file->read(kLargestNamesFile + 1 - buffer.size());
        if (bytes.isEmpty())
            break;
        buffer.buffer() += bytes;
    }
    if (file->error() != QFileDevice::NoError)
        return refused(file->errorString());
    if (buffer.size() > kLargestNamesFile)
        return refused(QStringLiteral("larger than 16 MiB"));
    buffer.open(QIODevice::ReadOnly);
    TextLineReader reader(buffer, codePage);
    QStringList lines;
    while (std::optional<QString> line = reader.nextLine())
        lines.append(std::move(*line));
    return lines;
}

// Says, once, that the video is read whole for its keyframes, and on a terminal how far it has got.
KeyframeProgress keyframeProgress(const QString &video)
{
#ifdef Q_OS_UNIX
    const bool terminal = ::isatty(STDERR_FILENO);
#else
    const bool terminal = _isatty(_fileno(stderr));
#endif
    const QString line = QCoreApplication::applicationName() + u": " + shownName(video)
        + u" has no Cues for its video: reading the whole file for its keyframes";
    return [line, terminal, told = false](qint64 done, qint64 total) mutable {
        if (!terminal) {
            if (!std::exchange(told, true))
                printLine(stderr, line);
            return;
        }
        const QByteArray shown = (u'\r' + line + QStringLiteral(": %1%").arg(done * 100 / total)).toLocal8Bit();
        std::fputs(shown.constData(), stderr);
        if (done == total)
            std::fputc('\n', stderr);
    };
}

// Checks what the arguments name and prepares the run; the status to exit with when the command
// line cannot be used.
std::variant<RunContext, int> prepare(Request &request, const QSet<QString> &undecodable)
{
    for (const QString &argument : std::as_const(request.files)) {
        const QFileInfo info(argument);
        const auto refused = [&](const QString &why) {
            request.entries.append(Failure {Failure::Kind::ReadFailed, argument, 0, why});
        };
        if (undecodable.contains(argument))
            request.entries.append(Failure {Failure::Kind::UndecodableName, argument, 0, {}});
        else if (!request.recursive)
            request.entries.append(argument);
        else if (!info.exists() && !info.isSymLink())
            refused(errnoText(ENOENT));
        else if (info.isDir() && info.isSymLink())
            refused(QStringLiteral("a symbolic link to a folder, which --recursive does not follow"));
        else if (info.isDir())
            request.entries += chapterFilesBelow(argument, request.options.inputFormat);
        else
            request.entries.append(argument);
    }
    if (request.options.destination == Destination::StandardOutput && request.entries.size() != 1)
        return usageError(QStringLiteral("--stdout takes exactly one chapter file"));
    if (request.options.destination == Destination::StandardOutput && streams.closed[1])
        return usageError(QStringLiteral("--stdout writes to standard output, which is closed"));
    const QString &video = request.options.snapKeyframes;
    if (undecodable.contains(video))
        return usageError(QStringLiteral("the video's name is not valid in the locale's encoding"));
    Expected<RunContext> run = prepareRun(request.options, keyframeProgress(video));
    if (!run && run.error().kind == Failure::Kind::UnsupportedCodePage)
        return usageError(u"code page " + request.codePageText + u" is not supported");
    if (!run) {
        printError(u"--snap-keyframes " + shownName(video) + u": " + reasonText(run.error()));
        return kUsageError;
    }
    if (!request.list)
        request.entries = refuseCollidingOutputs(std::move(request.entries), request.options);
    if (request.namesPath) {
        const QString &path = *request.namesPath;
        if (undecodable.contains(path))
            return usageError(QStringLiteral("the names file's name is not valid in the locale's encoding"));
        const Expected<QStringList> lines = readNameLines(path, run->codePage);
        if (!lines) {
            printError(u"cannot read the names from " + (path == u"-" ? QStringLiteral("standard input") : path) + u" ("
                       + lines.error().detail + u')');
            return kUsageError;
        }
        run->options.UseNameBox = true;
        run->options.nameFileLines = *lines;
        run->titles = titlesFor(run->options);
    }
    return std::move(*run);
}

QString count(qsizetype n, QStringView one, QStringView many)
{
    return QString::number(n) + u' ' + (n == 1 ? one : many);
}

// Warnings on standard error when characters became '?', the writer's ("tessaline-convert: FILE:
// WARNING") and when a names file does not match the chapters.
void warnOfConverted(const QString &file, const EntryResult &result, const RunContext &run)
{
    const QString chapters = count(result.chapters, u"chapter", u"chapters");
    if (result.replacedCharacters > 0)
        printLine(stderr,
                  shownName(file) + u": code page " + QString::number(run.options.codePage) + u" cannot represent "
                      + count(result.replacedCharacters, u"character", u"characters") + u", written as '?'"
                      + (result.outputPath.isEmpty() ? QString() : u" in " + shownName(result.outputPath)));
    for (const QString &warning : result.warnings)
        printError(shownName(file) + u": " + warning);

    const qsizetype names = run.titles.size();
    if (!run.options.UseNameBox || names == result.chapters)
        return;
    // The chapters, or the names, from first to last that have no counterpart.
    const auto span = [](QStringView one, QStringView many, qsizetype first, qsizetype last) -> QString {
        if (first == last)
            return one + u' ' + QString::number(last);
        return many + u' ' + QString::number(first) + u'-' + QString::number(last);
    };
    const QString unmatched = names < result.chapters ? span(u"chapter", u"chapters", names + 1, result.chapters)
            + (names + 1 == result.chapters ? u" keeps its title" : u" keep their titles")
                                                      : span(u"name", u"names", result.chapters + 1, names)
            + (result.chapters + 1 == names ? u" is not used" : u" are not used");
    printLine(stderr, shownName(file) + u": " + chapters + u", " + count(names, u"name", u"names") + u"; " + unmatched);
}

// What was written, and the warnings.
void reportConverted(const QString &file, const EntryResult &result, const RunContext &run)
{
    if (run.options.destination == Destination::BesideInput)
        printLine(stdout, shownName(file) + u" -> " + shownName(result.outputPath));
    else if (run.options.destination == Destination::Nowhere)
        printLine(stdout,
                  shownName(file) + u" -> " + shownName(result.outputPath) + u" ("
                      + count(result.chapters, u"chapter", u"chapters") + u')');
    warnOfConverted(file, result, run);
}

// The chapters of every file, as they would be written, as a table; the exit status. Once the
// reader of standard output has gone, the rest is not listed.
int listFiles(const QList<Expected<QString>> &entries, RunContext &run)
{
    int status = kAllConverted;
    for (const Expected<QString> &entry : entries) {
        if (readerGone())
            return kSomeFailed;
        const Expected<FilePreview> preview = entry ? previewEntry(*entry, run, std::numeric_limits<qsizetype>::max())
                                                    : Expected<FilePreview>(entry.error());
        if (!preview) {
            printLine(stderr, shownName(entry ? *entry : entry.error().path) + u": " + reasonText(preview.error()));
            status = kSomeFailed;
            continue;
        }
        printLine(stdout,
                  shownName(*entry) + u": " + preview->format + u", " + QString::number(preview->chapters)
                      + (preview->chapters == 1 ? u" chapter" : u" chapters"));
        const int width = int(QString::number(preview->chapters).size());
        for (const ChapterPreviewRow &row : preview->rows) {
            const QString number = QStringLiteral("%1").arg(row.number, width);
            printLine(stdout,
                      run.keyframes
                          ? QStringLiteral("%1  %2  %3  %4  %5")
                                .arg(number, row.timeRead, row.timeUnsnapped, row.timeWritten, row.title)
                          : QStringLiteral("%1  %2  %3  %4").arg(number, row.timeRead, row.timeWritten, row.title));
            if (!row.notSnapped.isEmpty())
                printError(shownName(*entry) + u": " + row.notSnapped);
        }
    }
    return status;
}

// A time in milliseconds for JSON: a number, or null where there is none.
QJsonValue millisecondsJson(std::optional<qint64> milliseconds)
{
    return milliseconds ? QJsonValue(*milliseconds) : QJsonValue(QJsonValue::Null);
}

// A file of --list --json and --dry-run --json: its path and output, and the format read and its
// chapters, or the failure's reason.
QJsonObject fileJson(const QString &path, const QString &outputPath, const Expected<FilePreview> &preview)
{
    QJsonObject file {{QStringLiteral("path"), path}, {QStringLiteral("output"), outputPath}};
    if (!preview) {
        file.insert(QStringLiteral("failure"), reasonText(preview.error()));
        return file;
    }
    QJsonArray chapters;
    for (const ChapterPreviewRow &row : preview->rows)
        chapters.append(QJsonObject {{QStringLiteral("number"), row.number},
                                     {QStringLiteral("read"), row.timeRead},
                                     {QStringLiteral("readMs"), millisecondsJson(row.readMs)},
                                     {QStringLiteral("written"), row.timeWritten},
                                     {QStringLiteral("writtenMs"), millisecondsJson(row.writtenMs)},
                                     {QStringLiteral("title"), row.title}});
    file.insert(QStringLiteral("format"), preview->format);
    file.insert(QStringLiteral("chapters"), chapters);
    return file;
}

// An entry's chapters as a listing shows them, or why it fails. A dry run first converts the file
// as the run would, with its warnings on standard error, so that it fails as the run would.
Expected<FilePreview> previewOf(const Expected<QString> &entry, RunContext &run)
{
    if (!entry)
        return entry.error();
    if (run.options.destination == Destination::Nowhere) {
        const Expected<EntryResult> converted = ConvertEntry(*entry, run);
        if (!converted)
            return converted.error();
        warnOfConverted(*entry, *converted, run);
    }
    return previewEntry(*entry, run, std::numeric_limits<qsizetype>::max());
}

// The listing, or what a dry run would write and refuse, as one JSON document on standard output,
// in UTF-8; the exit status.
int printJson(const QList<Expected<QString>> &entries, RunContext &run)
{
    int status = kAllConverted;
    QJsonArray files;
    for (const Expected<QString> &entry : entries) {
        const QString path = entry ? *entry : entry.error().path;
        const Expected<FilePreview> preview = previewOf(entry, run);
        if (!preview)
            status = kSomeFailed;
        files.append(fileJson(path, OutputPathFor(path, run.options.format, run.options.outputFolder), preview));
    }
    printBytes(stdout, QJsonDocument(QJsonObject {{QStringLiteral("files"), files}}).toJson());
    return status;
}

// Whether a failure is that of writing to standard output whose reader has gone.
bool isStandardOutputGone(const Failure &failure)
{
    return failure.kind == Failure::Kind::WriteFailed && failure.output.isEmpty() && failure.systemError == EPIPE;
}

// Converts every file, reporting each; the exit status.
int convertFiles(const QList<Expected<QString>> &entries, RunContext &run)
{
    int status = kAllConverted;
    for (const Expected<QString> &entry : entries) {
        const Expected<EntryResult> result = entry ? ConvertEntry(*entry, run) : Expected<EntryResult>(entry.error());
        if (result) {
            reportConverted(*entry, *result, run);
        } else if (isStandardOutputGone(result.error())) {
            streams.outputError = EPIPE;
            status = kSomeFailed;
        } else {
            printLine(stderr, shownName(entry ? *entry : entry.error().path) + u": " + reasonText(result.error()));
            status = kSomeFailed;
        }
    }
    return status;
}

// Standard output can fail (a full disk, a closed pipe): say so once, as the standard tools do.
// Where standard output is the work (the listing, the one output) rather than a report of it, a
// reader that has gone ends the program quietly, as it ends the standard tools; the status is 1
// all the same, since not all was written.
int checkedStandardOutput(int status, bool outputIsTheWork)
{
    if (std::fflush(stdout) != 0 && streams.outputError == 0)
        streams.outputError = errno;
    const bool lost = streams.outputError != 0 || (streams.closed[1] && streams.printed);
    if (!lost)
        return status;
    if (outputIsTheWork && readerGone())
        return status == kAllConverted ? kSomeFailed : status;
    printError(u"cannot write to standard output ("
               + (streams.closed[1] ? QStringLiteral("it is closed") : errnoText(streams.outputError)) + u')');
    return status == kAllConverted ? kSomeFailed : status;
}

// Standard streams the caller closed are opened on /dev/null, so that no file this program opens
// takes their numbers (a report line would land in it); streams remembers which were closed. A
// broken pipe on standard output is a failure to see to, not a signal that ends the program
// half-way through a file.
void guardStandardStreams()
{
#ifdef Q_OS_UNIX
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            streams.closed[size_t(fd)] = true;
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY); // the lowest free number: fd
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    guardStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaline-convert"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALINE_VERSION));
    const QSet<QString> undecodable = undecodableArguments(argc, argv);

    QCommandLineParser parser;
    std::variant<Request, int> request = parseCommandLine(parser);
    if (const int *status = std::get_if<int>(&request))
        return checkedStandardOutput(*status, true); // --help and --version are the work
    std::variant<RunContext, int> run = prepare(std::get<Request>(request), undecodable);
    if (const int *status = std::get_if<int>(&run))
        return *status;
    const Request &asked = std::get<Request>(request);
    RunContext &context = std::get<RunContext>(run);
    const bool outputIsTheWork = asked.list || asked.json || context.options.destination == Destination::StandardOutput;
    const int status = asked.json ? printJson(asked.entries, context)
        : asked.list              ? listFiles(asked.entries, context)
                                  : convertFiles(asked.entries, context);
    return checkedStandardOutput(status, outputIsTheWork);
}
