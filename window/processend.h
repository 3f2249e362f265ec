#pragma once

namespace Tessaline {

// Ends the window program's process with status, once its application object is gone.
//
// On Windows the process ends without the libraries' detach code. After a conversion thread has
// ended, the mingw C++ runtime's detach (libstdc++ deleting a thread key at its end) can wait
// forever for winpthreads' key lock, and the program would stay running with no window (seen under
// Wine 8). Nothing is left to do by then: files are written and closed, and the standard streams
// are flushed here first. Elsewhere this is exit(status).
[[noreturn]] void endProcess(int status);

} // namespace Tessaline
