// Volume identities: the three kinds, their comparison and byte image.
#include "fs_internal.h"

#include "ic/util/rbuf.h"
#include "ic/util/wbuf.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

using namespace ic_fs;

int partition_id_copy(const fs_volume_id *id, fs_volume_id **copy);
int image_partition_id_copy(const fs_volume_id *id, fs_volume_id **copy);
int lvm_volume_id_copy(const fs_volume_id *id, fs_volume_id **copy);

// First field, then the number: kinds 0 and 1.
int numbered_id_compare(const fs_volume_id *a, const fs_volume_id *b)
{
    int c = std::strcmp(a->first, b->first);
    if (c != 0)
        return c;
    return int(a->number) - int(b->number);
}

int lvm_volume_id_compare(const fs_volume_id *a, const fs_volume_id *b)
{
    int c = std::strcmp(a->first, b->first);
    return c != 0 ? c : std::strcmp(a->second, b->second);
}

// The volume of the one holder (disk, image disk or group) whose name is
// the id's first field; `volume_of` finds it in that holder.
template <typename Holder, typename Next, typename Name, typename VolumeOf>
int find_in_holder(Holder *first, Next next, Name name, VolumeOf volume_of, const fs_volume_id *id,
                   fs_volume **volume)
{
    Holder *found = nullptr;
    for (Holder *h = first; h; h = next(h)) {
        const char *n = name(h);
        if (!n || std::strcmp(n, id->first) != 0)
            continue;
        // Two disks (or groups) of one name: which is meant cannot be told.
        if (found)
            return FS_ERR_AMBIGUOUS;
        found = h;
    }
    if (!found)
        return FS_ERR_NO_DISK;
    *volume = volume_of(found);
    return *volume ? FS_OK : FS_ERR_NOT_FOUND;
}

int partition_id_find_volume(const fs_volume_id *id, const fs_disk_list *list, fs_volume **volume)
{
    return find_in_holder(
        fs_disk_list_first_disk(list), fs_disk_list_next_disk, [](const fs_disk *d) { return d->identity; },
        [id](const fs_disk *d) -> fs_volume * {
            fs_partition *p = fs_disk_partition_by_number(d, id->number);
            return p ? &p->volume : nullptr;
        },
        id, volume);
}

int image_partition_id_find_volume(const fs_volume_id *id, const fs_disk_list *list, fs_volume **volume)
{
    return find_in_holder(
        fs_disk_list_first_image_disk(list), fs_disk_list_next_image_disk,
        [](const fs_image_disk *d) { return d->name; },
        [id](const fs_image_disk *d) -> fs_volume * {
            fs_image_partition *p = fs_image_disk_partition_by_number(d, id->number);
            return p ? &p->volume : nullptr;
        },
        id, volume);
}

int lvm_volume_id_find_volume(const fs_volume_id *id, const fs_disk_list *list, fs_volume **volume)
{
    return find_in_holder(
        fs_disk_list_first_lvm_group(list), fs_disk_list_next_lvm_group, [](const fs_lvm_group *g) { return g->name; },
        [id](const fs_lvm_group *g) -> fs_volume * {
            for (fs_lvm_volume *v = fs_lvm_group_first_volume(g); v; v = fs_lvm_group_next_volume(v))
                if (std::strcmp(v->name, id->second) == 0)
                    return &v->volume;
            return nullptr;
        },
        id, volume);
}

int numbered_id_write(const fs_volume_id *id, wbuf *wb)
{
    int rc = wb_write_u16(wb, uint16_t(id->ops->kind));
    if (rc == 0)
        rc = wb_write_str(wb, id->first);
    if (rc == 0)
        rc = wb_write_u16(wb, id->number);
    return rc;
}

int lvm_volume_id_write(const fs_volume_id *id, wbuf *wb)
{
    int rc = wb_write_u16(wb, uint16_t(id->ops->kind));
    if (rc == 0)
        rc = wb_write_str(wb, id->first);
    if (rc == 0)
        rc = wb_write_str(wb, id->second);
    return rc;
}

void id_destroy(fs_volume_id *id)
{
    if (!id)
        return;
    std::free(id->first);
    std::free(id->second);
    delete id;
}

const fs_volume_id_ops partition_id_ops = {
    FS_VOLUME_PARTITION, partition_id_copy, numbered_id_compare, partition_id_find_volume,
    numbered_id_write, id_destroy,
};
const fs_volume_id_ops image_partition_id_ops = {
    FS_VOLUME_IMAGE_PARTITION, image_partition_id_copy, numbered_id_compare, image_partition_id_find_volume,
    numbered_id_write, id_destroy,
};
const fs_volume_id_ops lvm_volume_id_ops = {
    FS_VOLUME_LVM, lvm_volume_id_copy, lvm_volume_id_compare, lvm_volume_id_find_volume,
    lvm_volume_id_write, id_destroy,
};

int make_id(const fs_volume_id_ops *ops, const char *first, unsigned number, const char *second,
            fs_volume_id **id)
{
    if (!first || !id || (ops == &lvm_volume_id_ops && !second) || number > 0xFFFF)
        return FS_ERR_PATH;
    auto *r = new (std::nothrow) fs_volume_id{ops, nullptr, uint16_t(number), nullptr};
    if (!r || !dup_into(r->first, first) || !dup_into(r->second, second)) {
        id_destroy(r);
        return FS_ERR_NOMEM;
    }
    *id = r;
    return FS_OK;
}

