#include "files/icl_tree_item.h"

#include <algorithm>

icl_tree_item::icl_tree_item(int level, const fs_volume_id *id, icl_tree_item *parent)
    : tree_node(parent), m_level(level), m_id(id)
{
}

icl_tree_item::~icl_tree_item() = default;

void icl_tree_item::sort_children()
{
    std::stable_sort(m_children.begin(), m_children.end(),
                     [](const std::unique_ptr<icl_tree_item> &a, const std::unique_ptr<icl_tree_item> &b) {
                         return a->text(NAME) < b->text(NAME);
                     });
    for (const auto &c : m_children)
        c->sort_children();
}

QString icl_tree_item::text(int column) const
{
    return column >= 0 && column < COLUMN_COUNT ? m_texts[static_cast<size_t>(column)] : QString();
}

void icl_tree_item::set_text(int column, const QString &text)
{
    if (column >= 0 && column < COLUMN_COUNT)
        m_texts[static_cast<size_t>(column)] = text;
}

int icl_tree_item::check_state(int column) const
{
    return column >= 0 && column < COLUMN_COUNT ? m_checks[static_cast<size_t>(column)] : NO_BOX;
}

void icl_tree_item::set_check(int column, bool checked)
{
    if (column >= 0 && column < COLUMN_COUNT)
        m_checks[static_cast<size_t>(column)] = checked ? CHECKED : UNCHECKED;
}
