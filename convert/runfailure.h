#pragma once

// The failures the files of a run build: of an input, with the system's reason, of an output.

#include "failure.h"

namespace Tessaline {

inline Failure failureOf(Failure::Kind kind, const QString &path, const QString &detail = {})
{
    return Failure {kind, path, 0, detail};
}

// A failure with the system's reason, and errno's value for that reason (0: none).
inline Failure systemFailureOf(Failure::Kind kind, const QString &path, const QString &reason, int error)
{
    return Failure {kind, path, 0, reason, -1, error};
}

// A failure of inputPath's output, with the system's reason and errno's value for it where there is one.
inline Failure outputFailureOf(Failure::Kind kind, const QString &inputPath, const QString &outputPath,
                               const QString &reason = {}, int error = 0)
{
    return Failure {kind, inputPath, 0, reason, -1, error, outputPath};
}

} // namespace Tessaline
