// A tree view of a disk_tree_model: the volume of the current item is
// announced with GivePart (null when the item is not a volume).
#ifndef ORVA_FILES_DISK_TREE_VIEW_H
#define ORVA_FILES_DISK_TREE_VIEW_H

#include <ic/fs/fs_disk_list.h>

#include <QTreeView>

class disk_tree_model;

class disk_tree_view : public QTreeView {
    Q_OBJECT

public:
    explicit disk_tree_view(QWidget *parent = nullptr);

    // The view's model (its own until another is set); reload() rebuilds it
    // from the list and expands every item.
    disk_tree_model *disk_model() const;
    void reload();

    fs_volume *current_volume() const;
    fs_image_disk *current_image_disk() const;
    // Makes the volume's item the current one (false when not shown).
    bool select_volume(const fs_volume *volume);

    void setModel(QAbstractItemModel *model) override;

signals:
    void GivePart(fs_volume *volume);

private slots:
    void current_changed(const QModelIndex &current);
};

#endif
