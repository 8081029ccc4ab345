// One row of the check-list tree. Levels: 0 disk, 1 volume, 2 stored
// object, 3 check result of a file or a whole directory, 4 check item below
// a per-file directory. Every row knows the volume id and, from level 2
// down, the stored object's path it belongs to.
#ifndef ORVA_FILES_ICL_TREE_ITEM_H
#define ORVA_FILES_ICL_TREE_ITEM_H

#include <ic/fs/fs_volume_id.h>

#include <QString>

#include <array>
#include <memory>
#include <vector>

class icl_tree_item {
public:
    enum level { DISK = 0, VOLUME = 1, OBJECT = 2, RESULT = 3, ITEM = 4 };
    enum column { NAME, HASH, DATA, ATTRS, RECURSIVE, RESULT_TEXT, COLUMN_COUNT };
    // A column shown as a check box: unchecked, checked, or none.
    enum check { NO_BOX, UNCHECKED, CHECKED };

    icl_tree_item(int level, const fs_volume_id *id, icl_tree_item *parent);
    ~icl_tree_item();
    icl_tree_item(const icl_tree_item &) = delete;
    icl_tree_item &operator=(const icl_tree_item &) = delete;

    icl_tree_item *append(std::unique_ptr<icl_tree_item> child);
    // Children ordered by their "Имя" text, at every level below this one.
    void sort_children();
    icl_tree_item *child(int row) const;
    int child_count() const { return static_cast<int>(m_children.size()); }
    int row() const;
    icl_tree_item *parent() const { return m_parent; }

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
    icl_tree_item *m_parent;
    QString m_object_path;
    std::array<QString, COLUMN_COUNT> m_texts;
    std::array<int, COLUMN_COUNT> m_checks{};
    std::vector<std::unique_ptr<icl_tree_item>> m_children;
};

#endif
