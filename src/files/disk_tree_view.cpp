#include "files/disk_tree_view.h"

#include "files/disk_tree_model.h"

#include <QItemSelectionModel>

disk_tree_view::disk_tree_view(QWidget *parent)
    : QTreeView(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setModel(new disk_tree_model(nullptr, this));
}

void disk_tree_view::setModel(QAbstractItemModel *model)
{
    QTreeView::setModel(model);
    if (selectionModel())
        connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &disk_tree_view::current_changed);
}

disk_tree_model *disk_tree_view::disk_model() const
{
    return qobject_cast<disk_tree_model *>(model());
}

void disk_tree_view::reload()
{
    disk_tree_model *m = disk_model();
    if (!m)
        return;
    m->reload();
    expandAll();
    // The reset cleared the current item: nothing is selected now.
    emit GivePart(nullptr);
}

fs_volume *disk_tree_view::current_volume() const
{
    const disk_tree_model *m = disk_model();
    return m ? m->volume(currentIndex()) : nullptr;
}

fs_image_disk *disk_tree_view::current_image_disk() const
{
    const disk_tree_model *m = disk_model();
    return m ? m->image_disk(currentIndex()) : nullptr;
}

bool disk_tree_view::select_volume(const fs_volume *volume)
{
    const disk_tree_model *m = disk_model();
    const QModelIndex index = m ? m->index_of(volume) : QModelIndex();
    if (!index.isValid())
        return false;
    setCurrentIndex(index);
    return true;
}

void disk_tree_view::current_changed(const QModelIndex &current)
{
    const disk_tree_model *m = disk_model();
    emit GivePart(m ? m->volume(current) : nullptr);
}
