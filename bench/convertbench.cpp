// ConvertAll against the least work a copy and a safe (atomic, durable) copy do over the same
// files. (Large files are measured as processes of their own by commandbench.)
//
//     convertbench [--benchmark_filter=...] [--benchmark_repetitions=N] ...
//
// Prints Google Benchmark's table, then the ratios to the baselines (medians when repeated).
#include "chapterfiles.h"
#include "conversion.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFileCount = 2000;
constexpr int kChaptersPerFile = 20;

struct Fixture
{
    QTemporaryDir folder;
    QStringList inputs;
    QStringList outputs;
    QByteArrayList inputNames; // local 8-bit, for the POSIX baselines
    QByteArrayList outputNames;
};

Fixture &fixture()
{
    static Fixture f;
    return f;
}

bool readWhole(const char *path, QByteArray &bytes)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    bytes.resize(info.st_size);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    return done == bytes.size();
}

bool writeWhole(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Baseline 1: read the input, write it to the output name in place.
bool plainCopy(const char *input, const char *output, QByteArray &buffer)
{
    if (!readWhole(input, buffer))
        return false;
    const int fd = ::open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool ok = writeWhole(fd, buffer);
    return ::close(fd) == 0 && ok;
}

// Baseline 2: read the input, write a temporary file beside the output, flush it to disk and
// rename it over the output: the least work an atomic, durable replace can do.
bool safeCopy(const char *input, const char *output, QByteArray &buffer)
{
    if (!readWhole(input, buffer))
        return false;
    QByteArray temporary = QByteArray(output) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = writeWhole(fd, buffer) && ::fdatasync(fd) == 0;
    if (::close(fd) != 0 || !ok) {
        ::unlink(temporary.constData());
        return false;
    }
    return ::rename(temporary.constData(), output) == 0;
}

void BM_PlainCopy(benchmark::State &state)
{
    Fixture &f = fixture();
    QByteArray buffer;
    for (auto _ : state) {
        for (qsizetype i = 0; i < f.inputNames.size(); ++i) {
            if (!plainCopy(f.inputNames[i].constData(), f.outputNames[i].constData(), buffer))
                state.SkipWithError("plain copy failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * f.inputs.size());
}

void BM_SafeCopy(benchmark::State &state)
{
    Fixture &f = fixture();
    QByteArray buffer;
    for (auto _ : state) {
        for (qsizetype i = 0; i < f.inputNames.size(); ++i) {
            if (!safeCopy(f.inputNames[i].constData(), f.outputNames[i].constData(), buffer))
                state.SkipWithError("safe copy failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * f.inputs.size());
}

// state.range(0): 0 writes the Unicode form, 1 the ANSI form, 2 Matroska XML, 3 ffmetadata.
void BM_ConvertAll(benchmark::State &state)
{
    Fixture &f = fixture();
    Tessaline::ConvertOptions options; // times rescaled, titles kept
    options.OutputEncoding = state.range(0) == 1 ? Tessaline::OutputEncoding::Ansi : Tessaline::OutputEncoding::Unicode;
    options.format = state.range(0) == 2 ? Tessaline::ChapterFormat::Matroska
        : state.range(0) == 3            ? Tessaline::ChapterFormat::Ffmetadata
                                         : Tessaline::ChapterFormat::Simple;
    for (auto _ : state) {
        const Tessaline::ConvertReport report = Tessaline::ConvertAll(f.inputs, options);
        if (report.converted != f.inputs.size())
            state.SkipWithError("conversion failed");
    }
    state.SetItemsProcessed(state.iterations() * f.inputs.size());
}

// Disk flushes make single runs noisy: nine runs each, best interleaved
// (--benchmark_enable_random_interleaving=true, as scripts/bench does), and medians compared.
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(9)->UseRealTime();
BENCHMARK(BM_SafeCopy)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(9)->UseRealTime();
BENCHMARK(BM_ConvertAll)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(9)->UseRealTime();

// Keeps the median real time of each benchmark (or its single run) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) { }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            // In the benchmark's unit, ms here.
            if (run.run_type == Run::RT_Aggregate || !m_medians.count(name)) {
                m_medians[name] = run.GetAdjustedRealTime();
                m_cpuMedians[name] = run.GetAdjustedCPUTime();
            }
        }
    }

    void printRatios() const
    {
        const auto find = [this](const std::string &name) {
            const auto it = m_medians.find(name);
            return it == m_medians.end() ? 0.0 : it->second;
        };
        const auto cpu = [this](const std::string &name) {
            const auto it = m_cpuMedians.find(name);
            return it == m_cpuMedians.end() ? 0.0 : it->second;
        };
        const double plain = find("BM_PlainCopy");
        const double safe = find("BM_SafeCopy");
        std::printf("\n%d files of %d chapters:\n", kFileCount, kChaptersPerFile);
        for (const char *form : {"0", "1"}) {
            const double convert = find(std::string("BM_ConvertAll/") + form);
            if (convert <= 0 || safe <= 0 || plain <= 0)
                continue;
            std::printf("  ConvertAll (%s form) %8.1f ms = %.2fx safe copy (%.1f ms), %.2fx plain copy (%.1f ms)\n",
                        form[0] == '0' ? "Unicode" : "ANSI", convert, convert / safe, safe, convert / plain, plain);
            std::printf("    CPU time %8.1f ms = %.2fx safe copy (%.1f ms), %.2fx plain copy (%.1f ms)\n",
                        cpu(std::string("BM_ConvertAll/") + form),
                        cpu(std::string("BM_ConvertAll/") + form) / cpu("BM_SafeCopy"), cpu("BM_SafeCopy"),
                        cpu(std::string("BM_ConvertAll/") + form) / cpu("BM_PlainCopy"), cpu("BM_PlainCopy"));
        }
        for (const auto &[form, name] : {std::pair {"2", "Matroska XML"}, {"3", "ffmetadata"}}) {
            const double convert = find(std::string("BM_ConvertAll/") + form);
            if (convert > 0 && find("BM_ConvertAll/0") > 0)
                std::printf("  ConvertAll (%s) %8.1f ms = %.2fx the Unicode form\n", name, convert,
                            convert / find("BM_ConvertAll/0"));
        }
    }

private:
    std::map<std::string, double> m_medians;
    std::map<std::string, double> m_cpuMedians; // CPU time of the process, system time included
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Fixture &f = fixture();
    if (!f.folder.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    f.inputs = Tessaline::Bench::writeChapterFiles(f.folder.path(), kFileCount, kChaptersPerFile);
    if (f.inputs.size() != kFileCount) {
        std::fprintf(stderr, "cannot write the chapter files\n");
        return 1;
    }
    for (const QString &input : std::as_const(f.inputs)) {
        f.outputs.append(Tessaline::OutputPathFor(input));
        f.inputNames.append(QFile::encodeName(input));
        f.outputNames.append(QFile::encodeName(f.outputs.last()));
    }
    std::printf("Files in %s\n", qPrintable(QDir::toNativeSeparators(f.folder.path())));

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
