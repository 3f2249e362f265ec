#pragma once

#include "inputformat.h"

namespace Tessaline {

// Blu-ray playlists (BDMV/PLAYLIST/nnnnn.mpls, versions 0100, 0200 and 0300): 100 for the
// signature, else 0.
int probeMplsPlaylist(QByteArrayView head);

// The playlist's entry marks as chapters on the timeline of the whole playlist, in time order,
// titled "Chapter 01", "Chapter 02", ...; link points are not chapters.
Expected<ChapterList> readMplsPlaylist(const ReadRequest &request);

} // namespace Tessaline
