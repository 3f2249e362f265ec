// Peak memory and time of converting one large chapter file, each size in a process of its own.
//
//     peakmemory [MB ...]          (default: 25 50 100; MB are 10^6 bytes)
//     peakmemory --convert FILE    (the child: converts FILE, prints its peak resident sizes)
//
// The peak is the child's high-water mark of resident memory (VmHWM of /proc/self/status, which
// starts afresh with the program, where getrusage()'s ru_maxrss keeps what the forking parent
// held): before is after start-up, after is once the file has been read, converted and written
// (Unicode form, times rescaled).
#include "chapterfiles.h"
#include "conversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong(); // "VmHWM:   1234 kB"
    }
    return -1;
}

int convertOne(const QString &path)
{
    const long before = peakKiB();
    QElapsedTimer timer;
    timer.start();
    Tessaline::Expected<Tessaline::RunContext> run = Tessaline::prepareRun(Tessaline::ConvertOptions());
    const bool converted = run && Tessaline::ConvertEntry(path, *run);
    const qint64 ms = timer.elapsed();
    if (!converted) {
        std::fprintf(stderr, "conversion failed\n");
        return 1;
    }
    std::printf("%ld %ld %lld\n", before, peakKiB(), static_cast<long long>(ms));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--convert") == 0)
        return convertOne(QFile::decodeName(argv[2]));

    QCoreApplication app(argc, argv);
    QList<int> sizes;
    for (const QString &argument : app.arguments().sliced(1)) {
        bool ok = false;
        const int mb = argument.toInt(&ok);
        if (!ok || mb <= 0) {
            std::fprintf(stderr, "usage: peakmemory [MB ...]\n");
            return 2;
        }
        sizes.append(mb);
    }
    if (sizes.isEmpty())
        sizes = {25, 50, 100};

    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    // size: the file's size; start: resident after start-up; growth: peak minus start.
    std::printf("%6s %9s %10s %10s %10s %10s %8s %7s\n", "MB", "chapters", "start MiB", "peak MiB",
                "peak/size", "growth/size", "ms", "ms/MB");
    for (const int mb : std::as_const(sizes)) {
        const QString path = folder.filePath(QStringLiteral("large.txt"));
        qsizetype chapters = 0;
        {
            const QByteArray bytes = Tessaline::Bench::chapterFileOfSize(qsizetype(mb) * 1'000'000);
            chapters = bytes.count("NAME=");
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                return 1;
        }
        QProcess child;
        child.start(app.applicationFilePath(), {QStringLiteral("--convert"), path});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::fprintf(stderr, "conversion of %d MB failed: %s\n", mb,
                         child.readAllStandardError().constData());
            return 1;
        }
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        if (fields.size() != 3)
            return 1;
        const double before = fields[0].toDouble() / 1024;
        const double after = fields[1].toDouble() / 1024;
        const double ms = fields[2].toDouble();
        const double sizeMiB = mb * 1e6 / (1024.0 * 1024.0);
        std::printf("%6d %9lld %10.1f %10.1f %9.2fx %10.2fx %8.0f %7.2f\n", mb,
                    static_cast<long long>(chapters), before, after, after / sizeMiB,
                    (after - before) / sizeMiB, ms, ms / mb);
        QFile::remove(path);
        QFile::remove(*Tessaline::OutputPathFor(path));
    }
    return 0;
}
