// tessaline-convert as users run it, a process for each conversion: its wall time on a 100 MB
// chapter file against iconv over the same file, its peak memory on large and awkward files, and,
// once the program has --format, the other formats and frame rates against its default.
//
//     commandbench [RUNS]     (RUNS: timed runs of each command, default 5)
//
// Each command is forked and executed, and wait4() gives its CPU time and its peak resident memory
// (ru_maxrss): the new program's, which starts from this process's anonymous memory at the fork
// (about 1 MiB: nothing large is held here). Wall time runs from the fork to the reaping. Files
// go to a temporary folder ($TMPDIR, else /tmp); before every command the disk is synced
// (untimed), and after it its outputs are deleted.
#include "chapterfiles.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr qsizetype kMB = 1'000'000;
constexpr double kMiB = 1024.0 * 1024.0;

// One finished command.
struct Measure
{
    double seconds = 0; // wall time
    double cpuSeconds = 0; // user and system time, which the disk's pace does not change
    double peakMiB = 0; // resident
    bool ok = false; // exited with status 0
};

double monotonicSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

class CommandBench
{
public:
    CommandBench(const QString &folder, int runs) : m_folder(folder), m_runs(runs) { }

    QString path(const QString &name) const { return m_folder.filePath(name); }

    // Runs command (program, arguments) with its standard output into the file `output`.
    static Measure run(const QByteArrayList &command, const QString &output)
    {
        std::vector<char *> argv;
        for (const QByteArray &argument : command)
            argv.push_back(const_cast<char *>(argument.constData()));
        argv.push_back(nullptr);
        const int out = ::open(QFile::encodeName(output).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (out < 0)
            return {};
        const double start = monotonicSeconds();
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out, STDOUT_FILENO); // the copy stays open across exec
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out);
        int status = 0;
        rusage usage {};
        if (child < 0 || ::wait4(child, &status, 0, &usage) != child)
            return {};
        const double seconds = monotonicSeconds() - start;
        const auto toSeconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
        return {seconds, toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime), double(usage.ru_maxrss) * 1024 / kMiB,
                WIFEXITED(status) && WEXITSTATUS(status) == 0};
    }

    // Runs command once over input, then deletes what it wrote.
    Measure runOnce(const QByteArrayList &command, const QString &input)
    {
        ::sync(); // no run pays for writing what came before it
        const Measure measure = run(command, path(QStringLiteral("stdout")));
        if (!measure.ok) {
            std::fprintf(stderr, "failed: %s\n", command.join(' ').constData());
            m_failed = true;
        }
        keepOnly(input);
        return measure;
    }

    // Runs each command `runs` times over input, the commands in turn (in reverse order every
    // other round, so that none always follows another); per command the median wall and CPU
    // times and the largest peak.
    QList<Measure> interleaved(const QList<QByteArrayList> &commands, const QString &input)
    {
        QList<std::vector<double>> seconds(commands.size());
        QList<std::vector<double>> cpuSeconds(commands.size());
        QList<Measure> result(commands.size(), Measure {0, 0, 0, true});
        for (int round = 0; round < m_runs; ++round) {
            for (qsizetype k = 0; k < commands.size(); ++k) {
                const qsizetype i = round % 2 == 0 ? k : commands.size() - 1 - k;
                const Measure measure = runOnce(commands[i], input);
                seconds[i].push_back(measure.seconds);
                cpuSeconds[i].push_back(measure.cpuSeconds);
                result[i].peakMiB = std::max(result[i].peakMiB, measure.peakMiB);
                result[i].ok = result[i].ok && measure.ok;
            }
        }
        for (qsizetype i = 0; i < commands.size(); ++i) {
            result[i].seconds = median(seconds[i]);
            result[i].cpuSeconds = median(cpuSeconds[i]);
        }
        return result;
    }

    static double median(std::vector<double> &values)
    {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    }

    // Deletes every file of the folder but `keep`.
    void keepOnly(const QString &keep)
    {
        for (const QString &name : m_folder.entryList(QDir::Files | QDir::Hidden)) {
            if (path(name) != keep)
                m_folder.remove(name);
        }
    }

    int runs() const { return m_runs; }
    bool failed() const { return m_failed; }

private:
    QDir m_folder;
    int m_runs;
    bool m_failed = false;
};

QByteArray converter()
{
    return QByteArrayLiteral(TESSALINE_CONVERT);
}

// note: printed after the figures, such as a ratio.
void printRow(const char *label, const Measure &measure, const QByteArray &note = {})
{
    std::printf("  %-38s %6.2f s %6.2f s CPU %6.1f MiB  %s%s\n", label, measure.seconds, measure.cpuSeconds,
                measure.peakMiB, note.constData(), measure.ok ? "" : "FAILED");
}

