// The conversion library: time arithmetic, code pages, and what it does with hostile files.
// How whole files convert is tested through the command line (tst_convertcommand).
#include "chapterchange.h"
#include "chapteredits.h"
#include "conversion.h"
#include "formats/outputformat.h"
#include "formats/timestamplist.h"
#include "keyframes.h"
#include "localecodepage.h"
#include "testsupport.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <qt_windows.h>
#endif

using namespace Tessaline;
using namespace TestSupport;

// Edits of a file's chapters, as the window's commands make them.
using Edits = std::function<void(QList<EditedChapter> &chapters)>;
Q_DECLARE_METATYPE(Edits)

namespace {

QString longLineText()
{
    return QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=") + QString(3'000'000, QChar(0x7AE0))
        + QStringLiteral("\r\nCHAPTER02=x\r\nCHAPTER02NAME=b");
}

// A file that another program rewrites once it has been read through: the reader seeks back to
// its start after the UTF-8 check.
class RewrittenBuffer : public QBuffer
{
public:
    RewrittenBuffer(const QByteArray &before, const QByteArray &after) : m_after(after)
    {
        setData(before);
        open(QIODevice::ReadOnly);
    }
    bool seek(qint64 position) override
    {
        if (position == 0 && pos() > 0)
            buffer() = m_after;
        return QBuffer::seek(position);
    }

private:
    QByteArray m_after;
};

// A CR as the last byte of the reader's first 1 MiB block, and its LF the first of the next.
QString lineEndAcrossBlocksText()
{
    const QString head = QStringLiteral("CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=");
    return head + QString((1 << 20) - 1 - head.size(), u'a')
        + QStringLiteral("\r\nCHAPTER02=00:00:02.000\r\nCHAPTER02NAME=b");
}

} // namespace

class TestConversion : public QObject
{
    Q_OBJECT

private slots:
    void chapterTimes_data();
    void chapterTimes();
    void codePages_data();
    void codePages();
    void unrepresentableCharacters_data();
    void unrepresentableCharacters();
    void codePageForLocale();
    void systemCodePage();
    void longLines_data();
    void longLines();
    void completionScriptFormats();
    void timestampListRules_data();
    void timestampListRules();
    void outputPaths_data();
    void outputPaths();
    void inputPaths_data();
    void inputPaths();
    void hostileFiles_data();
    void hostileFiles();
    void fullDisk();
    void changedWhileRead_data();
    void changedWhileRead();
    void temporaryNames_data();
    void temporaryNames();
    void failedFileLeavesNoCharacterBehind();
    void runNamesFilesWithReplacedCharacters();
    void namesBoxLines_data();
    void namesBoxLines();
    void snapToKeyframes_data();
    void snapToKeyframes();
    void editedChapters_data();
    void editedChapters();
    void readForEditing_data();
    void readForEditing();
    void typedTimes_data();
    void typedTimes();
    void changesOnDisk_data();
    void changesOnDisk();
};

void TestConversion::chapterTimes_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<Retiming>("retiming");
    QTest::addColumn<qint64>("offsetMs");
    QTest::addColumn<QString>("expected"); // empty: the file fails
    // One row a line of data/times.tsv (see there).
    for (const QStringList &row : tableRows(QFINDTESTDATA("data/times.tsv"))) {
        QCOMPARE(row.size(), 6);
        const Retiming retiming {*parseFrameRate(row[3].section(u':', 0, 0)), *parseFrameRate(row[3].section(u':', 1))};
        QTest::newRow(qPrintable(row[0])) << row[1] << (row[2] == u"shift") << retiming << row[4].toLongLong()
                                          << (row[5] == u"fails" ? QString() : row[5]);
    }
}

void TestConversion::chapterTimes()
{
    QFETCH(QString, time);
    QFETCH(bool, shift);
    QFETCH(Retiming, retiming);
    QFETCH(qint64, offsetMs);
    QFETCH(QString, expected);
    ConvertOptions options;
    options.ShiftFrameRate = shift;
    options.retiming = retiming;
    options.offsetMs = offsetMs;
    Expected<RunContext> run = prepareRun(options);
    QVERIFY(run);
    const QString file = QStringLiteral("CHAPTER01=") + time + QStringLiteral("\nCHAPTER01NAME=a\n");
    const Expected<QByteArray> output = convertBytes(file.toUtf8(), *run);
    QCOMPARE(output ? QString(QStringDecoder(QStringDecoder::Utf16).decode(*output)).mid(10, 12) : QString(), expected);
}

