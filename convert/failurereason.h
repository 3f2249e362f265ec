#pragma once

#include <QCoreApplication>

namespace Tessaline {

// The readers' and the conversion's reasons for a failure, in English as written:
// Reason::tr("a [CHAPTER] without START"), with arguments through QString::arg(). A program that
// installs a translator for this context shows them in its own language; the window shows them in
// Chinese, the command line in English.
class Reason
{
    Q_DECLARE_TR_FUNCTIONS(Tessaline::Reason)
};

} // namespace Tessaline