int partition_id_copy(const fs_volume_id *id, fs_volume_id **copy)
{
    return make_id(&partition_id_ops, id->first, id->number, nullptr, copy);
}

int image_partition_id_copy(const fs_volume_id *id, fs_volume_id **copy)
{
    return make_id(&image_partition_id_ops, id->first, id->number, nullptr, copy);
}

int lvm_volume_id_copy(const fs_volume_id *id, fs_volume_id **copy)
{
    return make_id(&lvm_volume_id_ops, id->first, 0, id->second, copy);
}

// A name: u16 length and bytes. One with a NUL byte cannot be held as a C
// string (it would be cut short and written back differently): malformed.
int read_name(rbuf *rb, char **name)
{
    const char *p;
    uint16_t len;
    int rc = rb_read_str(rb, &p, &len);
    if (rc != 0)
        return rc;
    if (std::memchr(p, 0, len))
        return FS_ERR_IO;
    *name = strndup(p, len);
    return *name ? FS_OK : FS_ERR_NOMEM;
}

// Readers by kind: the cursor stands after the kind.
int read_numbered(const fs_volume_id_ops *ops, rbuf *rb, fs_volume_id **id)
{
    char *first = nullptr;
    int rc = read_name(rb, &first);
    if (rc != 0)
        return rc;
    uint16_t number;
    rc = rb_read_u16(rb, &number);
    if (rc == 0)
        rc = make_id(ops, first, number, nullptr, id);
    std::free(first);
    return rc;
}

int read_partition_id(rbuf *rb, fs_volume_id **id)
{
    return read_numbered(&partition_id_ops, rb, id);
}

int read_image_partition_id(rbuf *rb, fs_volume_id **id)
{
    return read_numbered(&image_partition_id_ops, rb, id);
}

int read_lvm_volume_id(rbuf *rb, fs_volume_id **id)
{
    char *group = nullptr, *volume = nullptr;
    int rc = read_name(rb, &group);
    if (rc == 0)
        rc = read_name(rb, &volume);
    if (rc == 0)
        rc = make_id(&lvm_volume_id_ops, group, 0, volume, id);
    std::free(group);
    std::free(volume);
    return rc;
}

int (*const readers[])(rbuf *, fs_volume_id **) = {
    read_partition_id,
    read_image_partition_id,
    read_lvm_volume_id,
};

} // namespace

int fs_partition_id_create(const char *disk_identity, unsigned number, fs_volume_id **id)
{
    return make_id(&partition_id_ops, disk_identity, number, nullptr, id);
}

int fs_image_partition_id_create(const char *name, unsigned number, fs_volume_id **id)
{
    return make_id(&image_partition_id_ops, name, number, nullptr, id);
}

int fs_lvm_volume_id_create(const char *group, const char *volume, fs_volume_id **id)
{
    return make_id(&lvm_volume_id_ops, group, 0, volume, id);
}

int fs_volume_id_kind(const fs_volume_id *id)
{
    return id ? id->ops->kind : -1;
}

int fs_volume_id_copy(const fs_volume_id *id, fs_volume_id **copy)
{
    if (!id || !copy)
        return FS_ERR_PATH;
    return id->ops->copy(id, copy);
}

int fs_volume_id_compare(const fs_volume_id *a, const fs_volume_id *b)
{
    if (a->ops->kind != b->ops->kind)
        return a->ops->kind < b->ops->kind ? -1 : 1;
    int c = a->ops->compare(a, b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void fs_volume_id_destroy(fs_volume_id *id)
{
    if (id)
        id->ops->destroy(id);
}

int fs_volume_create_id(const fs_volume *volume, fs_volume_id **id)
{
    if (!volume || !id)
        return FS_ERR_PATH;
    return volume->ops->create_id(volume, id);
}

int _fs_write_volume_id_to_rbuf(const fs_volume_id *id, wbuf *wb)
{
    if (!id || !wb)
        return FS_ERR_PATH;
    // Nothing of a failed id stays in the buffer.
    const uint32_t start = wb->length;
    int rc = id->ops->write(id, wb);
    if (rc != 0)
        wb->length = start;
    return rc;
}

int _fs_read_volume_id_from_rbuf(rbuf *rb, fs_volume_id **id)
{
    if (!rb || !id)
        return FS_ERR_PATH;
    const uint32_t start = rb->pos;
    uint16_t kind;
    int rc = rb_read_u16(rb, &kind);
    if (rc == 0)
        rc = kind < sizeof readers / sizeof readers[0] ? readers[kind](rb, id) : FS_ERR_IO;
    if (rc != 0)
        rb->pos = start;
    return rc;
}

int fs_disk_list_lookup_volume(const fs_disk_list *list, const fs_volume_id *id, fs_volume **volume)
{
    if (!volume)
        return FS_ERR_PATH;
    *volume = nullptr;
    if (!list || !id)
        return FS_ERR_PATH;
    const int rc = id->ops->find_volume(id, list, volume);
    if (rc != FS_OK)
        *volume = nullptr;
    return rc;
}

fs_volume *fs_disk_list_find_volume(const fs_disk_list *list, const fs_volume_id *id)
{
    fs_volume *volume = nullptr;
    return fs_disk_list_lookup_volume(list, id, &volume) == FS_OK ? volume : nullptr;
}
