#include "elidedtexttooltip.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace Tessaline {

ElidedTextToolTip::ElidedTextToolTip(QAbstractItemView *view) : QObject(view), m_view(view)
{
    view->viewport()->installEventFilter(this);
}

// The delegate's size hint is the text's width, the icon's before it and the style's margins on
// either side, the room it needs to be drawn whole. The icon is drawn at the view's icon size, by
// default the style's small one.
bool ElidedTextToolTip::isElided(const QAbstractItemView *view, const QModelIndex &index)
{
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.widget = view;
    option.font = view->font();
    option.rect = view->visualRect(index);
    const int icon = view->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, view);
    option.decorationSize = view->iconSize().isValid() ? view->iconSize() : QSize(icon, icon);
    return view->itemDelegateForIndex(index)->sizeHint(option, index).width() > option.rect.width();
}

bool ElidedTextToolTip::eventFilter(QObject *watched, QEvent *event)
{
    // The view is not called before the event is known to be a tool tip's: the viewport's last
    // events come while the view is being destroyed.
    if (event->type() != QEvent::ToolTip || watched != m_view->viewport())
        return false;
    const auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex index = m_view->indexAt(help->pos());
    if (!index.isValid() || index.data(Qt::ToolTipRole).isValid())
        return false; // the view shows the model's own
    if (!isElided(m_view, index)) {
        QToolTip::hideText();
        return true;
    }
    // As the cell shows it (a number in the locale's digits), as plain text (a title is never
    // markup), on one line while it fits three quarters of the screen's width; a longer one wraps.
    const QVariant value = index.data(Qt::DisplayRole);
    const auto *delegate = qobject_cast<const QStyledItemDelegate *>(m_view->itemDelegateForIndex(index));
    const QString text = delegate ? delegate->displayText(value, m_view->locale()) : value.toString();
    const bool fits = m_view->fontMetrics().horizontalAdvance(text) * 4 < m_view->screen()->availableSize().width() * 3;
    const QString wrapping = fits ? QStringLiteral("nowrap") : QStringLiteral("normal");
    QToolTip::showText(help->globalPos(),
                       u"<p style=\"white-space:" + wrapping + u"\">" + text.toHtmlEscaped() + u"</p>",
                       m_view->viewport(), m_view->visualRect(index));
    return true;
}

} // namespace Tessaline
