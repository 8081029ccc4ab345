#include "files/disk_tree_model.h"

disk_tree_model::disk_tree_model(fs_disk_list *list, QObject *parent)
    : tree_node_model(parent), m_list(list)
{
    reload();
}

disk_tree_model::~disk_tree_model() = default;

void disk_tree_model::set_disk_list(fs_disk_list *list)
{
    m_list = list;
    reload();
}

void disk_tree_model::reload()
{
    beginResetModel();
    m_root = std::make_unique<disk_tree_item>(QString());
    if (m_list) {
        disk_tree_item *physical =
            m_root->append(std::make_unique<disk_tree_item>(QStringLiteral("Физические диски"), m_root.get()));
        for (fs_disk *d = fs_disk_list_first_disk(m_list); d; d = fs_disk_list_next_disk(d)) {
            disk_tree_item *disk = physical->append(std::make_unique<disk_tree_disk_item>(d, physical));
            for (fs_partition *p = fs_disk_first_partition(d); p; p = fs_disk_next_partition(p))
                disk->append(std::make_unique<disk_tree_disk_item>(p, disk));
        }
        disk_tree_item *images =
            m_root->append(std::make_unique<disk_tree_item>(QStringLiteral("Виртуальные диски"), m_root.get()));
        for (fs_image_disk *d = fs_disk_list_first_image_disk(m_list); d; d = fs_disk_list_next_image_disk(d)) {
            disk_tree_item *disk = images->append(std::make_unique<disk_tree_image_item>(d, images));
            for (fs_image_partition *p = fs_image_disk_first_partition(d); p; p = fs_image_disk_next_partition(p))
                disk->append(std::make_unique<disk_tree_image_item>(p, disk));
        }
        for (fs_lvm_group *g = fs_disk_list_first_lvm_group(m_list); g; g = fs_disk_list_next_lvm_group(g)) {
            disk_tree_item *group = m_root->append(std::make_unique<disk_tree_lvm_item>(g, m_root.get()));
            for (fs_lvm_volume *v = fs_lvm_group_first_volume(g); v; v = fs_lvm_group_next_volume(v))
                group->append(std::make_unique<disk_tree_lvm_item>(v, group));
        }
    }
    endResetModel();
}

fs_volume *disk_tree_model::volume(const QModelIndex &index) const
{
    const disk_tree_item *i = item(index);
    return i ? i->volume() : nullptr;
}

fs_image_disk *disk_tree_model::image_disk(const QModelIndex &index) const
{
    const disk_tree_item *i = item(index);
    return i ? i->image_disk() : nullptr;
}

QModelIndex disk_tree_model::find(disk_tree_item *under, const fs_volume *volume) const
{
    for (int row = 0; row < under->child_count(); ++row) {
        disk_tree_item *c = under->child(row);
        if (c->volume() == volume)
            return createIndex(row, 0, c);
        const QModelIndex below = find(c, volume);
        if (below.isValid())
            return below;
    }
    return QModelIndex();
}

QModelIndex disk_tree_model::index_of(const fs_volume *volume) const
{
    return volume ? find(m_root.get(), volume) : QModelIndex();
}

int disk_tree_model::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant disk_tree_model::data(const QModelIndex &index, int role) const
{
    const disk_tree_item *i = item(index);
    if (!i)
        return QVariant();
    if (role == Qt::DisplayRole)
        return i->text();
    if (role == Qt::ToolTipRole && i->volume() && i->volume()->devnode)
        return QString::fromUtf8(i->volume()->devnode);
    return QVariant();
}

QVariant disk_tree_model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("Диски");
    return QVariant();
}
