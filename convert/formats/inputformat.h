#pragma once

#include "chapter.h"
#include "failure.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <algorithm>
#include <functional>

class QIODevice;

namespace Tessaline {

class CodePage;

// What a reader is given: the file, opened (a regular file, read from its start), by its path
// for libraries that open it themselves, the run's ANSI code page for text without a byte order
// mark, and the settings.
struct ReadRequest
{
    const QString &path;
    QIODevice &file;
    CodePage &codePage;
    const ReadSettings &settings;
};

// What the keyframes of a video are read from: the file, opened (a regular file, read from its
// start), by its path for failures; and, for a file read whole, what has been read of it, in bytes
// (called as it goes; may be empty).
struct KeyframeRequest
{
    const QString &path;
    QIODevice &file;
    const std::function<void(qint64 done, qint64 total)> &progress;
};

// Keyframe times as the readers give them: sorted, each once, none below 0.
inline QList<qint64> keyframeTimeline(QList<qint64> times)
{
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    times.erase(times.begin(), std::lower_bound(times.begin(), times.end(), 0));
    return times;
}

// One input format: a name (as --from gives it), a probe and a reader. The probe looks at the
// start of a file (kProbeBytes, or all of a shorter file) and says how sure it is that the file
// is of its format: 0 not at all, up to 100 for a signature that cannot be mistaken, or
// kProbeUndecided when the head ends before the format can tell (it is then asked again with up
// to kLongestProbeBytes). The reader yields the chapters in file order, or why the file cannot be
// read as this format (with the line or byte offset where it went wrong); a file without chapters
// is a failure for formats that are made to hold chapters.
struct InputFormat
{
    QStringView name;
    int (*probe)(QByteArrayView head);
    Expected<ChapterList> (*read)(const ReadRequest &request);
};

constexpr qsizetype kProbeBytes = 64 * 1024;
constexpr qsizetype kLongestProbeBytes = 1024 * 1024; // for a probe that kProbeBytes leaves undecided
constexpr int kProbeUndecided = -1;

// Every format read besides the simple text, which is what no probe claims.
const QList<InputFormat> &inputFormats();

// The format whose probe is surest of head, or nothing (the simple text).
const InputFormat *probedFormat(QByteArrayView head);

// The format whose probe is surest of the file's head, or nothing: kProbeBytes of it, more for a
// probe that they leave undecided. The head is peeked: the file's position stays where it is.
const InputFormat *probedFormat(QIODevice &file);

// How sure format's probe is of the file's head, as probedFormat(QIODevice &) asks it (0 when
// undecided however long the head).
int probeScore(const InputFormat &format, QIODevice &file);

// The format of that name, or nothing.
const InputFormat *inputFormatNamed(QStringView name);

} // namespace Tessaline
