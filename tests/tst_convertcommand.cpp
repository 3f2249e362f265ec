// Runs the built tessaline-convert as a script would. Each folder under data/cases is one case:
//     args        one argument a line; "ENV:NAME=value" sets a variable (LC_ALL is C.UTF-8
//                 unless set), "DIR:name" makes a folder before the run
//     stdin       optional, fed to standard input
//     expected/   status (the exit status), stdout and stderr (empty when missing), and every
//                 file the run must leave with its exact bytes; no other file may appear
// Every other file of the folder, and of its subfolders, is copied into an empty working folder
// first.
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

class TestConvertCommand : public QObject
{
    Q_OBJECT

private slots:
    void cases_data();
    void cases();
    void undecodableNameIsRefused();
    void failedStandardOutputFails();
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

} // namespace

void TestConvertCommand::cases()
{
    QFETCH(QString, folder);
    QTemporaryDir work;
    const QDir source(folder);
    const QStringList inputs = filesBelow(folder);
    for (const QString &name : inputs) {
        QVERIFY(QDir(work.path()).mkpath(QFileInfo(name).path()));
        QVERIFY(QFile::copy(source.filePath(name), work.filePath(name)));
    }
    QStringList arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    const QString argsText = QString::fromUtf8(readFile(source.filePath(QStringLiteral("args"))));
    for (const QString &line : argsText.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u"ENV:"))
            environment.insert(line.sliced(4).section(u'=', 0, 0), line.section(u'=', 1));
        else if (line.startsWith(u"DIR:"))
            QVERIFY(QDir(work.path()).mkdir(line.sliced(4)));
        else
            arguments << line;
    }

    QProcess process;
    process.setProgram(QStringLiteral(TESSALINE_CONVERT));
    process.setArguments(arguments);
    process.setWorkingDirectory(work.path());
    process.setProcessEnvironment(environment);
    process.start();
    if (QFile::exists(source.filePath(QStringLiteral("stdin"))))
        process.write(readFile(source.filePath(QStringLiteral("stdin"))));
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(-1));
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

// As the standard tools do, a write to standard output that fails is an error.
void TestConvertCommand::failedStandardOutputFails()
{
    QTemporaryDir work;
    QVERIFY(writeFile(work.filePath(QStringLiteral("a.txt")), QByteArray()));
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(QStringLiteral(TESSALINE_CONVERT), {QStringLiteral("a.txt")});
    QVERIFY(process.waitForFinished(-1));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("cannot write to standard output (No space left on device)"));
}

QTEST_GUILESS_MAIN(TestConvertCommand)
#include "tst_convertcommand.moc"