void TestConversion::codePages_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<bool>("accepted");
    // The ANSI code pages of the locale table, and the OEM pages whose ICU tables move 1A, 1C, 7F.
    for (const int page : {874,   932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258,
                           65001, 437, 720, 737, 775, 850,  852,  855,  857,  858,  861,  862,  866,  869})
        QTest::addRow("%d", page) << page << true;
    for (const int page : {1200, 1201, 65000, 37, 12345}) // UTF-16, UTF-7, EBCDIC, none
        QTest::addRow("%d refused", page) << page << false;
}

// Bytes 00-7F are read and written as the ASCII characters they are, in every page accepted.
void TestConversion::codePages()
{
    QFETCH(int, codePage);
    QFETCH(bool, accepted);
#ifdef Q_OS_WIN
    if (codePage == 858 && GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        QSKIP("Wine has no code page 858");
#endif
    Expected<CodePage> page = CodePage::open(codePage);
    QCOMPARE(bool(page), accepted);
    if (!page)
        return;
    QByteArray ascii;
    for (int byte = 0; byte < 0x80; ++byte)
        ascii += char(byte);
    QCOMPARE(page->decoded(ascii), QString::fromLatin1(ascii));
    QCOMPARE(page->encoded(QString::fromLatin1(ascii)), ascii);
}

void TestConversion::unrepresentableCharacters_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("replaced"); // the text's own '?' is none
    QTest::newRow("1252: CJK, and one beyond U+FFFF")
        << 1252 << QStringLiteral("\u65E5\u672C Caf\u00E9 \U0001F600?") << QByteArray("?? Caf\xE9 ??") << qsizetype(3);
    QTest::newRow("932: a letter outside it beside double-byte characters")
        << 932 << QStringLiteral("\u65E5\u672C?\u00E9") << QByteArray("\x93\xFA\x96\x7B??") << qsizetype(1);
}

// A character the page cannot represent is written as '?' and counted, one for each character.
void TestConversion::unrepresentableCharacters()
{
    QFETCH(int, codePage);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, replaced);
    Expected<CodePage> page = CodePage::open(codePage);
    QVERIFY(page);
    QByteArray written;
    QCOMPARE(page->encode(text, written, true), replaced);
    QCOMPARE(written, bytes);
}

// The locale table's fallbacks: the language without its region, the script named by @latin,
// UTF-8 for a language without an ANSI code page, and en-US for the rest.
void TestConversion::codePageForLocale()
{
    const std::pair<const char *, int> locales[]
        = {{"zh_TW.Big5", 950},    {"de_XX.UTF-8", 1252}, {"sr_RS.UTF-8@latin", 1250},
           {"am_ET.UTF-8", 65001}, {"xx_YY.UTF-8", 1252}, {"C", 1252}};
    for (const auto &[locale, codePage] : locales)
        QCOMPARE(ansiCodePageForLocale(QString::fromLatin1(locale)), codePage);
}

// Under Wine, GetACP() follows the Unix locale: it must give the page the locale table gives.
void TestConversion::systemCodePage()
{
#ifdef Q_OS_UNIX
    QSKIP("the locale table is the system's code page here");
#else
    if (qEnvironmentVariableIsEmpty("LANG"))
        QSKIP("no Unix locale: not under Wine");
    QCOMPARE(systemAnsiCodePage(), ansiCodePageFromEnvironment());
#endif
}

void TestConversion::longLines_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    const QString text = longLineText();
    QTest::newRow("UTF-8") << 1252 << text.toUtf8() << text;
    QTest::newRow("UTF-16LE") << 1252 << unicodeFile(text) << text;
    QTest::newRow("code page 936") << 936 << CodePage::open(936)->encoded(text) << text;
    const QString split = lineEndAcrossBlocksText();
    QTest::newRow("UTF-8, CR LF across blocks") << 1252 << split.toUtf8() << split;
    QTest::newRow("ANSI, CR LF across blocks") << 1252 << split.toLatin1() << split;
}

// A title of three million characters (past the reader's blocks, which cut it between the bytes
// of a character) comes out whole, and the chapter after it is paired as before; so is a line
// end split between two blocks.
void TestConversion::longLines()
{
    QFETCH(int, codePage);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    ConvertOptions options;
    options.ShiftFrameRate = false;
    options.codePage = codePage;
    Expected<RunContext> run = prepareRun(options);
    QVERIFY(run);
    const Expected<QByteArray> output = convertBytes(bytes, *run);
    QVERIFY(output);
    QVERIFY(*output == unicodeFile(text));
}

// The completion script cannot ask the writers' table: its --format words are those of the table.
void TestConversion::completionScriptFormats()
{
    const QString script = QString::fromUtf8(readFile(QFINDTESTDATA("../app/tessaline-convert.bash-completion")));
    const QRegularExpressionMatch words
        = QRegularExpression(QStringLiteral(R"(--format\)\s*COMPREPLY=\(\$\(compgen -W '([^']*)')")).match(script);
    QVERIFY(words.hasMatch());
    QCOMPARE(words.captured(1).split(u' ', Qt::SkipEmptyParts), outputFormatNames());
}

