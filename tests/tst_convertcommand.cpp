// Runs the built tessaline-convert as a script would. Each folder under data/cases is one case:
//     args        one argument a line; "ENV:NAME=value" sets a variable (LC_ALL is C.UTF-8
//                 unless set), "DIR:name" makes a folder before the run, "SH:command" runs a
//                 shell command in the working folder before the run (FIFOs, links, modes, names
//                 not valid UTF-8), "FILES:n" limits the run to n open files
//     stdin       optional, fed to standard input
//     expected/   status (the exit status), stdout and stderr (empty when missing), and every
//                 file the run must leave with its exact bytes; no other file may appear
// Every other file of the folder, and of its subfolders, is copied into an empty working folder
// first. The run has no capabilities that bypass file modes, so that a mode means the same when
// the suite runs as root; a run that takes more than a minute fails.
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <linux/capability.h>

using namespace TestSupport;

class TestConvertCommand : public QObject
{
    Q_OBJECT

private slots:
    void cases_data();
    void cases();
    void undecodableNameIsRefused();
    void standardStreams_data();
    void standardStreams();
};

void TestConvertCommand::cases_data()
{
    QTest::addColumn<QString>("folder");
    const QDir cases(QFINDTESTDATA("data/cases"));
    for (const QString &name : cases.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QTest::newRow(qPrintable(name)) << cases.filePath(name);
}

namespace {

// The files below folder, as paths relative to it, leaving out those of the case itself.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(folder).relativeFilePath(it.next());
        if (path != u"args" && path != u"stdin" && !path.startsWith(u"expected/"))
            files.append(path);
    }
    files.sort();
    return files;
}

int shell(const QString &command, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    return process.waitForFinished(-1) ? process.exitCode() : -1;
}

} // namespace

void TestConvertCommand::cases()
{
    QFETCH(QString, folder);
    QTemporaryDir work;
    const QDir source(folder);
    for (const QString &name : filesBelow(folder)) {
        QVERIFY(QDir(work.path()).mkpath(QFileInfo(name).path()));
        QVERIFY(QFile::copy(source.filePath(name), work.filePath(name)));
    }
    qputenv("TESSALINE_CONVERT", TESSALINE_CONVERT); // for the case's own commands (SH:)
    QStringList arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    const QString argsText = QString::fromUtf8(readFile(source.filePath(QStringLiteral("args"))));
    rlim_t openFiles = RLIM_INFINITY;
    for (const QString &line : argsText.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u"ENV:"))
            environment.insert(line.sliced(4).section(u'=', 0, 0), line.section(u'=', 1));
        else if (line.startsWith(u"DIR:"))
            QVERIFY(QDir(work.path()).mkdir(line.sliced(4)));
        else if (line.startsWith(u"SH:"))
            QCOMPARE(shell(line.sliced(3), work.path()), 0);
        else if (line.startsWith(u"FILES:"))
            openFiles = line.sliced(6).toULong();
        else
            arguments << line;
    }
    const QStringList inputs = filesBelow(work.path());

    QProcess process;
    process.setChildProcessModifier([openFiles] {
        ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE);
        ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH);
        const rlimit limit {openFiles, openFiles};
        if (openFiles != RLIM_INFINITY)
            ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    process.setProgram(QStringLiteral(TESSALINE_CONVERT));
    process.setArguments(arguments);
    process.setWorkingDirectory(work.path());
    process.setProcessEnvironment(environment);
    process.start();
    if (QFile::exists(source.filePath(QStringLiteral("stdin"))))
        process.write(readFile(source.filePath(QStringLiteral("stdin"))));
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(60'000);
    shell(QStringLiteral("chmod -R u+rwX ."), work.path()); // so that the folder can be removed
    QVERIFY(finished);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);

    const QDir expected(source.filePath(QStringLiteral("expected")));
    const auto expectedBytes = [&](const QString &name) {
        return QFile::exists(expected.filePath(name)) ? readFile(expected.filePath(name)) : QByteArray();
    };
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
             QString::fromUtf8(expectedBytes(QStringLiteral("stderr"))));
    QCOMPARE(process.readAllStandardOutput(), expectedBytes(QStringLiteral("stdout")));
    QCOMPARE(process.exitCode(), expectedBytes(QStringLiteral("status")).trimmed().toInt());
    QStringList written = inputs;
    for (const QString &name : filesBelow(expected.path())) {
        if (name == u"status" || name == u"stdout" || name == u"stderr")
            continue;
        QVERIFY2(readFile(work.filePath(name)) == readFile(expected.filePath(name)), qPrintable(name));
        if (!written.contains(name))
            written << name;
    }
    written.sort();
    QCOMPARE(filesBelow(work.path()), written);
}

