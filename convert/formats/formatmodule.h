#pragma once

#include "inputformat.h"

#include <QFunctionPointer>

namespace Tessaline {

// The readers that need a large library (libavformat, libebml and libmatroska, libdvdread) are
// shared modules of their own (tessaline-media, tessaline-matroska, tessaline-dvd), each loaded
// the first time a file of its format is probed or read, so that starting a program loads none of
// them. Each exports, unmangled, one function per format of the reader's signature, and
// tessalineModuleVersion, which must be this program's version. A module is looked for in one
// place only: NAME.so (NAME.dll on Windows) in the private library folder, TESSALINE_MODULE_DIR
// relative to the folder of the running executable (/usr/bin -> /usr/lib/tessaline installed;
// build/PRESET/lib/tessaline for the executables one folder below the build tree's root; on
// Windows lib\tessaline inside the program's folder, in the build tree's root too, with the DLLs
// the modules need beside them). No search path and not the current folder: a library planted
// there is never loaded, neither a module nor a DLL a module needs. Safe to call from several
// threads.

// The function a module exports under symbol, or a ModuleUnavailable failure (without a path)
// saying which module and why.
Expected<QFunctionPointer> moduleFunction(const char *module, const char *symbol);

// The file read by the module's reader of that symbol; a module that cannot be loaded fails the
// file with ModuleUnavailable.
Expected<ChapterList> readThroughModule(const char *module, const char *symbol, const ReadRequest &request);

// The keyframes read by the module's reader of that symbol, failing as readThroughModule does.
Expected<QList<qint64>> keyframesThroughModule(const char *module, const char *symbol, const KeyframeRequest &request);

} // namespace Tessaline