void TestConversion::timestampListRules_data()
{
    QTest::addColumn<QStringList>("starts");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("warnings");
    for (const QStringList &row : tableRows(QFINDTESTDATA("data/timestamprules.tsv")))
        QTest::newRow(qPrintable(row[0]))
            << row[1].split(u',') << row[2] << row.value(3).split(QStringLiteral(" | "), Qt::SkipEmptyParts);
}

void TestConversion::timestampListRules()
{
    QFETCH(QStringList, starts);
    QFETCH(QString, end);
    QFETCH(QStringList, warnings);
    QBuffer device;
    device.open(QIODevice::WriteOnly);
    EncodedOutput output(device, EncodedOutput::Form::Utf8, nullptr);
    const std::unique_ptr<ChapterWriter> writer = makeTimestampListWriter(output);
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const bool last = i + 1 == starts.size();
        writer->beginChapter(
            i + 1,
            ChapterStart {.text = {},
                          .milliseconds = starts[i].toLongLong(),
                          .endMilliseconds = last && end != u"-" ? std::optional(end.toLongLong()) : std::nullopt});
        writer->endChapter();
    }
    QVERIFY(writer->finish());
    QCOMPARE(writer->warnings(), warnings);
}

void TestConversion::outputPaths_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    for (const QStringList &row : tableRows(QFINDTESTDATA("data/outputpaths.tsv"))) {
        QCOMPARE(row.size(), 3);
        QTest::newRow(qPrintable(row[0])) << row[1] << row[2];
    }
}

// The output's name is the input's with its last extension replaced by "_new.txt", whatever the
// path's form.
void TestConversion::outputPaths()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QCOMPARE(OutputPathFor(input), output);
}

void TestConversion::inputPaths_data()
{
    QTest::addColumn<QString>("name"); // in the current folder
    QTest::addColumn<QString>("path"); // %1: the current folder; %2: its drive ("C:")
    QTest::newRow("relative") << QStringLiteral("film.txt") << QStringLiteral("film.txt");
    QTest::newRow("outside the ANSI code page")
        << QStringLiteral("\uD55C\uAE00.txt") << QStringLiteral("\uD55C\uAE00.txt");
#ifndef Q_OS_UNIX
    QTest::newRow("native separators") << QStringLiteral("film.txt") << QStringLiteral("%1\\film.txt");
    QTest::newRow("drive-relative") << QStringLiteral("film.txt") << QStringLiteral("%2film.txt");
#endif
}

// A file named as the system gives names converts, and its output lands beside it.
void TestConversion::inputPaths()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
    QVERIFY(writeFile(name, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a\r\n"));
    const QString native = QDir::toNativeSeparators(dir.path());
    Expected<RunContext> run = prepareRun(ConvertOptions());
    const Expected<EntryResult> result
        = ConvertEntry(path.replace(QStringLiteral("%1"), native).replace(QStringLiteral("%2"), native.left(2)), *run);
    QVERIFY(result);
    QCOMPARE(result->chapters, 1);
    QCOMPARE(readFile(OutputPathFor(name)), unicodeFile(u"CHAPTER01=00:00:01.001\r\nCHAPTER01NAME=a"));
}

void TestConversion::hostileFiles_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<Failure::Kind>("failure");
    QTest::addColumn<int>("systemError"); // errno's meaning, which the window words itself
    using Kind = Failure::Kind;
#ifdef Q_OS_UNIX
    QTest::newRow("output a link to the input") << QStringLiteral("film.txt") << Kind::OutputIsLink << 0;
    QTest::newRow("output a link elsewhere") << QStringLiteral("other.txt") << Kind::OutputIsLink << 0;
    QTest::newRow("output a dangling link") << QStringLiteral("dangling.txt") << Kind::OutputIsLink << 0;
    QTest::newRow("input a link to its own output") << QStringLiteral("self.txt") << Kind::OutputIsInput << 0;
    QTest::newRow("FIFO") << QStringLiteral("fifo.txt") << Kind::IsSpecialFile << 0;
    QTest::newRow("device") << QStringLiteral("zero.txt") << Kind::IsSpecialFile << 0;
#else
    QTest::newRow("output a symbolic link") << QStringLiteral("other.txt") << Kind::OutputIsLink << 0;
    QTest::newRow("output a hard link to the input") << QStringLiteral("film.txt") << Kind::OutputIsInput << 0;
    // NUL with an extension is still NUL (up to Windows 10, and in Wine).
    QTest::newRow("device") << QStringLiteral("NUL.txt") << Kind::IsSpecialFile << 0;
    QTest::newRow("pipe") << QStringLiteral("\\\\.\\pipe\\tessaline-test.txt") << Kind::IsSpecialFile << 0;
    QTest::newRow("output read-only") << QStringLiteral("locked.txt") << Kind::WriteFailed << EACCES;
#endif
    QTest::newRow("folder") << QStringLiteral("folder.txt") << Kind::IsFolder << 0;
    QTest::newRow("output a folder") << QStringLiteral("dir.txt") << Kind::WriteFailed << EISDIR;
    QTest::newRow("missing") << QStringLiteral("missing.txt") << Kind::ReadFailed << ENOENT;
    QTest::newRow("in a missing folder") << QStringLiteral("none/film.txt") << Kind::ReadFailed << ENOENT;
}

