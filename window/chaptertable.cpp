#include "chaptertable.h"

#include "editedfile.h"
#include "previewmodel.h"

#include <QAction>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <QUndoGroup>

namespace Tessaline {

namespace {

// Names each cell's editor as its column, and says which chapter it edits and, for a time, how
// it is written.
class CellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        editor->setObjectName(QStringLiteral("cellEditor"));
        editor->setAccessibleName(index.model()->headerData(index.column(), Qt::Horizontal).toString());
        QString description = QStringLiteral("第%1章").arg(index.row() + 1);
        if (index.column() == PreviewModel::TimeReadColumn)
            description += QStringLiteral("，时:分:秒.毫秒");
        editor->setAccessibleDescription(description);
        return editor;
    }
};

} // namespace

ChapterTable::ChapterTable(QWidget *parent) : QTableView(parent)
{
    setItemDelegate(new CellDelegate(this));
    setEditTriggers(DoubleClicked | EditKeyPressed | AnyKeyPressed);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(addEditAction(QStringLiteral("Insert chapter"), "insertChapter", {QKeySequence(Qt::Key_Insert)}),
            &QAction::triggered, this, &ChapterTable::insertChapter);
    connect(addEditAction(QStringLiteral("Delete chapter"), "deleteChapters", {QKeySequence::Delete}),
            &QAction::triggered, this, &ChapterTable::deleteChapters);
    m_revert = addEditAction(QStringLiteral("Revert to file"), "revertFile", {});
    connect(m_revert, &QAction::triggered, this, [this] {
        if (EditedFile *file = previewModel()->document())
            file->revert();
    });
}

void ChapterTable::setEditStart(EditStart start)
{
    m_editStart = std::move(start);
}

void ChapterTable::setUndoGroup(QUndoGroup *group)
{
    QAction *undo = group->createUndoAction(this, QStringLiteral("Undo"));
    QAction *redo = group->createRedoAction(this, QStringLiteral("Redo"));
    undo->setObjectName(QStringLiteral("undoEdit"));
    redo->setObjectName(QStringLiteral("redoEdit"));
    undo->setShortcut(QKeySequence::Undo);
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    for (QAction *action : {undo, redo})
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    insertActions(m_revert, {undo, redo});
}

QAction *ChapterTable::addEditAction(const QString &text, const char *name, const QList<QKeySequence> &keys)
{
    auto *action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WidgetShortcut);
    addAction(action);
    return action;
}

PreviewModel *ChapterTable::previewModel() const
{
    return static_cast<PreviewModel *>(model());
}

EditedFile *ChapterTable::startEditing()
{
    if (EditedFile *file = previewModel()->document())
        return file;
    return m_editStart ? m_editStart() : nullptr;
}

// An edit of a file not yet edited has it read first; the cell is then the file's own.
bool ChapterTable::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    const bool starts = trigger & editTriggers() & (DoubleClicked | EditKeyPressed | AnyKeyPressed);
    if (!starts || !index.isValid() || previewModel()->document() || !(index.flags() & Qt::ItemIsEditable))
        return QTableView::edit(index, trigger, event);
    const int row = index.row();
    const int column = index.column();
    if (!startEditing())
        return false;
    const QModelIndex cell = model()->index(row, column);
    setCurrentIndex(cell);
    return QTableView::edit(cell, trigger, event);
}

// Enter edits the current cell, rather than reaching the window, where it would press "Save".
void ChapterTable::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState) {
        edit(currentIndex(), EditKeyPressed, event);
        return;
    }
    QTableView::keyPressEvent(event);
}

void ChapterTable::insertChapter()
{
    const int row = currentIndex().isValid() ? currentIndex().row() : model()->rowCount() - 1;
    EditedFile *file = startEditing();
    if (!file)
        return;
    file->insertAfter(std::min(row, int(file->chapters().size()) - 1));
    setCurrentIndex(model()->index(row + 1, PreviewModel::TitleColumn));
}

void ChapterTable::deleteChapters()
{
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        rows.append(index.row());
    if (rows.isEmpty() && currentIndex().isValid())
        rows.append(currentIndex().row());
    if (rows.isEmpty())
        return;
    EditedFile *file = startEditing();
    if (!file)
        return;
    const int first = *std::min_element(rows.cbegin(), rows.cend());
    const int column = std::max(currentIndex().column(), 0);
    file->remove(rows);
    if (model()->rowCount() > 0)
        setCurrentIndex(model()->index(std::min(first, model()->rowCount() - 1), column));
}

} // namespace Tessaline
