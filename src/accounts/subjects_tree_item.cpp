#include "accounts/subjects_tree_item.h"

#include "module/db_record.h"

subjects_tree_item::subjects_tree_item(int kind, const orva_db_record *record, subjects_tree_item *parent)
    : m_kind(kind),
      m_record(record ? std::make_unique<orva_db_record>(*record) : nullptr),
      m_parent(parent)
{
}

subjects_tree_item *subjects_tree_item::child(int row) const
{
    if (row < 0 || row >= child_count())
        return nullptr;
    return m_children[static_cast<size_t>(row)].get();
}

int subjects_tree_item::row() const
{
    if (!m_parent)
        return 0;
    for (int i = 0; i < m_parent->child_count(); ++i) {
        if (m_parent->child(i) == this)
            return i;
    }
    return 0;
}

subjects_tree_item *subjects_tree_item::append_child(int kind, const orva_db_record &record)
{
    m_children.push_back(std::make_unique<subjects_tree_item>(kind, &record, this));
    return m_children.back().get();
}

void subjects_tree_item::remove_child(int row)
{
    if (row >= 0 && row < child_count())
        m_children.erase(m_children.begin() + row);
}

void subjects_tree_item::remove_children()
{
    m_children.clear();
}

QString subjects_tree_item::name() const
{
    return m_record ? db_record::name(m_record->name) : QString();
}

QString subjects_tree_item::display_name() const
{
    if (!m_record)
        return QString();
    if (db_record::name_is(m_record->name, db_record::kSupervisor) && m_kind == USER)
        return QStringLiteral("Гл.Администратор");
    if (m_kind == GROUP && db_record::name_is(m_record->name, db_record::kAdmins))
        return QStringLiteral("Администраторы");
    if (m_kind == GROUP && db_record::name_is(m_record->name, db_record::kEveryone))
        return QStringLiteral("Обычные");
    return name();
}
