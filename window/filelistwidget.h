#pragma once

#include <QListWidget>
#include <QSet>

#include <functional>

class QAction;

namespace Tessaline {

class ExtentDelegate;

// The file list. Its entries scroll sideways over a horizontal extent, as a Windows list box
// does: the horizontal scroll bar shows only while the extent exceeds the visible width, and
// then scrolls over exactly the extent, the widest entry plus 8 pixels. The list keeps the extent
// itself as entries come and go. Entries are not measured by the view, so adding many is cheap.
// Delete or Backspace, or "Remove" in the context menu, removes the selected entry; "Clear list"
// removes them all, once the removal check (if any) allows it. An entry whose file has edits not
// yet saved shows "* " before its path, and says so to a screen reader. An empty list shows a
// grey hint.
class FileListWidget : public QListWidget
{
    Q_OBJECT

public:
    explicit FileListWidget(QWidget *parent = nullptr);
    ~FileListWidget() override;

    // Appends an entry; only the new entry is measured. An undecodable entry is a dropped name
    // that does not name its file (DroppedPath): it is listed as it decoded and never converted.
    void appendEntry(const QString &entry, bool undecodable = false);
    // The rows of undecodable entries.
    QSet<qsizetype> undecodableRows() const;
    // Removes the entry in row, if there is one; the extent is measured again over the rest, once
    // (ListTextWidth).
    void removeEntry(int row);
    // Removes every entry.
    void clearEntries();
    // Removes the entries in rows (ascending), unasked.
    void removeRows(const QList<int> &rows);

    // Asked before the user removes entries (Delete, Backspace, "Remove", "Clear list"), with
    // their rows: false keeps them. The window asks about unsaved edits here.
    using RemovalCheck = std::function<bool(const QList<int> &rows)>;
    void setRemovalCheck(RemovalCheck check);
    // Marks the entries of a path as having edits not yet saved, or not.
    void markModified(const QString &entry, bool modified);

    // The width in pixels that the list can be scrolled over; 0 for an empty list.
    int horizontalExtent() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setHorizontalExtent(int pixels);
    int selectedRow() const; // -1 with none selected
    void updateActions();
    void removeAsked(const QList<int> &rows);

    ExtentDelegate *m_delegate;
    QAction *m_remove;
    QAction *m_clear;
    RemovalCheck m_mayRemove;
};

} // namespace Tessaline
