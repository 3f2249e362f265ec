#include "conversion.h"

#include "chapterlist.h"
#include "codepage.h"

#include <QDir>
#include <QSaveFile>
#include <QStringEncoder>

namespace Tessaline {

namespace {

constexpr qsizetype kSliceChars = 1 << 16; // text encoded and written at a time
constexpr qsizetype kListedFailures = 10;  // failed files named in the completion message

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

std::optional<QString> OutputPathFor(const QString &inputPath)
{
    if (!inputPath.endsWith(u".txt"))
        return std::nullopt;
    return inputPath.chopped(4) + u"_new.txt";
}

bool writeChapterText(QIODevice &device, QStringView text, OutputEncoding encoding, int codePage)
{
    const bool unicode = encoding == OutputEncoding::Unicode;
    if (unicode && device.write("\xFF\xFE", 2) != 2)
        return false;
    QStringEncoder utf16(QStringEncoder::Utf16LE);
    // Written in slices, so that no second copy of a large text is ever held.
    for (qsizetype position = 0; position < text.size();) {
        qsizetype length = std::min(kSliceChars, text.size() - position);
        if (position + length < text.size() && text[position + length - 1].isHighSurrogate())
            --length; // keep a surrogate pair together
        const QStringView slice = text.sliced(position, length);
        const QByteArray bytes = unicode ? QByteArray(utf16.encode(slice)) : encodeAnsi(slice, codePage);
        // Every character gives at least one byte; none means the code page cannot be used here.
        if (bytes.isEmpty() || device.write(bytes) != bytes.size())
            return false;
        position += length;
    }
    return true;
}

QString WriteChapterFile(const QString &outputPath, QStringView text, OutputEncoding encoding,
                         int codePage)
{
    // QSaveFile writes beside the target and renames over it only once everything is written,
    // so a failure leaves an earlier file as it was.
    QSaveFile file(outputPath);
    const auto failure = [&] {
        return QStringLiteral("cannot write %1 (%2)").arg(nativePath(outputPath), file.errorString());
    };
    if (!file.open(QIODevice::WriteOnly))
        return failure();
    if (!writeChapterText(file, text, encoding, codePage)) {
        const QString reason = failure();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return failure();
    return {};
}

EntryResult ConvertEntry(const QString &inputPath, const ConvertOptions &options)
{
    const std::optional<QString> outputPath = OutputPathFor(inputPath);
    if (!outputPath)
        return {{}, QStringLiteral("the name does not end in .txt")};
    if (!isCodePageSupported(options.codePage))
        return {{}, QStringLiteral("code page %1 is not supported").arg(options.codePage)};
    const ConvertedText converted = ConvertFile(inputPath, options);
    if (!converted.error.isEmpty())
        return {{}, converted.error};
    const QString error = WriteChapterFile(*outputPath, converted.text, options.OutputEncoding,
                                           options.codePage);
    if (!error.isEmpty())
        return {{}, error};
    return {*outputPath, {}};
}

ConvertReport ConvertAll(const QStringList &files, const ConvertOptions &options, const RunControl &control)
{
    ConvertReport report;
    for (qsizetype done = 0; done < files.size(); ++done) {
        const QString &file = files[done];
        if (control.progress)
            control.progress(done, files.size(), file);
        if (control.stop && control.stop->load()) {
            report.cancelled = true;
            report.notConverted = files.size() - done;
            break;
        }
        const EntryResult result = ConvertEntry(file, options);
        if (result.ok())
            ++report.converted;
        else
            report.failures.append({file, result.error});
    }
    return report;
}

CompletionMessage completionMessage(const ConvertReport &report)
{
    QString text = u"已成功转换" + QString::number(report.converted) + u"个文件";
    if (report.cancelled)
        text += u"\n已取消：其余" + QString::number(report.notConverted) + u"个文件未转换";
    if (report.failures.isEmpty() && !report.cancelled)
        return {QStringLiteral("成功"), text, false};

    const qsizetype listed = std::min(kListedFailures, report.failures.size());
    for (const FileFailure &failure : report.failures.first(listed))
        text += u'\n' + nativePath(failure.path) + u": " + failure.reason;
    if (const qsizetype unlisted = report.failures.size() - listed; unlisted > 0)
        text += u"\n……另有" + QString::number(unlisted) + u"个文件未能转换";
    return {report.cancelled ? QStringLiteral("已取消") : QStringLiteral("未能全部转换"), text, true};
}

} // namespace Tessaline