// Nothing is written, no link or its target changes, and nothing blocks: a FIFO with no writer
// would hold a reader for ever, so the watchdog ends the test instead.
void TestConversion::hostileFiles()
{
    QFETCH(QString, input);
    QFETCH(Failure::Kind, failure);
    QFETCH(int, systemError);
    QTemporaryDir dir;
    const QDir folder(dir.path());
    const QByteArray film = "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a\r\n";
#ifdef Q_OS_UNIX
    const QStringList unchanged {QStringLiteral("film.txt"), QStringLiteral("other.txt"),
                                 QStringLiteral("self_new.txt"), QStringLiteral("dir.txt")};
    for (const QString &name : unchanged + QStringList {QStringLiteral("dangling.txt")})
        QVERIFY(writeFile(folder.filePath(name), film));
    for (const auto &[target, link] : {std::pair {"film.txt", "film_new.txt"},
                                       {"film.txt", "other_new.txt"},
                                       {"gone", "dangling_new.txt"},
                                       {"self_new.txt", "self.txt"},
                                       {"/dev/zero", "zero.txt"}})
        QVERIFY(QFile::link(folder.filePath(QString::fromLatin1(target)), folder.filePath(QString::fromLatin1(link))));
    QCOMPARE(::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("fifo.txt"))).constData(), 0600), 0);
#else
    const QStringList unchanged {QStringLiteral("film.txt"), QStringLiteral("other.txt"), QStringLiteral("dir.txt"),
                                 QStringLiteral("locked.txt"), QStringLiteral("locked_new.txt")};
    for (const QString &name : unchanged)
        QVERIFY(writeFile(folder.filePath(name), film));
    const auto nativePath = [&](const char *name) {
        return QDir::toNativeSeparators(folder.filePath(QString::fromLatin1(name))).toStdWString();
    };
    QVERIFY(SetFileAttributesW(nativePath("locked_new.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    QVERIFY(CreateHardLinkW(nativePath("film_new.txt").c_str(), nativePath("film.txt").c_str(), nullptr));
    // Symbolic links take developer mode (or a privilege) on Windows; Wine 8 makes none.
    CreateSymbolicLinkW(nativePath("other_new.txt").c_str(), nativePath("film.txt").c_str(),
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD linkAttributes = GetFileAttributesW(nativePath("other_new.txt").c_str());
    if (input == u"other.txt"
        && (linkAttributes == INVALID_FILE_ATTRIBUTES || !(linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT)))
        QSKIP("no symbolic link can be made here");
    const HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\tessaline-test.txt", PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE,
                                         PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
    QVERIFY(pipe != INVALID_HANDLE_VALUE);
    const auto closePipe = qScopeGuard([pipe] { CloseHandle(pipe); });
#endif
    QVERIFY(folder.mkdir(QStringLiteral("folder.txt")));
    QVERIFY(folder.mkdir(QStringLiteral("dir_new.txt")));
    const QStringList before = folder.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);

    Expected<RunContext> run = prepareRun(ConvertOptions());
#ifdef Q_OS_UNIX
    ::alarm(60);
#endif
    const Expected<EntryResult> result = ConvertEntry(folder.filePath(input), *run);
#ifdef Q_OS_UNIX
    ::alarm(0);
#endif
    QVERIFY(!result);
    QCOMPARE(result.error().kind, failure);
    QCOMPARE(result.error().systemError, systemError);
    QCOMPARE(folder.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), before);
    for (const QString &name : unchanged)
        QCOMPARE(readFile(folder.filePath(name)), film);
#ifdef Q_OS_UNIX
    QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("dangling_new.txt"))).symLinkTarget(),
             folder.filePath(QStringLiteral("gone")));
#endif
}

