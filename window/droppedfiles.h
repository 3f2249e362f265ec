#pragma once

#include <QString>
#include <QStringList>

class QFontMetrics;
class QMimeData;

// Files dropped on the main window or named on its command line, and how wide the file list's
// entries are.
namespace Tessaline {

// Whether a drag carries at least one local file or folder.
bool hasLocalPaths(const QMimeData &mimeData);

// A local file or folder of a drop, as a native path in Unicode. A name that is not valid UTF-8
// (such as Latin-1 "caf\xE9.txt") decodes with U+FFFD in place of what is not, and so no longer
// names its file, but possibly another one: it is undecodable.
struct DroppedPath
{
    QString path;
    bool undecodable = false;
};

// The local files and folders of a drop, in the drop's order, whole. Anything else the drop
// carries (web links, text) is left out.
QList<DroppedPath> droppedPaths(const QMimeData &mimeData);

// The files named by the window program's arguments (argv[1] on, as QApplication leaves them
// once it has taken its own options out), in order, as absolute native paths: every argument
// but the options ("-x", "--x") before a "--". A name whose bytes do not decode in the locale's
// encoding is undecodable, as in a drop.
QList<DroppedPath> commandLinePaths(int argc, const char *const *argv);

// The same of arguments given as text (QCoreApplication::arguments()), none undecodable: on
// Windows, whose argv is in the ANSI code page, which may not hold a name, while Qt takes the
// arguments from the UTF-16 command line.
QList<DroppedPath> commandLinePaths(const QStringList &arguments);

// An entry as the list shows it: each line break of the name (CR LF, LF or CR, which a file name
// may hold) as the mark ⏎, so that the name stays on its one line and the break is seen.
QString shownEntry(const QString &entry);

// The pixels that an entry of a list drawn with these metrics needs: its shown text's width plus 8.
int listEntryWidth(const QFontMetrics &metrics, const QString &entry);

} // namespace Tessaline
