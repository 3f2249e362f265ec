#include "conversion.h"

#include "chapterchange.h"
#include "chapterwriter.h"
#include "convertchapters.h"
#include "formats/inputformat.h"
#include "formats/outputformat.h"
#include "formats/simpletext.h"
#include "inputfile.h"
#include "outputfile.h"
#include "runfailure.h"
#include "textlinereader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHash>

#include <functional>
#include <memory>

namespace Tessaline {

namespace {

// Hands a file's chapters on to its writer, and notes those that the run did not snap to a
// keyframe, before the writer's own warnings.
class SnapNotingWriter : public ChapterWriter
{
public:
    SnapNotingWriter(ChapterWriter &writer, qint64 windowMs) : m_writer(writer), m_windowMs(windowMs) { }

    void beginChapter(qsizetype number, const ChapterStart &start) override
    {
        if (start.snap && !start.snap->snapped)
            m_notes.append(notSnappedText(number, *start.snap, m_windowMs));
        m_writer.beginChapter(number, start);
    }
    void appendTitle(QStringView piece) override { m_writer.appendTitle(piece); }
    void endChapter() override { m_writer.endChapter(); }
    bool finish() override { return m_writer.finish(); }
    QStringList warnings() const override { return m_notes + m_writer.warnings(); }

private:
    ChapterWriter &m_writer;
    qint64 m_windowMs;
    QStringList m_notes;
};

// Hands a file's chapters, changed as the run asks, to a writer: the chapter count, or why they
// cannot be written (the failure names the input).
using ChapterFeed = std::function<Expected<qsizetype>(ChapterWriter &writer)>;

// Writes the chapters that feed gives into device: what was written to outputPath, or the
// failure, which names the input, and outputPath too when writing failed.
Expected<EntryResult> writeInto(QIODevice &device, const ChapterFeed &feed, RunContext &run, const QString &inputPath,
                                const QString &outputPath)
{
    const OutputFormat &written = outputFormatOf(run.options.format);
    EncodedOutput output(device, written.form(run.options.OutputEncoding), &run.codePage);
    const std::unique_ptr<ChapterWriter> formatWriter = written.makeWriter({output, run.options, inputPath});
    SnapNotingWriter writer(*formatWriter, run.options.snapWindowMs);
    const Expected<qsizetype> chapters = feed(writer);
    if (!chapters)
        return chapters.error();
    if (!writer.finish())
        return outputFailureOf(Failure::Kind::WriteFailed, inputPath, outputPath, output.error(), output.systemError());
    return EntryResult {outputPath, *chapters, output.replacedCharacters(), writer.warnings()};
}

// Reads the opened input and changes its chapters.
ChapterFeed readFrom(QIODevice &input, const InputFormat *format, RunContext &run, const QString &inputPath)
{
    return [&input, format, &run, &inputPath](ChapterWriter &writer) {
        return convertChapters(input, format, run, inputPath, writer);
    };
}

// Changes the chapters of an edited file, as its read chapters would be: the rule is "the edited
// chapters, then the options".
ChapterFeed editedFrom(const EditedChapters &edited, RunContext &run, const QString &inputPath)
{
    return [&edited, &run, &inputPath](ChapterWriter &writer) -> Expected<qsizetype> {
        const ChapterChange change(run.options, run.titles, edited.simpleText,
                                   run.keyframes ? &*run.keyframes : nullptr);
        const Expected<ChapterList> written = chaptersToWrite(edited.chapters);
        const Expected<qsizetype> chapters
            = written ? writeChapters(*written, change, writer) : Expected<qsizetype>(written.error());
        if (!chapters) {
            Failure failure = chapters.error();
            failure.path = inputPath;
            return failure;
        }
        return chapters;
    };
}

// An edited file is opened, not read: its identity keeps the output from being the file itself.
Expected<ChapterSource> openEdited(const QString &path)
{
    Expected<InputFile> input = openInput(path);
    if (!input)
        return input.error();
    return ChapterSource {std::move(*input), nullptr};
}

} // namespace

Expected<qsizetype> convertChapters(QIODevice &input, const InputFormat *format, RunContext &run,
                                    const QString &inputPath, ChapterWriter &writer)
{
    const ChapterChange change(run.options, run.titles, !format, run.keyframes ? &*run.keyframes : nullptr);
    Expected<qsizetype> chapters = 0;
    if (!format) {
        TextLineReader reader(input, run.codePage);
        chapters = ConvertFile(reader, change, writer);
    } else {
        const Expected<ChapterList> read = format->read({inputPath, input, run.codePage, run.options.read});
        chapters = read ? writeChapters(*read, change, writer) : Expected<qsizetype>(read.error());
    }
    if (!chapters) {
        Failure failure = chapters.error();
        failure.path = inputPath;
        return failure;
    }
    return chapters;
}

QString OutputPathFor(const QString &inputPath, ChapterFormat format, const QString &outputFolder)
{
    // The file name starts after the last separator ('\\' separates on Windows only).
    const qsizetype nameStart = QDir::fromNativeSeparators(inputPath).lastIndexOf(u'/') + 1;
    const qsizetype dot = inputPath.lastIndexOf(u'.');
    QString path = dot >= nameStart ? inputPath.first(dot) : inputPath;
    path += u"_new";
    path += outputFormatOf(format).extension;
    if (outputFolder.isEmpty())
        return path;
    return QDir::toNativeSeparators(QDir(outputFolder).filePath(path.sliced(nameStart)));
}

Expected<RunContext> prepareRun(const ConvertOptions &options, const KeyframeProgress &progress)
{
    Expected<CodePage> codePage = CodePage::open(options.codePage);
    if (!codePage)
        return codePage.error();
    RunContext run {options, std::move(*codePage), titlesFor(options), std::nullopt};
    if (!options.snapKeyframes.isEmpty()) {
        Expected<QList<qint64>> keyframes = readKeyframesOf(options.snapKeyframes, progress);
        if (!keyframes)
            return keyframes.error();
        run.keyframes = std::move(*keyframes);
    }
    return run;
}

Expected<QByteArray> convertBytes(QByteArrayView input, RunContext &run)
{
    QBuffer in;
    in.setData(input.data(), input.size());
    in.open(QIODevice::ReadOnly);
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    const Expected<const InputFormat *> format = inputFormatOf(QStringLiteral(".txt"), in, run.options);
    if (!format)
        return format.error();
    const Expected<EntryResult> converted = writeInto(out, readFrom(in, *format, run, {}), run, {}, {});
    if (!converted)
        return converted.error();
    return bytes;
}

Expected<EntryResult> ConvertEntry(const QString &inputPath, RunContext &run, const EditedChapters *edited)
{
    Expected<ChapterSource> source = edited ? openEdited(inputPath) : openChapterSource(inputPath, run.options);
    if (!source)
        return source.error();
    const InputFile &input = source->input;
    const ChapterFeed feed
        = edited ? editedFrom(*edited, run, inputPath) : readFrom(*input.file, source->format, run, inputPath);
    const QString outputPath = OutputPathFor(inputPath, run.options.format, run.options.outputFolder);

    if (run.options.destination == Destination::StandardOutput) {
        // Standard output has no path to name when writing fails.
        QFile standardOutput;
        openStandardOutput(standardOutput);
        HoldingDevice held(standardOutput);
        const Expected<EntryResult> converted = writeInto(held, feed, run, inputPath, {});
        if (!converted)
            return converted.error();
        if (!held.release()) {
            const QString reason = held.errorString();
            return outputFailureOf(Failure::Kind::WriteFailed, inputPath, {}, reason, systemErrorOfLastCall(reason));
        }
        return converted;
    }

    if (MaybeFailure refused = checkOutputPath(outputPath, inputPath, input))
        return *refused;
    ReplacingFile file(outputPath);
    if (!file.open())
        return outputFailureOf(Failure::Kind::WriteFailed, inputPath, outputPath, file.errorString(),
                               file.systemError());
    if (run.options.destination == Destination::Nowhere) {
        // A dry run goes as far as the real one can without writing: its temporary file is made
        // and then removed unwritten.
        DiscardingDevice nowhere;
        nowhere.open(QIODevice::WriteOnly);
        return writeInto(nowhere, feed, run, inputPath, outputPath); // writing cannot fail
    }
    const Expected<EntryResult> converted = writeInto(file.device(), feed, run, inputPath, outputPath);
    if (!converted)
        return converted.error();
    if (!file.commit())
        return outputFailureOf(Failure::Kind::WriteFailed, inputPath, outputPath, file.errorString(),
                               file.systemError());
    return converted;
}

QList<Expected<QString>> refuseCollidingOutputs(QList<Expected<QString>> entries, const ConvertOptions &options)
{
    if (options.destination == Destination::StandardOutput)
        return entries;
    QStringList paths(entries.size()); // by entry: its input and output, and where they lead
    QStringList outputPaths(entries.size());
    QStringList inputs(entries.size());
    QStringList outputs(entries.size());
    QSet<QString> read; // the places of the inputs
    // An output's place: the first entry that writes it, and the first after it with another input.
    QHash<QString, std::pair<qsizetype, qsizetype>> writers;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries[i])
            continue;
        paths[i] = *entries[i];
        outputPaths[i] = OutputPathFor(paths[i], options.format, options.outputFolder);
        // An input is read through links; an output replaces a link rather than what it leads to
        // (and ConvertEntry refuses it).
        inputs[i] = placeOf(paths[i], true);
        outputs[i] = placeOf(outputPaths[i], false);
        read.insert(inputs[i]);
        const auto writer = writers.find(outputs[i]);
        if (writer == writers.end())
            writers.insert(outputs[i], {i, -1});
        else if (writer->second < 0 && inputs[writer->first] != inputs[i])
            writer->second = i;
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries[i])
            continue;
        // An output that is its own input is left to ConvertEntry, which refuses it with its reason.
        if (outputs[i] != inputs[i] && read.contains(outputs[i])) {
            entries[i] = outputFailureOf(Failure::Kind::OutputIsAnotherInput, paths[i], outputPaths[i]);
            continue;
        }
        const auto [first, other] = writers.value(outputs[i]);
        const qsizetype sharer = inputs[first] != inputs[i] ? first : other;
        if (sharer >= 0)
            entries[i] = outputFailureOf(Failure::Kind::OutputShared, paths[i], outputPaths[i], paths[sharer]);
    }
    return entries;
}

