#pragma once

#include <QStyledItemDelegate>

namespace tarnis {

/// Draws the list's entries as Qt does, and shows an entry's whole name as its tooltip where the
/// list cannot: capture programs write names far wider than the list, and the list keeps its size.
class FullNameTips : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

} // namespace tarnis