// A write that fails part-way gives the system's reason and leaves the earlier output as it was.
void TestConversion::fullDisk()
{
#ifndef Q_OS_UNIX
    QSKIP("a small file system is mounted only on Linux");
#else
    if (::geteuid() != 0)
        QSKIP("mounting a small file system takes root");
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("film.txt"));
    QByteArray film;
    for (int k = 1; k <= 600; ++k) // 40 kB, which becomes 80 kB in UTF-16
        film += "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a chapter title of some length\r\n";
    if (::mount("tessaline-test", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("no tmpfs can be mounted here");
    QVERIFY(writeFile(input, film));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("film_new.txt")), "earlier"));
    Expected<RunContext> run = prepareRun(ConvertOptions());
    const Expected<EntryResult> result = ConvertEntry(input, *run);
    const QByteArray earlier = readFile(dir.filePath(QStringLiteral("film_new.txt")));
    ::umount(QFile::encodeName(dir.path()).constData());
    QVERIFY(!result);
    QCOMPARE(result.error().kind, Failure::Kind::WriteFailed);
    QCOMPARE(result.error().detail, qt_error_string(ENOSPC));
    QCOMPARE(result.error().systemError, ENOSPC);
    QCOMPARE(earlier, QByteArray("earlier"));
#endif
}

void TestConversion::changedWhileRead_data()
{
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("fails");
    const QByteArray film = "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=caf\xC3\xA9\r\n";
    QTest::newRow("unchanged") << film << false;
    QTest::newRow("rewritten in the same size") << QByteArray(film).replace("caf", "tea") << false;
    QTest::newRow("grown: text appended") << film + "CHAPTER02=00:00:02.000\r\nCHAPTER02NAME=caf\xE9" << true;
    QTest::newRow("shrunk: cut mid-title") << film.first(film.size() - 4) << true;
    QTest::newRow("emptied") << QByteArray() << true;
}

// A file that grows or shrinks while it is read fails, whatever it holds then.
void TestConversion::changedWhileRead()
{
    QFETCH(QByteArray, after);
    QFETCH(bool, fails);
    RewrittenBuffer device("CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=caf\xC3\xA9\r\n", after);
    Expected<CodePage> codePage = CodePage::open(1252);
    TextLineReader reader(device, *codePage);
    while (reader.nextPiece()) { }
    QCOMPARE(reader.failure() ? std::optional(reader.failure()->kind) : std::nullopt,
             fails ? std::optional(Failure::Kind::ChangedWhileRead) : std::nullopt);
}

void TestConversion::temporaryNames_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("temporary");
    QTest::newRow("hidden, beside the output")
        << QStringLiteral("/a/film_new.txt") << QStringLiteral("/a/.film_new.txt.tessaline-XXXXXX");
    QTest::newRow("relative") << QStringLiteral("film_new.xml") << QStringLiteral(".film_new.xml.tessaline-XXXXXX");
#ifdef Q_OS_UNIX
    // 236 characters of 3 bytes give 708 bytes: cut to 79 characters (237 bytes) and the tail.
    QTest::newRow("cut to 255 bytes, in whole characters")
        << u"/a/" + QString(236, QChar(0x7AE0)) << u"/a/." + QString(79, QChar(0x7AE0)) + u".tessaline-XXXXXX";
#else
    QTest::newRow("cut to 255 UTF-16 units, in whole characters") << u"C:/a/" + QString(240, QChar(0x7AE0))
            + u"\U0001F600" << u"C:/a/." + QString(237, QChar(0x7AE0)) + u".tessaline-XXXXXX";
#endif
}

// The temporary file of an output is named so that one left by a killed run is told apart from
// the user's files, and fits the file system's names.
void TestConversion::temporaryNames()
{
    QFETCH(QString, output);
    QFETCH(QString, temporary);
    QCOMPARE(temporaryPathFor(output), temporary);
}

// A file that fails while its first megabyte ends inside a character (the lead byte of a
// two-byte character of code page 936) leaves nothing of it to the next file of the run.
void TestConversion::failedFileLeavesNoCharacterBehind()
{
    QTemporaryDir dir;
    QByteArray failing = "CHAPTER01=bad\r\nCHAPTER01NAME=x\r\n";
    failing += QByteArray((1 << 20) - 1 - failing.size(), 'x') + "\xB5\xDA";
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a.txt")), failing));
    // A character carried over would shift "CHAPTER1=" off its place.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("b.txt")), "CHAPTER1=00:00:01.000\r\nCHAPTER1NAME=\xB5\xDA"));
    ConvertOptions options;
    options.codePage = 936;
    Expected<RunContext> run = prepareRun(options);
    QVERIFY(!ConvertEntry(dir.filePath(QStringLiteral("a.txt")), *run));
    QVERIFY(ConvertEntry(dir.filePath(QStringLiteral("b.txt")), *run));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("b_new.txt"))),
             unicodeFile(u"CHAPTER01=00:00:01.001\r\nCHAPTER01NAME=\u7B2C"));
}

