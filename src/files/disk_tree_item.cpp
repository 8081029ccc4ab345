#include "files/disk_tree_item.h"

#include <ic/qt/fs_names.h>

namespace {

QString text_of(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

} // namespace

disk_tree_item::disk_tree_item(const QString &text, disk_tree_item *parent)
    : tree_node(parent), m_text(text)
{
}

disk_tree_item::~disk_tree_item() = default;

disk_tree_disk_item::disk_tree_disk_item(fs_disk *disk, disk_tree_item *parent)
    : disk_tree_item(text_of(disk->identity), parent), m_disk(disk)
{
}

disk_tree_disk_item::disk_tree_disk_item(fs_partition *partition, disk_tree_item *parent)
    : disk_tree_item(part_name_by_volume(&partition->volume), parent),
      m_disk(static_cast<fs_disk *>(partition->volume.parent)), m_partition(partition)
{
}

fs_volume *disk_tree_disk_item::volume() const
{
    return m_partition ? &m_partition->volume : nullptr;
}

disk_tree_image_item::disk_tree_image_item(fs_image_disk *disk, disk_tree_item *parent)
    : disk_tree_item(text_of(disk->name), parent), m_disk(disk)
{
}

disk_tree_image_item::disk_tree_image_item(fs_image_partition *partition, disk_tree_item *parent)
    : disk_tree_item(part_name_by_volume(&partition->volume), parent),
      m_disk(static_cast<fs_image_disk *>(partition->volume.parent)), m_partition(partition)
{
}

fs_volume *disk_tree_image_item::volume() const
{
    return m_partition ? &m_partition->volume : nullptr;
}

disk_tree_lvm_item::disk_tree_lvm_item(fs_lvm_group *group, disk_tree_item *parent)
    : disk_tree_item(text_of(group->name), parent), m_group(group)
{
}

disk_tree_lvm_item::disk_tree_lvm_item(fs_lvm_volume *volume, disk_tree_item *parent)
    : disk_tree_item(part_name_by_volume(&volume->volume), parent),
      m_group(static_cast<fs_lvm_group *>(volume->volume.parent)), m_volume(volume)
{
}

fs_volume *disk_tree_lvm_item::volume() const
{
    return m_volume ? &m_volume->volume : nullptr;
}
