// Volumes by the names and identities the pages show.
#include "ic/qt/fs_names.h"

namespace {

QString text(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

const char *uuid_of(const fs_volume *v)
{
    switch (fs_volume_kind(v)) {
    case FS_VOLUME_PARTITION: return reinterpret_cast<const fs_partition *>(v)->uuid;
    case FS_VOLUME_IMAGE_PARTITION: return reinterpret_cast<const fs_image_partition *>(v)->uuid;
    default: return nullptr;
    }
}

} // namespace

fs_disk *find_disk_by_uuid(const fs_disk_list *list, const QString &identity)
{
    const QByteArray wanted = identity.toUtf8();
    for (fs_disk *d = fs_disk_list_first_disk(list); d; d = fs_disk_list_next_disk(d))
        if (d->identity && wanted == d->identity)
            return d;
    return nullptr;
}

volume_lookup lookup_volume_by_volume_id(const fs_disk_list *list, const QString &text, const QString &disk,
                                         fs_volume **volume)
{
    const QByteArray wanted = text.toUtf8();
    const QByteArray holder = disk.toUtf8();
    if (volume)
        *volume = nullptr;
    if (wanted.isEmpty())
        return VOLUME_NOT_FOUND;
    fs_volume *found = nullptr;
    int count = 0;
    auto consider = [&](fs_volume *v, const char *id, const char *holder_id) {
        if (!id || wanted != id || (!holder.isEmpty() && (!holder_id || holder != holder_id)))
            return;
        found = v;
        ++count;
    };
    // The stored identity does not say whether it names a partition (disk
    // serial, file-system UUID) or a logical volume (group, volume name):
    // a group named as a disk that is there leaves it open.
    bool disk_named = false, group_named = false;
    for (fs_disk *d = fs_disk_list_first_disk(list); d; d = fs_disk_list_next_disk(d)) {
        disk_named = disk_named || (d->identity && holder == d->identity);
        for (fs_partition *p = fs_disk_first_partition(d); p; p = fs_disk_next_partition(p))
            consider(&p->volume, p->uuid, d->identity);
    }
    for (fs_lvm_group *g = fs_disk_list_first_lvm_group(list); g; g = fs_disk_list_next_lvm_group(g)) {
        group_named = group_named || (g->name && holder == g->name);
        for (fs_lvm_volume *v = fs_lvm_group_first_volume(g); v; v = fs_lvm_group_next_volume(v))
            consider(&v->volume, v->name, g->name);
    }
    if (count == 1 && !holder.isEmpty() && disk_named && group_named)
        count = 2;
    if (volume)
        *volume = count == 1 ? found : nullptr;
    return count == 1 ? VOLUME_FOUND : count == 0 ? VOLUME_NOT_FOUND : VOLUME_AMBIGUOUS;
}

fs_volume *find_volume_by_volume_id(const fs_disk_list *list, const QString &text)
{
    fs_volume *volume = nullptr;
    lookup_volume_by_volume_id(list, text, QString(), &volume);
    return volume;
}

QString disk_id_by_volume_id(const fs_volume_id *id)
{
    return id ? text(id->first) : QString();
}

QString disk_id_by_volume(const fs_volume *volume)
{
    switch (fs_volume_kind(volume)) {
    case FS_VOLUME_PARTITION: return text(static_cast<const fs_disk *>(volume->parent)->identity);
    case FS_VOLUME_IMAGE_PARTITION: return text(static_cast<const fs_image_disk *>(volume->parent)->name);
    case FS_VOLUME_LVM: return text(static_cast<const fs_lvm_group *>(volume->parent)->name);
    default: return QString();
    }
}

QString part_id_by_volume(const fs_volume *volume)
{
    if (fs_volume_kind(volume) == FS_VOLUME_LVM)
        return text(reinterpret_cast<const fs_lvm_volume *>(volume)->name);
    return volume ? text(uuid_of(volume)) : QString();
}

int actual_part_num_by_volume(const fs_volume *volume)
{
    const fs_volume *first = nullptr;
    switch (fs_volume_kind(volume)) {
    case FS_VOLUME_PARTITION:
        first = &static_cast<const fs_disk *>(volume->parent)->first_partition->volume;
        break;
    case FS_VOLUME_IMAGE_PARTITION:
        first = &static_cast<const fs_image_disk *>(volume->parent)->first_partition->volume;
        break;
    case FS_VOLUME_LVM:
        first = &static_cast<const fs_lvm_group *>(volume->parent)->first_volume->volume;
        break;
    default:
        return 0;
    }
    int n = 1;
    for (const fs_volume *v = first; v && v != volume; v = v->next)
        if (v->fs_type)
            ++n;
    return n;
}

QString part_name_by_volume(const fs_volume *volume)
{
    if (!volume)
        return QString();
    if (fs_volume_kind(volume) == FS_VOLUME_LVM)
        return QStringLiteral("Том %1").arg(text(reinterpret_cast<const fs_lvm_volume *>(volume)->name));
    return QStringLiteral("Раздел %1 (%2)").arg(actual_part_num_by_volume(volume)).arg(text(volume->fs_type));
}

QString part_name_by_volume_id(const fs_volume_id *id)
{
    if (!id)
        return QString();
    if (fs_volume_id_kind(id) == FS_VOLUME_LVM)
        return QStringLiteral("Том %1").arg(text(id->second));
    return QStringLiteral("Раздел %1").arg(id->number);
}
