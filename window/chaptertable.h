#pragma once

#include <QTableView>

#include <functional>

class QUndoGroup;

namespace Tessaline {

class EditedFile;
class PreviewModel;

// The preview's table, the editor of the chapters of the file it shows (a PreviewModel): the time
// as read and the title are edited by double-click, F2, Enter or typing; Insert adds a chapter
// after the current one at its time, Delete deletes the selected ones; Ctrl+Z undoes, Ctrl+Shift+Z
// and Ctrl+Y redo (while the table has the focus, so that the names box keeps its own undo). The
// context menu (the Menu key, Shift+F10) offers them all and "Revert to file". A file not yet
// edited is read for editing when its first edit begins (the edit start the pane installs). Each
// cell's editor is named by its column for a screen reader. Object names of the actions:
// insertChapter, deleteChapters, undoEdit, redoEdit, revertFile; of a cell's editor: cellEditor.
class ChapterTable : public QTableView
{
    Q_OBJECT

public:
    explicit ChapterTable(QWidget *parent = nullptr);

    // The file the table shows, read for editing when it is not edited yet; null when it cannot
    // be (the pane says why).
    using EditStart = std::function<EditedFile *()>;
    void setEditStart(EditStart start);

    // Undo and redo act on the group's active stack, that of the file shown.
    void setUndoGroup(QUndoGroup *group);

protected:
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    PreviewModel *previewModel() const;
    EditedFile *startEditing();
    QAction *addEditAction(const QString &text, const char *name, const QList<QKeySequence> &keys);
    void insertChapter();
    void deleteChapters();

    EditStart m_editStart;
    QAction *m_revert;
};

} // namespace Tessaline