// A run in the ANSI form names the files that hold a '?' for a character the code page lacks.
void TestConversion::runNamesFilesWithReplacedCharacters()
{
    QTemporaryDir dir;
    const QString japanese = dir.filePath(QStringLiteral("ja.txt"));
    const QString latin = dir.filePath(QStringLiteral("fr.txt"));
    QVERIFY(writeFile(japanese, unicodeFile(u"CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=\u65E5\u672C")));
    QVERIFY(writeFile(latin, unicodeFile(u"CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=Caf\u00E9")));
    ConvertOptions options;
    options.OutputEncoding = OutputEncoding::Ansi;
    options.codePage = 1252;
    const ConvertReport report = ConvertAll({japanese, latin}, options);
    QCOMPARE(report.converted, 2);
    QCOMPARE(report.replacedCharacters, QStringList {japanese});
}

void TestConversion::namesBoxLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("a line end after the last title")
        << QStringLiteral("Intro\r\nEnd\r\n") << QStringList {QStringLiteral("Intro"), QStringLiteral("End")};
    QTest::newRow("an empty line before it is a title")
        << QStringLiteral("Intro\r\n\r\n") << QStringList {QStringLiteral("Intro"), QString()};
}

// The titles of the names box: a line end typed after the last one starts no further title.
void TestConversion::namesBoxLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(nameLines(text), lines);
}

void TestConversion::snapToKeyframes_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QList<qint64>>("keyframes");
    QTest::addColumn<qint64>("windowMs");
    QTest::addColumn<SnappedTime>("expected");
    const QList<qint64> keyframes {0, 4600, 5000, 5600, 9000};
    QTest::newRow("on a keyframe") << qint64(5000) << keyframes << qint64(1000)
                                   << SnappedTime {5000, 5000, true, {}, {}};
    QTest::newRow("back to the latest keyframe, not the nearest")
        << qint64(5500) << keyframes << qint64(1000) << SnappedTime {5500, 5000, true, {}, {}};
    QTest::newRow("the whole window back")
        << qint64(6600) << keyframes << qint64(1000) << SnappedTime {6600, 5600, true, {}, {}};
    QTest::newRow("past the window: left, the keyframes either side named")
        << qint64(6601) << keyframes << qint64(1000) << SnappedTime {6601, 6601, false, 5600, 9000};
    QTest::newRow("after the last keyframe")
        << qint64(10001) << keyframes << qint64(1000) << SnappedTime {10001, 10001, false, 9000, {}};
    QTest::newRow("before the first keyframe")
        << qint64(500) << QList<qint64> {1000} << qint64(1000) << SnappedTime {500, 500, false, {}, 1000};
    QTest::newRow("a window of 0: on keyframes only")
        << qint64(5001) << keyframes << qint64(0) << SnappedTime {5001, 5001, false, 5000, 5600};
}

void TestConversion::snapToKeyframes()
{
    QFETCH(qint64, ms);
    QFETCH(QList<qint64>, keyframes);
    QFETCH(qint64, windowMs);
    QFETCH(SnappedTime, expected);
    const SnappedTime snapped = snappedToKeyframe(ms, keyframes, windowMs);
    QCOMPARE(snapped.toMs, expected.toMs);
    QCOMPARE(snapped, expected);
}

