#pragma once

#include "chapteredits.h"

#include <QHash>
#include <QObject>
#include <QString>

class QUndoGroup;
class QUndoStack;

namespace Tessaline {

// One listed file being edited: its chapters as read and as edited, and the undo stack of its
// edits. Every edit is a command on the stack (a time or a title typed, a chapter inserted or
// chapters deleted, the file as read restored), so undo, redo and "unsaved" come from the
// stack: the edits are saved while the stack is clean. The signals come in pairs around each
// change, as a model announces its rows.
class EditedFile : public QObject
{
    Q_OBJECT

public:
    EditedFile(const QString &path, ChaptersForEditing read, QObject *parent = nullptr);
    ~EditedFile() override;

    const QString &path() const { return m_path; }
    const QList<EditedChapter> &chapters() const { return m_chapters; }
    bool simpleText() const { return m_read.simpleText; }
    // Identifies the file as read, or as it was when its change was accepted.
    const FileStamp &stamp() const { return m_read.stamp; }
    void setStamp(FileStamp stamp) { m_read.stamp = std::move(stamp); }

    QUndoStack *undoStack() const { return m_stack; }
    // Edits not yet saved: the stack is not where it was when last saved (or read).
    bool isModified() const;
    // Edits are held: anything was ever done to the chapters, so that "Save" writes them.
    bool isEdited() const;
    // The edits are saved as they stand.
    void markSaved();

    // Each of these pushes its command. Rows count from 0; one past the range does nothing.
    void setTime(int row, const QString &text);
    void setTitle(int row, const QString &title);
    void insertAfter(int row); // a chapter after row at its time; -1: at 00:00:00.000 before the first
    void remove(QList<int> rows); // the rows given, in one command
    void revert(); // the chapters as read

signals:
    void rowsChanged(int first, int last); // after their chapters changed
    void aboutToInsert(int row);
    void inserted(int row);
    void aboutToRemove(int row);
    void removed(int row);
    void aboutToReset();
    void reset();
    void modifiedChanged(bool modified);

private:
    friend class EditCommand;

    void replace(int row, const EditedChapter &chapter);
    void insert(int row, const EditedChapter &chapter);
    void take(int row);
    void resetTo(const QList<EditedChapter> &chapters);

    QString m_path;
    ChaptersForEditing m_read;
    QList<EditedChapter> m_chapters;
    QUndoStack *m_stack;
};

// The edited files of the list, by path (the same file listed twice is edited once), and the undo
// group whose active stack is that of the file the table shows.
class EditedFiles : public QObject
{
    Q_OBJECT

public:
    explicit EditedFiles(QObject *parent = nullptr);

    EditedFile *find(const QString &path) const { return m_files.value(path); }
    // The file edited at path, read for editing under options when it is not edited yet; or why
    // it cannot be edited.
    Expected<EditedFile *> open(const QString &path, const ConvertOptions &options);
    // Forgets a file's edits.
    void discard(const QString &path);
    // The files whose edits are held (see EditedFile::isEdited).
    QList<EditedFile *> edited() const;
    // The files, of those at paths, whose edits are not saved.
    QStringList unsaved(const QStringList &paths) const;

    QUndoGroup *undoGroup() const { return m_group; }

signals:
    // A file's edits became unsaved, or saved, or were discarded (modified false).
    void modifiedChanged(const QString &path, bool modified);

private:
    QHash<QString, EditedFile *> m_files;
    QUndoGroup *m_group;
};

} // namespace Tessaline
