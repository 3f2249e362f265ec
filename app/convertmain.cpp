// tessaline-convert: converts chapter files given on the command line, each as the window's
// "Save" converts a list entry. Everything here only reads the arguments; the conversion is the
// library's.
#include "chapterlist.h"
#include "codepage.h"
#include "conversion.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <clocale>
#include <cstdio>

using namespace Tessaline;

namespace {

constexpr int kAllConverted = 0;
constexpr int kSomeFailed = 1;
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

struct NamesFile
{
    QByteArray bytes;
    QString error;
};

// The bytes of the names file, or of standard input for "-".
NamesFile readNamesFile(const QString &path)
{
    const bool standardInput = path == u"-";
    QFile file(path);
    if (!(standardInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly)))
        return {{}, file.errorString()};
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {{}, file.errorString()};
    return {bytes, {}};
}

} // namespace

int main(int argc, char *argv[])
{
    std::setlocale(LC_ALL, "");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaline-convert"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALINE_VERSION));

    QCommandLineParser parser;
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
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return usageError(QStringLiteral("no chapter files given"));

    ConvertOptions options;
    options.ShiftFrameRate = !parser.isSet(noShiftOption);
    options.codePage = systemAnsiCodePage();
    if (parser.isSet(codePageOption)) {
        const QString value = parser.value(codePageOption);
        bool isNumber = false;
        options.codePage = value.toInt(&isNumber);
        if (!isNumber || !isCodePageSupported(options.codePage))
            return usageError(u"code page " + value + u" is not supported");
    }
    for (const QString &name : parser.optionNames()) {
        if (name == ansiOption.names().constFirst())
            options.OutputEncoding = OutputEncoding::Ansi;
        else if (name == unicodeOption.names().constFirst())
            options.OutputEncoding = OutputEncoding::Unicode;
    }
    if (parser.isSet(namesOption)) {
        const QString path = parser.value(namesOption);
        const NamesFile names = readNamesFile(path);
        if (!names.error.isEmpty()) {
            printError(u"cannot read the names from " + path + u" (" + names.error + u')');
            return kUsageError;
        }
        options.UseNameBox = true;
        options.NameBoxText = namesTextFromBytes(names.bytes, options.codePage);
    }

    int status = kAllConverted;
    for (const QString &file : files) {
        const EntryResult result = ConvertEntry(file, options);
        if (result.ok()) {
            printLine(stdout, file + u" -> " + result.outputPath);
        } else {
            printLine(stderr, file + u": " + result.error);
            status = kSomeFailed;
        }
    }
    return status;
}
