#include "filelistwidget.h"

#include <QStyledItemDelegate>

namespace Tessaline {

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
};

FileListWidget::FileListWidget(QWidget *parent) : QListWidget(parent), m_delegate(new ExtentDelegate(this))
{
    setItemDelegate(m_delegate);
    // One entry stands for all: the view measures the first entry's height only, not each text.
    setUniformItemSizes(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
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

} // namespace Tessaline