void TestConversion::editedChapters_data()
{
    QTest::addColumn<QString>("input"); // a file of data/formats, or written from bytes
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Edits>("edits");
    QTest::addColumn<ConvertOptions>("options");
    QTest::addColumn<QString>("output"); // empty: not written
    QTest::addColumn<qsizetype>("problemChapter"); // of the first problem; 0: none
    QTest::addColumn<Failure::Kind>("problem");
    const QByteArray simple = "CHAPTER01=00:00:00.000\nCHAPTER01NAME=A\nCHAPTER02=00:00:30.000\nCHAPTER02NAME=B\n"
                              "CHAPTER03=00:01:00.000\nCHAPTER03NAME=C\n";
    ConvertOptions noRetiming;
    noRetiming.ShiftFrameRate = false;
    QTest::newRow("simple text retimed: a title and a time typed, a chapter deleted")
        << u"film.txt"_qs << simple << Edits([](QList<EditedChapter> &chapters) {
               chapters[0].chapter.title = u"Intro"_qs;
               chapters[1] = withTypedTime(chapters[1], u"00:00:45.000"_qs);
               chapters.removeAt(2);
           })
        << ConvertOptions()
        << u"CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Intro\r\nCHAPTER02=00:00:45.045\r\nCHAPTER02NAME=B"_qs
        << qsizetype(0) << Failure::Kind::NoChapters;
    ConvertOptions namesAndOffset = noRetiming;
    namesAndOffset.offsetMs = 1000;
    namesAndOffset.UseNameBox = true;
    namesAndOffset.NameBoxText = u"One\r\nTwo"_qs;
    QTest::newRow("playlist: the names box and the offset apply to an inserted chapter and a typed title")
        << QFINDTESTDATA("data/formats/mpls/playlist.mpls") << QByteArray()
        << Edits([](QList<EditedChapter> &chapters) {
               chapters.insert(1, newChapterAfter(chapters, 0));
               chapters[2].chapter.title = u"X"_qs;
           })
        << namesAndOffset
        << u"CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=One\r\nCHAPTER02=00:00:01.000\r\nCHAPTER02NAME=Two\r\n"
           "CHAPTER03=00:00:06.000\r\nCHAPTER03NAME=X\r\nCHAPTER04=00:00:11.501\r\nCHAPTER04NAME=Chapter 03"_qs
        << qsizetype(0) << Failure::Kind::NoChapters;
    QTest::newRow("Matroska retimed as the window retimes every format")
        << QFINDTESTDATA("data/formats/matroska/chapters.mkv") << QByteArray()
        << Edits([](QList<EditedChapter> &chapters) { chapters[2] = withTypedTime(chapters[2], u"00:00:03.000"_qs); })
        << ConvertOptions()
        << u"CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Intro\r\nCHAPTER02=00:00:01.001\r\nCHAPTER02NAME=Hidden scene\r\n"
           "CHAPTER03=00:00:03.003\r\nCHAPTER03NAME=\u7247\u5C3E"_qs
        << qsizetype(0) << Failure::Kind::NoChapters;
    QTest::newRow("a time typed that is no time")
        << u"film.txt"_qs << simple
        << Edits([](QList<EditedChapter> &chapters) { chapters[1] = withTypedTime(chapters[1], u"0:45"_qs); })
        << noRetiming << QString() << qsizetype(2) << Failure::Kind::UnreadableTime;
    ConvertOptions offset = noRetiming;
    offset.offsetMs = 1000;
    QTest::newRow("a time past the largest of the output once offset")
        << u"film.txt"_qs << simple
        << Edits([](QList<EditedChapter> &chapters) { chapters[2] = withTypedTime(chapters[2], u"99:59:59.000"_qs); })
        << offset << QString() << qsizetype(3) << Failure::Kind::TimeOutOfRange;
}

// The rule "the edited chapters, then the options": a file's chapters read for editing and
// edited are changed and written as its own chapters would be, by a run given them, and the
// table's "as written" columns show exactly that; a time that cannot be written is a problem of
// its chapter, and refuses the file.
void TestConversion::editedChapters()
{
    QFETCH(QString, input);
    QFETCH(QByteArray, bytes);
    QFETCH(Edits, edits);
    QFETCH(ConvertOptions, options);
    QFETCH(QString, output);
    QFETCH(qsizetype, problemChapter);
    QFETCH(Failure::Kind, problem);
    QTemporaryDir dir;
    const QString path = dir.filePath(QFileInfo(input).fileName());
    QVERIFY(bytes.isEmpty() ? QFile::copy(input, path) : writeFile(path, bytes));
    Expected<ChaptersForEditing> read = Tessaline::readForEditing(path, options);
    QVERIFY(read);
    edits(read->chapters);
    Expected<RunContext> run = prepareRun(options);
    const QList<EditedRow> rows = previewEditedChapters(read->chapters, read->simpleText, *run);
    const QList<Failure> problems = problemsOf(rows);
    QCOMPARE(problems.isEmpty() ? 0 : problems[0].chapter, problemChapter);
    if (problemChapter)
        QCOMPARE(problems[0].kind, problem);
    RunControl control;
    control.edited.insert(0, {read->chapters, read->simpleText});
    const ConvertReport report = ConvertAll({path}, options, control);
    QCOMPARE(report.converted, output.isEmpty() ? 0 : 1);
    if (problemChapter)
        QCOMPARE(report.failures.value(0).chapter, problemChapter);
    if (output.isEmpty())
        return;
    QCOMPARE(readFile(OutputPathFor(path)), unicodeFile(output));
    QStringList previewed; // the table shows what is written
    for (const EditedRow &row : rows)
        previewed.append(QStringLiteral("CHAPTER%1=%2\r\nCHAPTER%1NAME=%3")
                             .arg(PadTwo(row.written.number), row.written.timeWritten, row.written.title));
    QCOMPARE(previewed.join(u"\r\n"), output);
}

