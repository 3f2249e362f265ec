#include "conversion.h"

#include "formats/inputformat.h"
#include "formats/outputformat.h"
#include "inputfile.h"
#include "runfailure.h"
#include "systempath.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

// The walk of a recursive run through a folder's tree.
namespace Tessaline {

namespace {

Failure folderFailure(Failure::Kind kind, const QString &path, const std::error_code &error = {})
{
    return Failure {kind, path, 0, QString::fromLocal8Bit(error.message()), -1, error.value()};
}

// Whether a name is that of an output of a run, of any format: "_new" and its extension.
bool isOutputName(QStringView path)
{
    for (const OutputFormat &format : outputFormats()) {
        const QStringView extension = format.extension;
        if (path.endsWith(extension) && path.chopped(extension.size()).endsWith(u"_new"))
            return true;
    }
    return false;
}

// A file found below a folder, as the format a recursive run reads claims it: the path when the
// format's probe claims the file's head, its failure when it cannot be looked at (not a regular
// file, no permission), nothing when the probe does not claim it or it is a link to a folder,
// which the walk does not follow.
std::optional<Expected<QString>> claimedBy(const InputFormat &format, const QString &path)
{
    const Expected<InputFile> input = openInput(path);
    if (!input)
        return input.error().kind == Failure::Kind::IsFolder ? std::nullopt : std::optional(input.error());
    const int score = probeScore(format, *input->file);
    if (input->file->error() != QFileDevice::NoError)
        return failureOf(Failure::Kind::ReadFailed, path, input->file->errorString());
    if (score <= 0)
        return std::nullopt;
    return path;
}

} // namespace

QList<Expected<QString>> chapterFilesBelow(const QString &folder, QStringView inputFormat)
{
    namespace fs = std::filesystem;
    const InputFormat *const forced = inputFormat == u"simple" ? nullptr : inputFormatNamed(inputFormat);
    QList<std::pair<QString, Expected<QString>>> found; // by path
    QStringList toProbe; // with a forced format: the files whose heads are looked at once the walk is done
    std::vector<fs::path> folders {systemPath(folder)};
    while (!folders.empty()) {
        const fs::path current = std::move(folders.back());
        folders.pop_back();
        // Each folder is read whole and closed before the next is opened.
        std::error_code error;
        for (fs::directory_iterator it(current, error); !error && it != fs::directory_iterator(); it.increment(error)) {
            std::error_code typeError;
            const fs::file_status status = it->symlink_status(typeError);
            const QString path = fromSystemPath(it->path());
            if (status.type() == fs::file_type::directory) {
                folders.push_back(it->path());
            } else if (typeError) {
                found.append({path, folderFailure(Failure::Kind::ReadFailed, path, typeError)});
            } else if ((forced || isChapterListPath(path)) && !isOutputName(path)) {
                // Links and other files that are not regular are taken too, so that they fail with
                // their reasons.
                const bool decodes = systemPath(path) == it->path();
                if (!decodes)
                    found.append({path, folderFailure(Failure::Kind::UndecodableName, path)});
                else if (forced)
                    toProbe.append(path);
                else
                    found.append({path, path});
            }
        }
        if (error) {
            const QString path = fromSystemPath(current);
            found.append({path, folderFailure(Failure::Kind::ReadFailed, path, error)});
        }
    }
    for (const QString &path : std::as_const(toProbe)) {
        if (std::optional<Expected<QString>> claimed = claimedBy(*forced, path))
            found.append({path, std::move(*claimed)});
    }
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<Expected<QString>> entries;
    for (auto &[path, entry] : found)
        entries.append(std::move(entry));
    return entries;
}

} // namespace Tessaline
