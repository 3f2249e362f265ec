#pragma once

#include "inputformat.h"

namespace Tessaline {

// DVD-Video title set information (VIDEO_TS/VTS_nn_0.IFO or its .BUP copy), and the disc's menu
// IFO (VIDEO_TS.IFO), claimed only to say why it holds no chapters: 100 for either signature.
int probeDvdTitleSet(QByteArrayView head);

// The chapters (program starts) of one title of the title set, ReadSettings::title (from 1) or
// the longest, titled "Chapter 01", "Chapter 02", ...: read by the tessaline-dvd module, loaded on
// first use (formatmodule.h).
Expected<ChapterList> readDvdTitleSet(const ReadRequest &request);

// The same, through libdvdread (dvdtitlelibrary.cpp): what the module exports, and what the fuzz
// target calls.
Expected<ChapterList> readDvdTitleSetWithLibrary(const ReadRequest &request);

} // namespace Tessaline
