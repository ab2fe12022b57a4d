#include "ui/full_name_tips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

namespace tarnis {

bool FullNameTips::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                             const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    // The entry's own width from where the list draws it (the row itself is as wide as the widest
    // entry); it fits when the visible part of the list holds all of it, whatever the scrolling.
    const int left = option.rect.left();
    const int right = left + sizeHint(option, index).width();
    if (left >= 0 && right <= view->viewport()->width()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(),
                       option.rect);
    return true;
}

} // namespace tarnis
