#include "log/log_tree_view.h"

log_tree_view::log_tree_view(QWidget *parent)
    : QTreeView(parent)
{
    setUniformRowHeights(true);
    setAlternatingRowColors(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void log_tree_view::setModel(QAbstractItemModel *new_model)
{
    if (QAbstractItemModel *old = model()) {
        disconnect(old, &QAbstractItemModel::modelReset, this, &log_tree_view::span_children);
        disconnect(old, &QAbstractItemModel::rowsInserted, this, &log_tree_view::span_inserted);
    }
    QTreeView::setModel(new_model);
    if (new_model) {
        connect(new_model, &QAbstractItemModel::modelReset, this, &log_tree_view::span_children);
        connect(new_model, &QAbstractItemModel::rowsInserted, this, &log_tree_view::span_inserted);
    }
    span_children();
}

void log_tree_view::span_children()
{
    QAbstractItemModel *m = model();
    if (!m)
        return;
    const int rows = m->rowCount();
    for (int row = 0; row < rows; ++row)
        span_row_children(row);
}

void log_tree_view::span_inserted(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid()) {
        for (int row = first; row <= last; ++row)
            setFirstColumnSpanned(row, parent, true);
        return;
    }
    for (int row = first; row <= last; ++row)
        span_row_children(row);
}

void log_tree_view::span_row_children(int row)
{
    QAbstractItemModel *m = model();
    const QModelIndex record = m->index(row, 0);
    const int children = m->rowCount(record);
    for (int child = 0; child < children; ++child)
        setFirstColumnSpanned(child, record, true);
}
