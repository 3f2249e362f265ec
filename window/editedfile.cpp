#include "editedfile.h"

#include <QUndoGroup>
#include <QUndoStack>

#include <algorithm>

namespace Tessaline {

// What the commands share: access to the file's changes, which only commands make.
class EditCommand : public QUndoCommand
{
public:
    EditCommand(EditedFile &file, const QString &text) : QUndoCommand(text), m_file(file) { }

protected:
    void replace(int row, const EditedChapter &chapter) { m_file.replace(row, chapter); }
    void insert(int row, const EditedChapter &chapter) { m_file.insert(row, chapter); }
    void take(int row) { m_file.take(row); }
    void resetTo(const QList<EditedChapter> &chapters) { m_file.resetTo(chapters); }
    const QList<EditedChapter> &chapters() const { return m_file.chapters(); }

private:
    EditedFile &m_file;
};

namespace {

// A chapter of one row replaced by another: the time or the title typed.
class ReplaceChapterCommand : public EditCommand
{
public:
    ReplaceChapterCommand(EditedFile &file, const QString &text, int row, EditedChapter after)
        : EditCommand(file, text), m_row(row), m_before(file.chapters()[row]), m_after(std::move(after))
    { }
    void redo() override { replace(m_row, m_after); }
    void undo() override { replace(m_row, m_before); }

private:
    int m_row;
    EditedChapter m_before;
    EditedChapter m_after;
};

class EditTimeCommand : public ReplaceChapterCommand
{
public:
    EditTimeCommand(EditedFile &file, int row, const QString &time)
        : ReplaceChapterCommand(file, QStringLiteral("Edit time"), row, withTypedTime(file.chapters()[row], time))
    { }
};

class EditTitleCommand : public ReplaceChapterCommand
{
public:
    EditTitleCommand(EditedFile &file, int row, const QString &title)
        : ReplaceChapterCommand(file, QStringLiteral("Edit title"), row, retitled(file.chapters()[row], title))
    { }

private:
    static EditedChapter retitled(EditedChapter chapter, const QString &title)
    {
        chapter.chapter.title = title;
        return chapter;
    }
};

class InsertChapterCommand : public EditCommand
{
public:
    InsertChapterCommand(EditedFile &file, int after)
        : EditCommand(file, QStringLiteral("Insert chapter")), m_row(after + 1),
          m_chapter(newChapterAfter(file.chapters(), after))
    { }
    void redo() override { insert(m_row, m_chapter); }
    void undo() override { take(m_row); }

private:
    int m_row;
    EditedChapter m_chapter;
};

// Rows taken out, the last first, and put back, the first first.
class DeleteChaptersCommand : public EditCommand
{
public:
    DeleteChaptersCommand(EditedFile &file, const QList<int> &rows)
        : EditCommand(file, rows.size() == 1 ? QStringLiteral("Delete chapter") : QStringLiteral("Delete chapters"))
    {
        for (const int row : rows)
            m_taken.append({row, file.chapters()[row]});
    }
    void redo() override
    {
        for (auto it = m_taken.crbegin(); it != m_taken.crend(); ++it)
            take(it->first);
    }
    void undo() override
    {
        for (const auto &[row, chapter] : std::as_const(m_taken))
            insert(row, chapter);
    }

private:
    QList<std::pair<int, EditedChapter>> m_taken; // by row, ascending
};

class RevertCommand : public EditCommand
{
public:
    RevertCommand(EditedFile &file, QList<EditedChapter> read)
        : EditCommand(file, QStringLiteral("Revert to file")), m_before(file.chapters()), m_after(std::move(read))
    { }
    void redo() override { resetTo(m_after); }
    void undo() override { resetTo(m_before); }

private:
    QList<EditedChapter> m_before;
    QList<EditedChapter> m_after;
};

} // namespace

EditedFile::EditedFile(const QString &path, ChaptersForEditing read, QObject *parent)
    : QObject(parent), m_path(path), m_read(std::move(read)), m_chapters(m_read.chapters), m_stack(new QUndoStack(this))
{
    connect(m_stack, &QUndoStack::cleanChanged, this, [this](bool clean) { emit modifiedChanged(!clean); });
}

EditedFile::~EditedFile() = default;

bool EditedFile::isModified() const
{
    return !m_stack->isClean();
}

bool EditedFile::isEdited() const
{
    return m_stack->count() > 0;
}

void EditedFile::markSaved()
{
    m_stack->setClean();
}

void EditedFile::setTime(int row, const QString &text)
{
    if (row >= 0 && row < m_chapters.size() && withTypedTime(m_chapters[row], text) != m_chapters[row])
        m_stack->push(new EditTimeCommand(*this, row, text));
}

void EditedFile::setTitle(int row, const QString &title)
{
    if (row >= 0 && row < m_chapters.size() && title != m_chapters[row].chapter.title)
        m_stack->push(new EditTitleCommand(*this, row, title));
}

void EditedFile::insertAfter(int row)
{
    if (row >= -1 && row < m_chapters.size())
        m_stack->push(new InsertChapterCommand(*this, row));
}

void EditedFile::remove(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.removeIf([this](int row) { return row < 0 || row >= m_chapters.size(); });
    if (!rows.isEmpty())
        m_stack->push(new DeleteChaptersCommand(*this, rows));
}

void EditedFile::revert()
{
    if (m_chapters != m_read.chapters)
        m_stack->push(new RevertCommand(*this, m_read.chapters));
}

void EditedFile::replace(int row, const EditedChapter &chapter)
{
    m_chapters[row] = chapter;
    emit rowsChanged(row, row);
}

void EditedFile::insert(int row, const EditedChapter &chapter)
{
    emit aboutToInsert(row);
    m_chapters.insert(row, chapter);
    emit inserted(row);
}

void EditedFile::take(int row)
{
    emit aboutToRemove(row);
    m_chapters.removeAt(row);
    emit removed(row);
}

void EditedFile::resetTo(const QList<EditedChapter> &chapters)
{
    emit aboutToReset();
    m_chapters = chapters;
    emit reset();
}

EditedFiles::EditedFiles(QObject *parent) : QObject(parent), m_group(new QUndoGroup(this))
{ }

Expected<EditedFile *> EditedFiles::open(const QString &path, const ConvertOptions &options)
{
    if (EditedFile *file = find(path))
        return file;
    Expected<ChaptersForEditing> read = readForEditing(path, options);
    if (!read)
        return read.error();
    auto *file = new EditedFile(path, std::move(*read), this);
    m_files.insert(path, file);
    m_group->addStack(file->undoStack());
    connect(file, &EditedFile::modifiedChanged, this,
            [this, path](bool modified) { emit modifiedChanged(path, modified); });
    return file;
}

void EditedFiles::discard(const QString &path)
{
    EditedFile *file = m_files.take(path);
    if (!file)
        return;
    m_group->removeStack(file->undoStack());
    const bool wasModified = file->isModified();
    delete file;
    if (wasModified)
        emit modifiedChanged(path, false);
}

QList<EditedFile *> EditedFiles::edited() const
{
    QList<EditedFile *> files;
    for (EditedFile *file : m_files) {
        if (file->isEdited())
            files.append(file);
    }
    return files;
}

QStringList EditedFiles::unsaved(const QStringList &paths) const
{
    QStringList unsaved;
    for (const QString &path : paths) {
        if (const EditedFile *file = find(path); file && file->isModified() && !unsaved.contains(path))
            unsaved.append(path);
    }
    return unsaved;
}

} // namespace Tessaline
