// Disk-list records: construction, iteration, kind operations, destruction.
#include "fs_internal.h"

#include "ic/util/log.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace ic_fs {
namespace {

int partition_create_id(const fs_volume *v, fs_volume_id **id)
{
    auto *p = reinterpret_cast<const fs_partition *>(v);
    auto *disk = static_cast<const fs_disk *>(v->parent);
    return fs_partition_id_create(disk->identity, p->number, id);
}

fs_disk_list *partition_disk_list(const fs_volume *v)
{
    return static_cast<const fs_disk *>(v->parent)->owner;
}

int image_partition_create_id(const fs_volume *v, fs_volume_id **id)
{
    auto *p = reinterpret_cast<const fs_image_partition *>(v);
    auto *disk = static_cast<const fs_image_disk *>(v->parent);
    return fs_image_partition_id_create(disk->name, p->number, id);
}

fs_disk_list *image_partition_disk_list(const fs_volume *v)
{
    return static_cast<const fs_image_disk *>(v->parent)->owner;
}

int lvm_volume_create_id(const fs_volume *v, fs_volume_id **id)
{
    auto *l = reinterpret_cast<const fs_lvm_volume *>(v);
    auto *group = static_cast<const fs_lvm_group *>(v->parent);
    return fs_lvm_volume_id_create(group->name, l->name, id);
}

fs_disk_list *lvm_volume_disk_list(const fs_volume *v)
{
    return static_cast<const fs_lvm_group *>(v->parent)->owner;
}

const fs_volume_ops partition_ops = {FS_VOLUME_PARTITION, partition_create_id, partition_disk_list};
const fs_volume_ops image_partition_ops = {FS_VOLUME_IMAGE_PARTITION, image_partition_create_id,
                                           image_partition_disk_list};
const fs_volume_ops lvm_volume_ops = {FS_VOLUME_LVM, lvm_volume_create_id, lvm_volume_disk_list};

template <typename T>
void append(T *&first, T *item)
{
    T **at = &first;
    while (*at)
        at = &(*at)->next;
    *at = item;
}

// Appends volume v (already of its full type) to the chain starting at first.
template <typename T>
void append_volume(T *&first, T *item)
{
    fs_volume **at = reinterpret_cast<fs_volume **>(&first);
    while (*at)
        at = &(*at)->next;
    *at = &item->volume;
}

bool init_volume(fs_volume &v, const fs_volume_ops *ops, void *parent, const char *syspath,
                 const char *devnode, const char *fs_type)
{
    v.ops = ops;
    v.parent = parent;
    return dup_into(v.syspath, syspath) && dup_into(v.devnode, devnode) && dup_into(v.fs_type, fs_type);
}

} // namespace

bool dup_into(char *&dst, const char *s)
{
    dst = nullptr;
    if (!s)
        return true;
    dst = strdup(s);
    return dst != nullptr;
}

fs_disk *add_disk(fs_disk_list *list, const char *syspath, const char *devnode, const char *identity)
{
    auto *d = new (std::nothrow) fs_disk{};
    if (!d)
        return nullptr;
    d->owner = list;
    if (!dup_into(d->syspath, syspath) || !dup_into(d->devnode, devnode) || !dup_into(d->identity, identity)) {
        free_disk(d);
        return nullptr;
    }
    append(list->first_disk, d);
    return d;
}

fs_partition *add_partition(fs_disk *disk, const char *syspath, const char *devnode, unsigned number,
                            const char *fs_type, const char *uuid)
{
    auto *p = new (std::nothrow) fs_partition{};
    if (!p)
        return nullptr;
    p->number = number;
    if (!init_volume(p->volume, &partition_ops, disk, syspath, devnode, fs_type) || !dup_into(p->uuid, uuid)) {
        free_volume(&p->volume);
        return nullptr;
    }
    append_volume(disk->first_partition, p);
    return p;
}

fs_image_partition *add_image_partition(fs_image_disk *disk, const char *syspath, const char *devnode,
                                        unsigned number, const char *fs_type, const char *uuid)
{
    auto *p = new (std::nothrow) fs_image_partition{};
    if (!p)
        return nullptr;
    p->number = number;
    if (!init_volume(p->volume, &image_partition_ops, disk, syspath, devnode, fs_type)
        || !dup_into(p->uuid, uuid)) {
        free_volume(&p->volume);
        return nullptr;
    }
    append_volume(disk->first_partition, p);
    return p;
}

fs_lvm_group *add_lvm_group(fs_disk_list *list, const char *name)
{
    auto *g = new (std::nothrow) fs_lvm_group{};
    if (!g)
        return nullptr;
    g->owner = list;
    if (!dup_into(g->name, name)) {
        delete g;
        return nullptr;
    }
    append(list->first_lvm_group, g);
    return g;
}

fs_lvm_volume *add_lvm_volume(fs_lvm_group *group, const char *syspath, const char *devnode, const char *name,
                              const char *fs_type)
{
    auto *l = new (std::nothrow) fs_lvm_volume{};
    if (!l)
        return nullptr;
    if (!init_volume(l->volume, &lvm_volume_ops, group, syspath, devnode, fs_type) || !dup_into(l->name, name)) {
        free_volume(&l->volume);
        return nullptr;
    }
    append_volume(group->first_volume, l);
    return l;
}

