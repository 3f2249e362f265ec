#pragma once

#include <QObject>

class QAbstractItemView;
class QModelIndex;

namespace Tessaline {

// Gives a view's cells whose text is cut off ("…") their whole text as a tool tip, so that a title
// longer than its column can be read without widening it. A cell whose text fits shows none; a
// cell for which the model has a tool tip of its own shows the model's. It watches the view's
// viewport and is a child of the view.
class ElidedTextToolTip : public QObject
{
public:
    explicit ElidedTextToolTip(QAbstractItemView *view);

    // Whether the text of index is wider than its cell in view, as the view's delegate draws it.
    static bool isElided(const QAbstractItemView *view, const QModelIndex &index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAbstractItemView *m_view;
};

} // namespace Tessaline