QStringList convertedFiles(const QStringList &files, const ConvertReport &report)
{
    if (report.runFailure)
        return {};
    QStringList converted = files.first(files.size() - report.notConverted);
    for (const Failure &failure : report.failures)
        converted.removeAll(failure.path);
    return converted;
}

ConvertReport ConvertAll(const QStringList &files, const ConvertOptions &options, const RunControl &control)
{
    ConvertReport report;
    Expected<RunContext> run = prepareRun(options);
    if (!run) {
        report.runFailure = run.error();
        return report;
    }
    QList<Expected<QString>> entries;
    for (qsizetype i = 0; i < files.size(); ++i) {
        entries.append(control.undecodableNames.contains(i)
                           ? Expected<QString>(failureOf(Failure::Kind::UndecodableName, files[i]))
                           : Expected<QString>(files[i]));
    }
    entries = refuseCollidingOutputs(std::move(entries), options);
    for (qsizetype done = 0; done < files.size(); ++done) {
        const QString &file = files[done];
        if (control.progress)
            control.progress(done, files.size(), file);
        if (control.stop && control.stop->load()) {
            report.cancelled = true;
            report.notConverted = files.size() - done;
            break;
        }
        const Expected<QString> &entry = entries[done];
        const auto edited = control.edited.constFind(done);
        const Expected<EntryResult> result = entry
            ? ConvertEntry(*entry, *run, edited == control.edited.cend() ? nullptr : &*edited)
            : Expected<EntryResult>(entry.error());
        if (!result) {
            report.failures.append(result.error());
            continue;
        }
        ++report.converted;
        if (result->replacedCharacters > 0)
            report.replacedCharacters.append(file);
        for (const QString &warning : result->warnings)
            report.warnings.append({file, warning});
        if (options.UseNameBox && result->chapters != run->titles.size())
            report.titleMismatches.append({file, result->chapters, run->titles.size()});
    }
    return report;
}

} // namespace Tessaline