// The 100 MB file against iconv, then the formats and frame rates against the default.
void compareTimes(CommandBench &bench, const QString &film, qsizetype chapters)
{
    const QByteArray input = QFile::encodeName(film);
    std::printf("100 MB chapter file (%lld chapters), runs of each: %d, interleaved; median wall "
                "and CPU time, largest peak:\n",
                static_cast<long long>(chapters), bench.runs());
    const QList<Measure> pair
        = bench.interleaved({{converter(), input}, {"iconv", "-f", "UTF-8", "-t", "UTF-16LE", input}}, film);
    printRow("tessaline-convert film.txt", pair[0]);
    printRow("iconv -f UTF-8 -t UTF-16LE film.txt", pair[1]);
    std::printf("  ratio %.2fx (target: at most 2x)\n\n", pair[0].seconds / pair[1].seconds);

    // --format and --rate come together; a program whose help lists no --format has neither.
    const Measure help = CommandBench::run({converter(), "--help"}, bench.path(QStringLiteral("help")));
    QFile helpText(bench.path(QStringLiteral("help")));
    const bool hasFormats = help.ok && helpText.open(QIODevice::ReadOnly) && helpText.readAll().contains("--format");
    bench.keepOnly(film);
    if (!hasFormats) {
        std::printf("Formats and frame rates: skipped, the program's --help lists no --format.\n\n");
        return;
    }
    const QList<QByteArrayList> commands {{converter(), input},
                                          {converter(), "--format", "matroska", input},
                                          {converter(), "--format", "ffmetadata", input},
                                          {converter(), "--rate", "25:23.976", input}};
    std::printf("Formats and frame rates over the same file, runs of each: %d, interleaved; median "
                "wall time, its ratio to the default's (target: at most 1.2x):\n",
                bench.runs());
    const QList<Measure> times = bench.interleaved(commands, film);
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const QByteArray label = i == 0 ? QByteArray("default") : commands[i].sliced(1, 2).join(' ');
        printRow(label.constData(), times[i],
                 i == 0 ? QByteArray() : QByteArray::number(times[i].seconds / times[0].seconds, 'f', 2) + "x  ");
    }
    std::printf("\n");
}

// Converts the file at path once, with options before its name, and deletes it.
void peakRow(CommandBench &bench, const char *label, const QString &path, bool written, QByteArrayList options = {})
{
    if (written) {
        options.prepend(converter());
        options.append(QFile::encodeName(path));
        printRow(label, bench.runOnce(options, path));
    } else {
        std::printf("  %s: cannot write %s\n", label, qPrintable(path));
    }
    QFile::remove(path);
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (argc > 2 || runs < 1) {
        std::fprintf(stderr, "usage: commandbench [RUNS]\n");
        return 2;
    }
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    CommandBench bench(folder.path(), runs);
    std::printf("%s; files in %s\n\n", converter().constData(), qPrintable(folder.path()));

    const QString film = bench.path(QStringLiteral("film.txt"));
    const qsizetype chapters = Tessaline::Bench::writeChapterFileOfSize(film, 100 * kMB);
    if (chapters < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(film));
        return 1;
    }
    compareTimes(bench, film, chapters);
    QFile::remove(film);

    std::printf("Peak memory, one run each (target: at most 64 MiB):\n");
    printRow("start-up only (--version)", bench.runOnce({converter(), "--version"}, {}));

    // Input (ASCII) and its UTF-16 output are on disk at once: three times the size.
    const QString large = bench.path(QStringLiteral("large.txt"));
    const qint64 free = QStorageInfo(folder.path()).bytesAvailable();
    if (free < 3200 * kMB)
        std::printf("  1 GB chapter file: skipped, %.1f GB free in %s, 3.2 GB needed\n", free / 1e9,
                    qPrintable(folder.path()));
    else
        peakRow(bench, "1 GB chapter file", large, Tessaline::Bench::writeChapterFileOfSize(large, 1000 * kMB) > 0);

    const QString line = bench.path(QStringLiteral("line.txt"));
    peakRow(bench, "a 100 MB title line", line,
            Tessaline::Bench::writeRepeated(line, "CHAPTER01=00:00:01.000\r\nCHAPTER01NAME=", 'x', 100 * kMB));

    const QString feeds = bench.path(QStringLiteral("feeds.txt"));
    peakRow(bench, "10 MB of line feeds, --no-shift", feeds, Tessaline::Bench::writeRepeated(feeds, {}, '\n', 10 * kMB),
            {"--no-shift"});
    return bench.failed() ? 1 : 0;
}
