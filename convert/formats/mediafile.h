#pragma once

#include "inputformat.h"

namespace Tessaline {

// Any other container libavformat recognises from its bytes (MP4/MOV/M4A, Ogg, ...): libavformat's
// score scaled to at most 40, below the signature probes of the other formats; 0 for what it is
// unsure of (under half its scale) and for the text formats read here by readers of their own.
// A head that can only be text (a UTF-16 byte order mark, or no control bytes other than tab,
// line ends and form feed) is 0 at once: every container that holds chapters starts with binary
// bytes, and so chapter text files never load the tessaline-media module. So is a head that starts
// as the text playlists libavformat reads do (#EXTM3U, ffconcat), whatever bytes follow. Any other
// head is asked of the module (loaded then); when it cannot be loaded, 1, so that the file fails
// with why.
int probeMediaFile(QByteArrayView head);

// The container's chapters, from its header only, exactly in their time base, titled by their
// "title" metadata: read by the tessaline-media module, loaded on first use (formatmodule.h).
// libavformat reads request.file alone, through callbacks, and may open nothing else: a file
// whose demuxer is not one of single media files (a playlist, an image sequence) fails, naming it.
Expected<ChapterList> readMediaFile(const ReadRequest &request);

// The presentation times of the keyframes of the file's first video stream (cover pictures are
// no video), in ms, sorted, each taken up to the next whole millisecond (so that a chapter at that
// time never falls before the frame), none below 0: read by the tessaline-media module as
// readMediaFile is, from the container's index, without decoding a frame: the index (MP4's sync
// samples) holds decoding times, which the packet of each keyframe turns into its presentation
// time (its bytes are not read). A Matroska file is read whole for its blocks' keyframe flags,
// through progress: what is left to read once its Cues are found to list none
// (readMatroskaCueKeyframes, matroskafile.h). Any other file without an index fails, as does a
// file without video.
Expected<QList<qint64>> readVideoKeyframes(const KeyframeRequest &request);

// The probe and the readers through libavformat (mediafilelibrary.cpp), which the module exports.
int probeMediaFileWithLibrary(QByteArrayView head);
Expected<ChapterList> readMediaFileWithLibrary(const ReadRequest &request);
Expected<QList<qint64>> readVideoKeyframesWithLibrary(const KeyframeRequest &request);

} // namespace Tessaline
