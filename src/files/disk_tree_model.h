// The volumes of a disk list as a tree: "Физические диски" with the fixed
// disks and their partitions, "Виртуальные диски" with the registered image
// disks and their partitions, then one item per LVM group with its volumes.
// The model does not own the list; reload() after the list has changed.
#ifndef ORVA_FILES_DISK_TREE_MODEL_H
#define ORVA_FILES_DISK_TREE_MODEL_H

#include "files/disk_tree_item.h"
#include "files/tree_node.h"

class disk_tree_model : public tree_node_model<disk_tree_item> {
    Q_OBJECT

public:
    explicit disk_tree_model(fs_disk_list *list = nullptr, QObject *parent = nullptr);
    ~disk_tree_model() override;

    fs_disk_list *disk_list() const { return m_list; }
    void set_disk_list(fs_disk_list *list);
    // Builds the items anew from the list.
    void reload();

    // The volume of an item, or null (headings, disks, groups).
    fs_volume *volume(const QModelIndex &index) const;
    // The image disk of an image disk's item or of one of its partitions.
    fs_image_disk *image_disk(const QModelIndex &index) const;
    // The item of a volume, or an invalid index.
    QModelIndex index_of(const fs_volume *volume) const;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QModelIndex find(disk_tree_item *under, const fs_volume *volume) const;

    fs_disk_list *m_list;
};

#endif
