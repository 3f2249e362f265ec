#include "filelistwidget.h"

#include "droppedfiles.h"
#include "form1.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <numeric>

namespace Tessaline {

namespace {

constexpr int kUndecodableRole = Qt::UserRole; // bool: the entry's name did not decode
constexpr int kModifiedRole = Qt::UserRole + 1; // bool: the entry's file has edits not yet saved

} // namespace

// Sizes every entry as wide as the extent. The list view then lays the entries out that wide,
// and its contents, and so its horizontal scroll range, are exactly the extent.
class ExtentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    int extent = 0; // pixels

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {extent, QStyledItemDelegate::sizeHint(option, index).height()};
    }

    QString displayText(const QVariant &value, const QLocale &locale) const override
    {
        return QStyledItemDelegate::displayText(shownEntry(value.toString()), locale);
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(kModifiedRole).toBool())
            option->text = u"* " + option->text;
    }
};

FileListWidget::FileListWidget(QWidget *parent)
    : QListWidget(parent), m_delegate(new ExtentDelegate(this)), m_remove(new QAction(QStringLiteral("Remove"), this)),
      m_clear(new QAction(QStringLiteral("Clear list"), this))
{
    setItemDelegate(m_delegate);
    // One entry stands for all: the view measures the first entry's height only, not each text.
    setUniformItemSizes(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    m_remove->setObjectName(QStringLiteral("removeEntry"));
    m_clear->setObjectName(QStringLiteral("clearList"));
    connect(m_remove, &QAction::triggered, this, [this] { removeAsked({selectedRow()}); });
    connect(m_clear, &QAction::triggered, this, [this] {
        QList<int> rows(count());
        std::iota(rows.begin(), rows.end(), 0);
        removeAsked(rows);
    });
    addActions({m_remove, m_clear});
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(this, &QListWidget::itemSelectionChanged, this, &FileListWidget::updateActions);
    connect(model(), &QAbstractItemModel::rowsInserted, this, &FileListWidget::updateActions);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, &FileListWidget::updateActions);
    connect(model(), &QAbstractItemModel::modelReset, this, &FileListWidget::updateActions);
    updateActions();
}

FileListWidget::~FileListWidget()
{
    // The base class removes the entries after this class is gone: no more updates then.
    model()->disconnect(this);
    disconnect(this, &QListWidget::itemSelectionChanged, this, nullptr);
}

void FileListWidget::appendEntry(const QString &entry, bool undecodable)
{
    auto *item = new QListWidgetItem(entry, this);
    if (undecodable)
        item->setData(kUndecodableRole, true);
    setHorizontalExtent(std::max(horizontalExtent(), listEntryWidth(fontMetrics(), entry)));
}

QSet<qsizetype> FileListWidget::undecodableRows() const
{
    QSet<qsizetype> rows;
    for (int row = 0; row < count(); ++row) {
        if (item(row)->data(kUndecodableRole).toBool())
            rows.insert(row);
    }
    return rows;
}

void FileListWidget::removeEntry(int row)
{
    if (row < 0 || row >= count())
        return;
    delete takeItem(row);
    setHorizontalExtent(Form1::ListTextWidth(this));
}

void FileListWidget::clearEntries()
{
    clear();
    setHorizontalExtent(0);
}

void FileListWidget::setRemovalCheck(RemovalCheck check)
{
    m_mayRemove = std::move(check);
}

void FileListWidget::markModified(const QString &entry, bool modified)
{
    const QString unsaved = QStringLiteral("有未保存的编辑");
    for (int row = 0; row < count(); ++row) {
        QListWidgetItem *entryItem = item(row);
        if (entryItem->text() != entry)
            continue;
        entryItem->setData(kModifiedRole, modified);
        entryItem->setData(Qt::AccessibleTextRole, modified ? QVariant(entry + u"（" + unsaved + u"）") : QVariant());
        entryItem->setData(Qt::AccessibleDescriptionRole, modified ? QVariant(unsaved) : QVariant());
        entryItem->setToolTip(modified ? unsaved : QString());
    }
    if (modified)
        setHorizontalExtent(std::max(horizontalExtent(), listEntryWidth(fontMetrics(), u"* " + entry)));
}

// The rows, in ascending order, once the removal check allows it.
void FileListWidget::removeAsked(const QList<int> &rows)
{
    if (!rows.isEmpty() && rows.first() >= 0 && (!m_mayRemove || m_mayRemove(rows)))
        removeRows(rows);
}

void FileListWidget::removeRows(const QList<int> &rows)
{
    if (rows.size() == count()) {
        clearEntries();
        return;
    }
    for (auto row = rows.crbegin(); row != rows.crend(); ++row)
        removeEntry(*row);
}

int FileListWidget::horizontalExtent() const
{
    return m_delegate->extent;
}

void FileListWidget::setHorizontalExtent(int pixels)
{
    if (pixels == m_delegate->extent)
        return;
    m_delegate->extent = pixels;
    // Laid out again once control returns to the event loop, however often the extent changes.
    scheduleDelayedItemsLayout();
}

int FileListWidget::selectedRow() const
{
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.constFirst());
}

void FileListWidget::updateActions()
{
    m_remove->setEnabled(selectedRow() >= 0);
    m_clear->setEnabled(count() > 0);
}

void FileListWidget::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && selectedRow() >= 0)
        removeAsked({selectedRow()});
    else
        QListWidget::keyPressEvent(event);
}

void FileListWidget::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    if (count() > 0)
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect(), Qt::AlignCenter, QStringLiteral("Drop chapter files here"));
}

} // namespace Tessaline