// A name that is not valid UTF-8 would decode to one with U+FFFD, and so name another file.
void TestConvertCommand::undecodableNameIsRefused()
{
    QTemporaryDir work;
    QVERIFY(writeFile(work.filePath(QStringLiteral("x\uFFFD.txt")), "CHAPTER01=00:00:00.000\nCHAPTER01NAME=a\n"));
    const QByteArray command
        = "cd '" + QFile::encodeName(work.path()) + "' && '" TESSALINE_CONVERT "' $(printf 'x\\351.txt')";
    QProcess process;
    process.start(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromLocal8Bit(command)});
    QVERIFY(process.waitForFinished(-1));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("not valid in the locale's encoding"));
    QVERIFY(!QFile::exists(work.filePath(QStringLiteral("x\uFFFD_new.txt"))));
}

// How a standard stream is given to the run: in place of the file descriptor.
enum class Stream { FullDisk, BrokenPipe, Closed, Zeros };
Q_DECLARE_METATYPE(Stream)

void TestConvertCommand::standardStreams_data()
{
    QTest::addColumn<int>("fd");
    QTest::addColumn<Stream>("stream");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    const QStringList files {QStringLiteral("a.txt"), QStringLiteral("b.txt")};
    const QStringList names = QStringList {QStringLiteral("--names"), QStringLiteral("-")} + files;
    // As the standard tools do, a write to standard output that fails is an error, said once;
    // the run goes on.
    QTest::newRow("standard output on a full disk")
        << 1 << Stream::FullDisk << files << 1
        << QStringLiteral("cannot write to standard output (No space left on device)");
    QTest::newRow("standard output a pipe nobody reads")
        << 1 << Stream::BrokenPipe << files << 1 << QStringLiteral("cannot write to standard output (Broken pipe)");
    // Where standard output is the work, not a report of it, a reader that has gone ends the run
    // without a word, as it ends the standard tools.
    QTest::newRow("listing into a pipe nobody reads")
        << 1 << Stream::BrokenPipe << QStringList {QStringLiteral("--list")} + files << 1 << QString();
    QTest::newRow("--stdout into a pipe nobody reads")
        << 1 << Stream::BrokenPipe << QStringList {QStringLiteral("--stdout"), QStringLiteral("a.txt")} << 1
        << QString();
    QTest::newRow("--stdout on a full disk")
        << 1 << Stream::FullDisk << QStringList {QStringLiteral("--stdout"), QStringLiteral("a.txt")} << 1
        << QStringLiteral("a.txt: cannot write to standard output (No space left on device)");
    QTest::newRow("standard output closed")
        << 1 << Stream::Closed << files << 1 << QStringLiteral("cannot write to standard output (it is closed)");
    QTest::newRow("names from a closed standard input")
        << 0 << Stream::Closed << names << 2
        << QStringLiteral("cannot read the names from standard input (it is closed)");
    QTest::newRow("names from endless standard input")
        << 0 << Stream::Zeros << names << 2
        << QStringLiteral("cannot read the names from standard input (larger than 16 MiB)");
}

void TestConvertCommand::standardStreams()
{
    QFETCH(int, fd);
    QFETCH(Stream, stream);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);
    QTemporaryDir work;
    for (const char *name : {"a.txt", "b.txt"})
        QVERIFY(writeFile(work.filePath(QString::fromLatin1(name)), "CHAPTER01=00:00:01.000\nCHAPTER01NAME=a\n"));
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.setChildProcessModifier([fd, stream] {
        int pipeEnds[2];
        if (stream == Stream::BrokenPipe && ::pipe(pipeEnds) == 0) {
            ::close(pipeEnds[0]);
            ::dup2(pipeEnds[1], fd);
        } else if (stream == Stream::Closed) {
            ::close(fd);
        } else {
            ::dup2(::open(stream == Stream::FullDisk ? "/dev/full" : "/dev/zero", O_RDWR), fd);
        }
    });
    process.start(QStringLiteral(TESSALINE_CONVERT), arguments);
    QVERIFY(process.waitForFinished(60'000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    if (error.isEmpty())
        QCOMPARE(errors, QString());
    else
        QCOMPARE(errors.count(error), 1);
    if (arguments.constFirst() == u"a.txt") // a conversion beside the inputs goes on all the same
        QVERIFY(QFile::exists(work.filePath(QStringLiteral("b_new.txt"))));
}

QTEST_GUILESS_MAIN(TestConvertCommand)
#include "tst_convertcommand.moc"