void TestConversion::readForEditing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("chapters"); // read; 0: the file fails
    QTest::addColumn<Failure::Kind>("failure");
    QTest::addColumn<qint64>("where"); // the failure's line, or the chapters it counts
    QTest::newRow("simple text in UTF-16, its first title kept")
        << unicodeFile(u"CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=\u7B2C") << qsizetype(1) << Failure::Kind::NoChapters
        << qint64(0);
    QTest::newRow("a line that is no time line")
        << QByteArray("CHAPTER01=00:00:01.000\nCHAPTER01NAME=a\nnot a time\nb\n") << qsizetype(0)
        << Failure::Kind::BadInput << qint64(3);
    QByteArray many;
    for (qsizetype number = 1; number <= kMostEditedChapters + 1; ++number)
        many += "CHAPTER01=00:00:01.000\nCHAPTER01NAME=\n";
    QTest::newRow("past the most that are edited")
        << many << qsizetype(0) << Failure::Kind::TooManyToEdit << qint64(kMostEditedChapters + 1);
}

// Simple text is read whole for editing, through its reader; a file that cannot be, or holds too
// many chapters to be, is not edited.
void TestConversion::readForEditing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, chapters);
    QFETCH(Failure::Kind, failure);
    QFETCH(qint64, where);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(u"film.txt"_qs), bytes));
    const Expected<ChaptersForEditing> read = Tessaline::readForEditing(dir.filePath(u"film.txt"_qs), {});
    QCOMPARE(bool(read), chapters > 0);
    if (!read) {
        QCOMPARE(read.error().kind, failure);
        QCOMPARE(read.error().line + read.error().chapter, where);
    } else {
        QVERIFY(read->simpleText);
        QCOMPARE(read->chapters.size(), chapters);
        QCOMPARE(read->chapters[0].chapter, (Chapter {1000, u"\u7B2C"_qs, 0}));
    }
}

void TestConversion::typedTimes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("milliseconds"); // -1: not a time
    QTest::newRow("as the table shows it") << u"01:02:03.004"_qs << qint64(3'723'004);
    QTest::newRow("hours past 99") << u"123:00:00.000"_qs << qint64(442'800'000);
    QTest::newRow("one digit of hours") << u"1:02:03.004"_qs << qint64(-1);
    QTest::newRow("60 minutes") << u"00:60:00.000"_qs << qint64(-1);
    QTest::newRow("two digits of milliseconds") << u"00:00:01.00"_qs << qint64(-1);
    QTest::newRow("a space before") << u" 00:00:01.000"_qs << qint64(-1);
}

// A time typed into the table is read as the table writes it, and nothing else.
void TestConversion::typedTimes()
{
    QFETCH(QString, text);
    QFETCH(qint64, milliseconds);
    QCOMPARE(parseChapterTime(text).value_or(-1), milliseconds);
}

void TestConversion::changesOnDisk_data()
{
    QTest::addColumn<QByteArray>("after"); // the file's bytes then
    QTest::addColumn<bool>("sameTime"); // its modification time put back
    QTest::addColumn<qint64>("hashedInPart"); // bytes that both stamps claim, past kWholeHashBytes; 0: its own
    QTest::addColumn<bool>("changed");
    const QByteArray film = "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a\r\n";
    QTest::newRow("the same bytes written again") << film << false << qint64(0) << false;
    QTest::newRow("other bytes of the same size, the time put back")
        << QByteArray(film).replace('a', 'b') << true << qint64(0) << true;
    QTest::newRow("grown") << film + film << false << qint64(0) << true;
    QTest::newRow("a large file touched") << film << false << kWholeHashBytes + 1 << true;
}

// A file changed on disk since it was read for editing is told apart from one written again with
// the same bytes; a file hashed in part only is changed when its time is.
void TestConversion::changesOnDisk()
{
    QFETCH(QByteArray, after);
    QFETCH(bool, sameTime);
    QFETCH(qint64, hashedInPart);
    QFETCH(bool, changed);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"film.txt"_qs);
    QVERIFY(writeFile(path, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=a\r\n"));
    const QDateTime earlier = QDateTime::currentDateTime().addSecs(-60);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(earlier, QFileDevice::FileModificationTime));
    file.close();
    Expected<FileStamp> before = stampOf(path);
    QVERIFY(writeFile(path, after));
    if (sameTime) {
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(earlier, QFileDevice::FileModificationTime));
        file.close();
    }
    Expected<FileStamp> now = stampOf(path);
    QVERIFY(before && now);
    if (hashedInPart)
        before->size = now->size = hashedInPart;
    QCOMPARE(contentChanged(*before, *now), changed);
}

QTEST_GUILESS_MAIN(TestConversion)
#include "tst_conversion.moc"
