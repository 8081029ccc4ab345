// One row of the check-list tree. Levels: 0 disk, 1 volume, 2 stored
// object, 3 check result of a file or a whole directory, 4 check item below
// a per-file directory. Every row knows the volume id and, from level 2
// down, the stored object's path it belongs to.
#ifndef ORVA_FILES_ICL_TREE_ITEM_H
#define ORVA_FILES_ICL_TREE_ITEM_H

#include "files/tree_node.h"

#include <ic/fs/fs_volume_id.h>

#include <QString>

#include <array>

class icl_tree_item : public tree_node<icl_tree_item> {
public:
    enum level { DISK = 0, VOLUME = 1, OBJECT = 2, RESULT = 3, ITEM = 4 };
    enum column { NAME, HASH, DATA, ATTRS, RECURSIVE, RESULT_TEXT, COLUMN_COUNT };
    // A column shown as a check box: unchecked, checked, or none.
    enum check { NO_BOX, UNCHECKED, CHECKED };

    icl_tree_item(int level, const fs_volume_id *id, icl_tree_item *parent);
    ~icl_tree_item();

    // Children ordered by their "Имя" text, at every level below this one.
    void sort_children();

    int level() const { return m_level; }
    // The volume id the row belongs to (null for the root).
    const fs_volume_id *volume_id() const { return m_id; }
    // The stored object's path (levels 2 to 4).
    const QString &object_path() const { return m_object_path; }
    void set_object_path(const QString &path) { m_object_path = path; }

    QString text(int column) const;
    void set_text(int column, const QString &text);
    int check_state(int column) const;
    void set_check(int column, bool checked);

private:
    int m_level;
    const fs_volume_id *m_id;
    QString m_object_path;
    std::array<QString, COLUMN_COUNT> m_texts;
    std::array<int, COLUMN_COUNT> m_checks{};
};

#endif
