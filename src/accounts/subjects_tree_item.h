// One node of the users-and-groups tree: the root, a group or a user, with its
// own copy of the record.
#ifndef ORVA_ACCOUNTS_SUBJECTS_TREE_ITEM_H
#define ORVA_ACCOUNTS_SUBJECTS_TREE_ITEM_H

#include <orva.h>

#include <QString>

#include <memory>
#include <vector>

class subjects_tree_item {
public:
    enum kind { ROOT = 0, USER = 10, GROUP = 12 };

    // The root has no record.
    subjects_tree_item(int kind, const orva_db_record *record, subjects_tree_item *parent);

    subjects_tree_item *child(int row) const;
    int child_count() const { return static_cast<int>(m_children.size()); }
    // Row under the parent; 0 for the root.
    int row() const;
    subjects_tree_item *parent() const { return m_parent; }
    subjects_tree_item *append_child(int kind, const orva_db_record &record);
    void remove_child(int row);
    void remove_children();

    int kind() const { return m_kind; }
    orva_db_record *record() const { return m_record.get(); }
    QString name() const;
    // "Гл.Администратор", "Администраторы", "Обычные", else the name.
    QString display_name() const;

private:
    int m_kind;
    std::unique_ptr<orva_db_record> m_record;
    subjects_tree_item *m_parent;
    std::vector<std::unique_ptr<subjects_tree_item>> m_children;
};

#endif
