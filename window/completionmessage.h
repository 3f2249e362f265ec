#pragma once

#include "conversion.h"

#include <QString>

namespace Tessaline {

// The message a run ends with: text and title for a message box, and whether it warns.
struct CompletionMessage
{
    QString title;
    QString text;
    bool isWarning = false;
};

// "已成功转换N个文件" under the title "成功"; when files failed, a warning that also lists them,
// each with its reason in Chinese; when the run was cancelled, a warning that says how many files
// were left unconverted. A file whose chapter count differs from the number of titles adds a line
// saying so, without making the message a warning; files whose ANSI output has '?' for characters
// the code page cannot represent are listed under a warning, as are the writers' warnings
// ("PATH：WARNING").
CompletionMessage completionMessage(const ConvertReport &report);

// Why a file was not converted, in the window's words.
QString failureText(const Failure &failure);

// The file a failure concerns and why, as the completion message lists it ("PATH：reason"); the
// reason alone when no file is concerned.
QString failureLine(const Failure &failure);

} // namespace Tessaline