void free_volume(fs_volume *v)
{
    if (!v)
        return;
    std::free(v->mount_dir);
    std::free(v->rw_mount_dir);
    std::free(v->devnode);
    std::free(v->fs_type);
    std::free(v->syspath);
    switch (v->ops->kind) {
    case FS_VOLUME_PARTITION: {
        auto *p = reinterpret_cast<fs_partition *>(v);
        std::free(p->uuid);
        delete p;
        break;
    }
    case FS_VOLUME_IMAGE_PARTITION: {
        auto *p = reinterpret_cast<fs_image_partition *>(v);
        std::free(p->uuid);
        delete p;
        break;
    }
    default: {
        auto *l = reinterpret_cast<fs_lvm_volume *>(v);
        std::free(l->name);
        delete l;
        break;
    }
    }
}

namespace {

template <typename T>
void free_volumes(T *first)
{
    fs_volume *v = first ? &first->volume : nullptr;
    while (v) {
        fs_volume *next = v->next;
        free_volume(v);
        v = next;
    }
}

} // namespace

void free_disk(fs_disk *d)
{
    if (!d)
        return;
    free_volumes(d->first_partition);
    std::free(d->syspath);
    std::free(d->devnode);
    std::free(d->identity);
    delete d;
}

void free_image_disk_records(fs_image_disk *d)
{
    if (!d)
        return;
    free_volumes(d->first_partition);
    std::free(d->syspath);
    std::free(d->devnode);
    std::free(d->name);
    std::free(d->image_path);
    delete d;
}

void free_lvm_group(fs_lvm_group *g)
{
    if (!g)
        return;
    free_volumes(g->first_volume);
    std::free(g->name);
    delete g;
}

void free_lvm_groups(fs_disk_list *list)
{
    while (fs_lvm_group *g = list->first_lvm_group) {
        list->first_lvm_group = g->next;
        free_lvm_group(g);
    }
}

} // namespace ic_fs

using namespace ic_fs;

namespace {

template <typename T>
T *next_volume(const T *v)
{
    return reinterpret_cast<T *>(v->volume.next);
}

} // namespace

fs_disk *fs_disk_list_first_disk(const fs_disk_list *list) { return list ? list->first_disk : nullptr; }
fs_disk *fs_disk_list_next_disk(const fs_disk *disk) { return disk ? disk->next : nullptr; }
fs_partition *fs_disk_first_partition(const fs_disk *disk) { return disk ? disk->first_partition : nullptr; }
fs_partition *fs_disk_next_partition(const fs_partition *p) { return p ? next_volume(p) : nullptr; }
fs_image_disk *fs_disk_list_first_image_disk(const fs_disk_list *list) { return list ? list->first_image_disk : nullptr; }
fs_image_disk *fs_disk_list_next_image_disk(const fs_image_disk *disk) { return disk ? disk->next : nullptr; }
fs_image_partition *fs_image_disk_first_partition(const fs_image_disk *disk) { return disk ? disk->first_partition : nullptr; }
fs_image_partition *fs_image_disk_next_partition(const fs_image_partition *p) { return p ? next_volume(p) : nullptr; }
fs_lvm_group *fs_disk_list_first_lvm_group(const fs_disk_list *list) { return list ? list->first_lvm_group : nullptr; }
fs_lvm_group *fs_disk_list_next_lvm_group(const fs_lvm_group *group) { return group ? group->next : nullptr; }
fs_lvm_volume *fs_lvm_group_first_volume(const fs_lvm_group *group) { return group ? group->first_volume : nullptr; }
fs_lvm_volume *fs_lvm_group_next_volume(const fs_lvm_volume *v) { return v ? next_volume(v) : nullptr; }

fs_partition *fs_disk_partition_by_number(const fs_disk *disk, unsigned number)
{
    for (fs_partition *p = fs_disk_first_partition(disk); p; p = fs_disk_next_partition(p))
        if (p->number == number)
            return p;
    return nullptr;
}

fs_image_partition *fs_image_disk_partition_by_number(const fs_image_disk *disk, unsigned number)
{
    for (fs_image_partition *p = fs_image_disk_first_partition(disk); p; p = fs_image_disk_next_partition(p))
        if (p->number == number)
            return p;
    return nullptr;
}

int fs_volume_kind(const fs_volume *volume)
{
    return volume ? volume->ops->kind : -1;
}

fs_disk_list *fs_volume_get_disk_list(const fs_volume *volume)
{
    return volume ? volume->ops->get_disk_list(volume) : nullptr;
}

void fs_disk_list_destroy(fs_disk_list *list)
{
    if (!list)
        return;
    // Image disks first: they hold a use of their hosting volumes.
    while (fs_image_disk *d = list->first_image_disk) {
        for (fs_image_partition *p = d->first_partition; p; p = fs_image_disk_next_partition(p))
            release_all(&p->volume);
        if (fs_disk_list_remove_image_disk(list, d) != FS_OK) {
            // The loop device stays bound; the record goes all the same.
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "cannot detach '%s' (%s)\n", d->name, d->devnode);
            list->first_image_disk = d->next;
            if (d->host)
                fs_volume_release_mount_point(d->host);
            free_image_disk_records(d);
        }
    }
    for (fs_lvm_group *g = list->first_lvm_group; g; g = g->next)
        for (fs_lvm_volume *v = g->first_volume; v; v = fs_lvm_group_next_volume(v))
            release_all(&v->volume);
    for (fs_disk *d = list->first_disk; d; d = d->next)
        for (fs_partition *p = d->first_partition; p; p = fs_disk_next_partition(p))
            release_all(&p->volume);
    free_lvm_groups(list);
    while (fs_disk *d = list->first_disk) {
        list->first_disk = d->next;
        free_disk(d);
    }
    std::free(list->base_dir);
    delete list;
}
