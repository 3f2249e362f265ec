#pragma once

#include "failure.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Chapters snapped to the keyframes of a video, so that a player seeks to them exactly.
namespace Tessaline {

// Told, as a video is read whole for its keyframes, how many of its bytes have been read.
using KeyframeProgress = std::function<void(qint64 done, qint64 total)>;

// The keyframe times of the video at path (ms, sorted: formats/mediafile.h's readVideoKeyframes),
// opened as the conversion opens its inputs (a regular file only, so that nothing blocks). The
// last video read is remembered, and read again only once its size or time of last change
// differs: the window's preview asks at every change of a field, and "Save" after it.
Expected<QList<qint64>> readKeyframesOf(const QString &path, const KeyframeProgress &progress = {});

constexpr qint64 kDefaultSnapWindowMs = 1000;

// Where a chapter went: onto a keyframe, or nowhere, with the keyframes either side of it.
struct SnappedTime
{
    qint64 fromMs; // the chapter's time, retimed and offset
    qint64 toMs; // the keyframe's, or fromMs when not snapped
    bool snapped;
    std::optional<qint64> keyframeBefore; // not snapped: the latest keyframe at or before fromMs
    std::optional<qint64> keyframeAfter; // not snapped: the first keyframe after fromMs

    friend bool operator==(const SnappedTime &, const SnappedTime &) = default;
};

// A chapter at ms moved back onto the latest keyframe at or before it, when that keyframe is at
// most windowMs before it; else left where it is. keyframes: sorted, in ms.
SnappedTime snappedToKeyframe(qint64 ms, const QList<qint64> &keyframes, qint64 windowMs);

// Why a chapter was not snapped: its number (from 1), its time, the window and the keyframes
// either side, as the command line and the window say it.
QString notSnappedText(qsizetype chapter, const SnappedTime &time, qint64 windowMs);

} // namespace Tessaline
