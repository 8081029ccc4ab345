#include "log/log_tree_item.h"

log_tree_item::log_tree_item(QList<QVariant> data, log_tree_item *parent, int row)
    : m_data(std::move(data)), m_parent(parent), m_row(row)
{
}

log_tree_item *log_tree_item::appendChild(QList<QVariant> data)
{
    m_children.push_back(std::make_unique<log_tree_item>(std::move(data), this, childCount()));
    return m_children.back().get();
}

void log_tree_item::clear()
{
    m_children.clear();
}

log_tree_item *log_tree_item::child(int row) const
{
    if (row < 0 || static_cast<size_t>(row) >= m_children.size())
        return nullptr;
    return m_children[static_cast<size_t>(row)].get();
}

int log_tree_item::childCount() const
{
    return static_cast<int>(m_children.size());
}

int log_tree_item::columnCount() const
{
    return static_cast<int>(m_data.size());
}

QVariant log_tree_item::data(int column) const
{
    return m_data.value(column);
}

int log_tree_item::row() const
{
    return m_row;
}
