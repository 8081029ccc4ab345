// Items of the disk tree: the group headings, and one item per disk, image
// disk or LVM group (the container) or per volume on it. Each kind is built
// either for its container or for one of its volumes.
#ifndef ORVA_FILES_DISK_TREE_ITEM_H
#define ORVA_FILES_DISK_TREE_ITEM_H

#include "files/tree_node.h"

#include <ic/fs/fs_disk_list.h>

#include <QString>

class disk_tree_item : public tree_node<disk_tree_item> {
public:
    explicit disk_tree_item(const QString &text, disk_tree_item *parent = nullptr);
    virtual ~disk_tree_item();

    const QString &text() const { return m_text; }

    // The volume the item stands for; null for headings and containers.
    virtual fs_volume *volume() const { return nullptr; }
    // The image disk an image item belongs to (container or partition).
    virtual fs_image_disk *image_disk() const { return nullptr; }

private:
    QString m_text;
};

// A fixed disk (labelled with its identity) or one of its partitions.
class disk_tree_disk_item : public disk_tree_item {
public:
    disk_tree_disk_item(fs_disk *disk, disk_tree_item *parent);
    disk_tree_disk_item(fs_partition *partition, disk_tree_item *parent);
    fs_volume *volume() const override;
    fs_disk *disk() const { return m_disk; }

private:
    fs_disk *m_disk;
    fs_partition *m_partition = nullptr;
};

// A registered image disk (labelled with its name) or one of its partitions.
class disk_tree_image_item : public disk_tree_item {
public:
    disk_tree_image_item(fs_image_disk *disk, disk_tree_item *parent);
    disk_tree_image_item(fs_image_partition *partition, disk_tree_item *parent);
    fs_volume *volume() const override;
    fs_image_disk *image_disk() const override { return m_disk; }

private:
    fs_image_disk *m_disk;
    fs_image_partition *m_partition = nullptr;
};

// An LVM group (labelled with its name) or one of its logical volumes.
class disk_tree_lvm_item : public disk_tree_item {
public:
    disk_tree_lvm_item(fs_lvm_group *group, disk_tree_item *parent);
    disk_tree_lvm_item(fs_lvm_volume *volume, disk_tree_item *parent);
    fs_volume *volume() const override;

private:
    fs_lvm_group *m_group;
    fs_lvm_volume *m_volume = nullptr;
};

#endif
