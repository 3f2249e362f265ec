#pragma once

#include <QString>
#include <QStringList>

class QFontMetrics;
class QMimeData;

// Files dropped on the main window: which of them the file list takes, and how wide its entries
// are.
namespace Tessaline {

// Whether a drag carries at least one local file or folder.
bool hasLocalPaths(const QMimeData &mimeData);

// The local files and folders of a drop, in the drop's order, as native paths, whole and in
// Unicode. Anything else the drop carries (web links, text) is left out.
QStringList droppedPaths(const QMimeData &mimeData);

// Whether the file list takes a dropped path: one that OutputPathFor can convert, ending in
// ".txt" in exactly that case. Folders so named are taken too; a file-system root never is.
bool isChapterListPath(const QString &path);

// The pixels that an entry of a list drawn with these metrics needs: its text width plus 8.
int listEntryWidth(const QFontMetrics &metrics, const QString &entry);

} // namespace Tessaline
