#include "keyframes.h"

#include "chaptertime.h"
#include "conversion.h"
#include "failurereason.h"
#ifdef TESSALINE_LIBRARY_FORMATS
#include "formats/mediafile.h"
#endif

#include <QFile>

#include <algorithm>

namespace Tessaline {

Expected<QList<qint64>> readKeyframesOf(const QString &path, const KeyframeProgress &progress)
{
    const Expected<std::unique_ptr<QFile>> file = openRegularFile(path);
    if (!file)
        return file.error();
#ifdef TESSALINE_LIBRARY_FORMATS
    return readVideoKeyframes({path, **file, progress});
#else
    Q_UNUSED(progress);
    return Failure {Failure::Kind::ModuleUnavailable, path, 0, Reason::tr("this build reads no media files")};
#endif
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
