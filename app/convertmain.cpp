// tessaline-convert: converts chapter files given on the command line, each as the window's
// "Save" converts a list entry. This file reads the arguments, words the outcome in English and
// sets the exit status; the conversion is the library's.
#include "chapterlist.h"
#include "codepage.h"
#include "conversion.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <variant>

using namespace Tessaline;

namespace {

constexpr int kAllConverted = 0;
constexpr int kSomeFailed = 1; // also: standard output could not be written
constexpr int kUsageError = 2; // nothing converted: the command line cannot be used

// Messages and paths are written in the locale's encoding, so that a script reads back the
// paths it passed.
void printLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = (line + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
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

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// A failure in the words of this program: without the file's own path, which the caller puts
// in front.
QString reasonText(const Failure &failure)
{
    switch (failure.kind) {
    case Failure::Kind::NotChapterListName:
        return QStringLiteral("the name does not end in .txt");
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
    case Failure::Kind::UnreadableTime:
        return QStringLiteral("line %1 has no time that can be rescaled: \"%2\"")
            .arg(failure.line)
            .arg(failure.detail);
    case Failure::Kind::TimeOutOfRange:
        return QStringLiteral("line %1 has a time that falls below zero or past the largest time "
                              "the format holds: \"%2\"")
            .arg(failure.line)
            .arg(failure.detail);
    case Failure::Kind::OutputIsLink:
        return QStringLiteral("%1 is a symbolic link, which is not written through; nothing written")
            .arg(nativePath(failure.path));
    case Failure::Kind::OutputIsInput:
        return QStringLiteral("%1 is the input file itself; nothing written").arg(nativePath(failure.path));
    case Failure::Kind::WriteFailed:
        return QStringLiteral("cannot write %1 (%2)").arg(nativePath(failure.path), failure.detail);
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
                          "  find chapters -name '*.txt' ! -name '*_new.txt' -exec tessaline-convert {} +\n"
                          "      converts a folder, leaving out the files of an earlier run");
}

// What the command line asks for.
struct Request
{
    ConvertOptions options;
    QStringList files;
    std::optional<QString> namesPath;
    bool codePageGiven = false;
    QString codePageText;
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
    parser.setApplicationDescription(QStringLiteral(
        "Converts chapter lists (CHAPTER01=00:05:23.456 / CHAPTER01NAME=Title) from 30 fps to\n"
        "29.97 fps timing. Each FILE.txt is written beside itself as FILE_new.txt, replacing an\n"
        "earlier FILE_new.txt; files are converted in the order given."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Show the version and exit."));
    const QCommandLineOption noShiftOption(QStringLiteral("no-shift"),
                                           QStringLiteral("Keep the times as they are."));
    const QCommandLineOption namesOption(
        QStringLiteral("names"),
        QStringLiteral("Replace the titles by the lines of FILE, one a line, in chapter order "
                       "(\"-\" reads standard input). Chapters beyond the last line keep their titles."),
        QStringLiteral("FILE"));
    const QCommandLineOption ansiOption(
        QStringLiteral("ansi"),
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
    parser.addOptions(
        {helpOption, versionOption, noShiftOption, namesOption, ansiOption, unicodeOption, codePageOption});
    parser.addPositionalArgument(QStringLiteral("FILE.txt"), QStringLiteral("Chapter files to convert."),
                                 QStringLiteral("FILE.txt..."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        printLine(stdout, parser.helpText() + examplesText());
        return kAllConverted;
    }
    if (parser.isSet(versionOption)) {
        printLine(stdout,
                  QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion());
        return kAllConverted;
    }

    Request request;
    request.files = parser.positionalArguments();
    request.options.ShiftFrameRate = !parser.isSet(noShiftOption);
    request.options.codePage = systemAnsiCodePage();
    if (parser.isSet(codePageOption)) {
        request.codePageText = parser.value(codePageOption);
        bool isNumber = false;
        request.options.codePage = request.codePageText.toInt(&isNumber);
        if (!isNumber)
            return usageError(u"code page " + request.codePageText + u" is not supported");
    }
    for (const QString &name : parser.optionNames()) {
        if (name == ansiOption.names().constFirst())
            request.options.OutputEncoding = OutputEncoding::Ansi;
        else if (name == unicodeOption.names().constFirst())
            request.options.OutputEncoding = OutputEncoding::Unicode;
    }
    if (parser.isSet(namesOption))
        request.namesPath = parser.value(namesOption);
    if (request.files.isEmpty())
        return usageError(QStringLiteral("no chapter files given"));
    return request;
}

// The lines of the names file, or of standard input for "-", read as chapter files are read.
Expected<QStringList> readNameLines(const QString &path, CodePage &codePage)
{
    QFile file(path);
    const bool standardInput = path == u"-";
    if (!(standardInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly)))
        return Failure{Failure::Kind::ReadFailed, path, 0, file.errorString()};
    // Held whole: standard input cannot be read twice, and a names file is short.
    QBuffer buffer;
    buffer.setData(file.readAll());
    if (file.error() != QFileDevice::NoError)
        return Failure{Failure::Kind::ReadFailed, path, 0, file.errorString()};
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
    Expected<RunContext> run = prepareRun(request.options);
    if (!run)
        return usageError(u"code page " + request.codePageText + u" is not supported");
    if (request.namesPath) {
        const QString &path = *request.namesPath;
        if (undecodable.contains(path))
            return usageError(QStringLiteral("the names file's name is not valid in the locale's encoding"));
        const Expected<QStringList> lines = readNameLines(path, run->codePage);
        if (!lines) {
            printError(u"cannot read the names from " + path + u" (" + lines.error().detail + u')');
            return kUsageError;
        }
        run->options.UseNameBox = true;
        run->options.nameFileLines = *lines;
        run->titles = *lines;
    }
    return std::move(*run);
}

// Converts every file, reporting each; the exit status.
int convertFiles(const QStringList &files, RunContext &run, const QSet<QString> &undecodable)
{
    int status = kAllConverted;
    for (const QString &file : files) {
        const Expected<EntryResult> result = undecodable.contains(file)
            ? Expected<EntryResult>(Failure{Failure::Kind::UndecodableName, file, 0, {}})
            : ConvertEntry(file, run);
        if (result) {
            printLine(stdout, file + u" -> " + result->outputPath);
        } else {
            printLine(stderr, file + u": " + reasonText(result.error()));
            status = kSomeFailed;
        }
    }
    return status;
}

// Standard output can fail (a full disk, a closed pipe): say so, as the standard tools do.
int checkedStandardOutput(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    printError(u"cannot write to standard output (" + qt_error_string(errno) + u')');
    return status == kAllConverted ? kSomeFailed : status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaline-convert"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALINE_VERSION));
    const QSet<QString> undecodable = undecodableArguments(argc, argv);

    QCommandLineParser parser;
    std::variant<Request, int> request = parseCommandLine(parser);
    if (const int *status = std::get_if<int>(&request))
        return checkedStandardOutput(*status);
    std::variant<RunContext, int> run = prepare(std::get<Request>(request), undecodable);
    if (const int *status = std::get_if<int>(&run))
        return *status;
    return checkedStandardOutput(convertFiles(std::get<Request>(request).files, std::get<RunContext>(run), undecodable));
}
