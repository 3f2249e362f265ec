// tessaline-convert: converts chapter files given on the command line, each as the window's
// "Save" converts a list entry. This file reads the arguments, words the outcome in English and
// sets the exit status; the conversion is the library's.
#include "chapterchange.h"
#include "codepage.h"
#include "conversion.h"
#include "formats/inputformat.h"
#include "languagetag.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <variant>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
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
void printLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = (line + u'\n').toLocal8Bit();
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    if (stream == stdout) {
        streams.printed = true;
        if (written != size_t(bytes.size()) && streams.outputError == 0)
            streams.outputError = errno;
    }
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
                          "      writes NAME_new.xml beside every CUE sheet below music");
}

// The input formats --from takes, as one phrase.
QString inputFormatNames()
{
    QStringList names = {QStringLiteral("simple")};
    for (const InputFormat &format : inputFormats())
        names.append(format.name.toString());
    return names.join(QStringLiteral(", "));
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
    const QCommandLineOption formatOption(
        QStringLiteral("format"),
        QStringLiteral("simple (the default: CHAPTERnn lines, FILE_new.txt), matroska (chapter XML for "
                       "mkvmerge, UTF-8, FILE_new.xml) or ffmetadata (for ffmpeg, UTF-8, "
                       "FILE_new.ffmetadata). --ansi, --unicode and --code-page go with simple only."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption languageOption(
        QStringLiteral("language"),
        QStringLiteral("The titles' language in matroska output: an ISO 639 code or a tag such as "
                       "zh-Hans-CN (default und)."),
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
                       "it would be written) and write nothing."));
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
                       "_new.txt files and not following links to folders; with --from FORMAT other "
                       "than simple, every file of that format by its content, whatever its name, "
                       "leaving out _new.txt, _new.xml and _new.ffmetadata files. What cannot be read "
                       "or taken (a folder, a FIFO, a link) is reported and fails the run."));
    parser.addOptions({helpOption, versionOption, noShiftOption, rateOption, offsetOption, namesOption, formatOption,
                       languageOption, ansiOption, unicodeOption, codePageOption, fromOption, editionOption,
                       titleOption, outputDirOption, stdoutOption, dryRunOption, listOption, recursiveOption});
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
            return usageError(u"--rate takes frame rates whose terms are at most " + QString::number(kLargestRateTerm)
                              + u" (10^7), not " + value);
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
        if (value == u"matroska")
            options.format = ChapterFormat::Matroska;
        else if (value == u"ffmetadata")
            options.format = ChapterFormat::Ffmetadata;
        else if (value != u"simple")
            return usageError(u"--format takes simple, matroska or ffmetadata, not " + value);
    }
    const bool simple = options.format == ChapterFormat::Simple;
    if (!simple && (parser.isSet(ansiOption) || parser.isSet(unicodeOption) || parser.isSet(codePageOption)))
        return usageError(QStringLiteral("--ansi, --unicode and --code-page go with --format simple only"));
    if (parser.isSet(languageOption)) {
        if (options.format != ChapterFormat::Matroska)
            return usageError(QStringLiteral("--language goes with --format matroska only"));
        const std::optional<QString> tag = canonicalLanguageTag(parser.value(languageOption));
        if (!tag)
            return usageError(u"--language takes an ISO 639 code or a tag such as zh-Hans-CN, not "
                              + parser.value(languageOption));
        options.language = *tag;
    }
    if (parser.isSet(stdoutOption) + parser.isSet(dryRunOption) + parser.isSet(listOption) > 1)
        return usageError(QStringLiteral("only one of --stdout, --dry-run and --list can be given"));
    request.list = parser.isSet(listOption);
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
    Expected<RunContext> run = prepareRun(request.options);
    if (!run)
        return usageError(u"code page " + request.codePageText + u" is not supported");
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

// What was written, and warnings when characters became '?' and when a names file does not
// match the chapters.
void reportConverted(const QString &file, const EntryResult &result, const RunContext &run)
{
    const auto count = [](qsizetype n, QStringView one, QStringView many) -> QString {
        return QString::number(n) + u' ' + (n == 1 ? one : many);
    };
    const QString chapters = count(result.chapters, u"chapter", u"chapters");
    if (run.options.destination == Destination::BesideInput)
        printLine(stdout, shownName(file) + u" -> " + shownName(result.outputPath));
    else if (run.options.destination == Destination::Nowhere)
        printLine(stdout, shownName(file) + u" -> " + shownName(result.outputPath) + u" (" + chapters + u')');
    if (result.replacedCharacters > 0)
        printLine(stderr,
                  shownName(file) + u": code page " + QString::number(run.options.codePage) + u" cannot represent "
                      + count(result.replacedCharacters, u"character", u"characters") + u", written as '?'"
                      + (result.outputPath.isEmpty() ? QString() : u" in " + shownName(result.outputPath)));

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
        for (const ChapterPreviewRow &row : preview->rows)
            printLine(
                stdout,
                QStringLiteral("%1  %2  %3  %4").arg(row.number, width).arg(row.timeRead, row.timeWritten, row.title));
    }
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
    const bool outputIsTheWork = asked.list || context.options.destination == Destination::StandardOutput;
    return checkedStandardOutput(asked.list ? listFiles(asked.entries, context) : convertFiles(asked.entries, context),
                                 outputIsTheWork);
}
