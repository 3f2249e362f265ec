#include "keyframes.h"

#include "chaptertime.h"
#include "conversion.h"
#include "failurereason.h"
#ifdef TESSALINE_LIBRARY_FORMATS
#include "formats/matroskafile.h"
#include "formats/mediafile.h"
#endif

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <algorithm>

namespace Tessaline {

namespace {

// The keyframes last read, of the file as it was then (its size and time of last change).
struct RememberedKeyframes
{
    QString path;
    qint64 size = -1;
    QDateTime modified;
    QList<qint64> keyframes;
};

Expected<QList<qint64>> readKeyframesFromFile(const QString &path, const KeyframeProgress &progress)
{
    const Expected<std::unique_ptr<QFile>> file = openRegularFile(path);
    if (!file)
        return file.error();
#ifdef TESSALINE_LIBRARY_FORMATS
    const KeyframeRequest request {path, **file, progress};
    // A Matroska file's Cues through the Matroska module; only a file without them loads libavformat.
    if (probeMatroskaFile((*file)->peek(kProbeBytes)) > 0) {
        Expected<QList<qint64>> cues = readMatroskaCueKeyframes(request);
        if (!cues || !cues->isEmpty())
            return cues;
    }
    return readVideoKeyframes(request);
#else
    Q_UNUSED(progress);
    return Failure {Failure::Kind::ModuleUnavailable, path, 0, Reason::tr("this build reads no media files")};
#endif
}

} // namespace

Expected<QList<qint64>> readKeyframesOf(const QString &path, const KeyframeProgress &progress)
{
    static QMutex mutex;
    static RememberedKeyframes remembered;
    const QFileInfo info(path);
    {
        const QMutexLocker lock(&mutex);
        if (remembered.path == path && remembered.size == info.size() && remembered.modified == info.lastModified())
            return remembered.keyframes;
    }
    Expected<QList<qint64>> read = readKeyframesFromFile(path, progress);
    if (read) {
        const QMutexLocker lock(&mutex);
        remembered = {path, info.size(), info.lastModified(), *read};
    }
    return read;
}

SnappedTime snappedToKeyframe(qint64 ms, const QList<qint64> &keyframes, qint64 windowMs)
{
    const auto after = std::upper_bound(keyframes.begin(), keyframes.end(), ms);
    const std::optional<qint64> before = after == keyframes.begin() ? std::nullopt : std::optional(*(after - 1));
    if (before && ms - *before <= windowMs)
        return {ms, *before, true, {}, {}};
    return {ms, ms, false, before, after == keyframes.end() ? std::nullopt : std::optional(*after)};
}

QString notSnappedText(qsizetype chapter, const SnappedTime &time, qint64 windowMs)
{
    const auto keyframe
        = [](const std::optional<qint64> &ms) { return ms ? chapterTimeText(*ms) : Reason::tr("none"); };
    return Reason::tr("chapter %1 at %2 is not snapped: no keyframe in the %3 ms before it (the nearest: %4 "
                      "before, %5 after)")
        .arg(QString::number(chapter), chapterTimeText(time.fromMs), QString::number(windowMs),
             keyframe(time.keyframeBefore), keyframe(time.keyframeAfter));
}

} // namespace Tessaline
