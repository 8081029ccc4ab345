// Difference of two inventories: disks paired by name in order, partitions
// walked as two sequences sorted by start sector.
#include "hd_internal.h"

#include <ic/hd/hd_diff.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void destroy_partition_diffs(hd_partition_diff *pd)
{
    while (pd) {
        hd_partition_diff *next = pd->next;
        destroy_partition_diffs(pd->first_child);
        std::free(pd);
        pd = next;
    }
}

// Where partition differences go: under a disk difference, or as children
// of a partition difference.
struct sink {
    hd_disk_diff *disk;
    hd_partition_diff *parent; // null: the disk's list
};

int add(const sink &s, uint32_t status, uint32_t flags, hd_partition *ref, hd_partition *cur,
        hd_partition_diff **out)
{
    auto *pd = static_cast<hd_partition_diff *>(std::calloc(1, sizeof(hd_partition_diff)));
    if (!pd)
        return IC_ERR_NOMEM;
    pd->status = status;
    pd->flags = flags;
    pd->reference = ref;
    pd->current = cur;
    pd->parent = s.parent;
    hd_partition_diff **first = s.parent ? &s.parent->first_child : &s.disk->first_partition;
    hd_partition_diff **last = s.parent ? &s.parent->last_child : &s.disk->last_partition;
    if (*last)
        (*last)->next = pd;
    else
        *first = pd;
    *last = pd;
    if (status != HD_UNCHANGED && s.disk->status == HD_UNCHANGED)
        s.disk->status = HD_MODIFIED;
    if (out)
        *out = pd;
    return IC_OK;
}

// A new or removed partition with its logical partitions as children of the
// same status.
int add_whole(const sink &s, uint32_t status, hd_partition *p)
{
    const bool removed = status == HD_REMOVED;
    hd_partition_diff *pd = nullptr;
    int rc = add(s, status, 0, removed ? p : nullptr, removed ? nullptr : p, &pd);
    for (hd_partition *l = p->first_logical; rc == IC_OK && l; l = l->next)
        rc = add({s.disk, pd}, status, 0, removed ? l : nullptr, removed ? nullptr : l, nullptr);
    return rc;
}

uint32_t compare(const hd_partition *a, const hd_partition *b)
{
    uint32_t flags = 0;
    if (std::memcmp(a->pbr_hash, b->pbr_hash, HD_HASH_SIZE) != 0)
        flags |= HD_PARTITION_DIFF_PBR;
    if (std::memcmp(a->boot_hash, b->boot_hash, HD_HASH_SIZE) != 0)
        flags |= HD_PARTITION_DIFF_BOOT_AREA;
    if (a->boot_indicator != b->boot_indicator)
        flags |= HD_PARTITION_DIFF_BOOT_INDICATOR;
    if (a->type != b->type)
        flags |= HD_PARTITION_DIFF_TYPE;
    return flags;
}

int diff_lists(const sink &s, const std::vector<hd_partition *> &ref, const std::vector<hd_partition *> &cur,
               bool primary);

int diff_logicals(const sink &s, hd_partition *ref, hd_partition *cur)
{
    std::vector<hd_partition *> a, b;
    for (hd_partition *l = ref->first_logical; l; l = l->next)
        a.push_back(l);
    for (hd_partition *l = cur->first_logical; l; l = l->next)
        b.push_back(l);
    return diff_lists(s, a, b, false);
}

// Both sequences in their order, keyed by start sector: a partition with
// equal start and count is compared, anything else is removed or new.
// Logical partitions of a compared primary pair are walked the same way.
int diff_lists(const sink &s, const std::vector<hd_partition *> &ref, const std::vector<hd_partition *> &cur,
               bool primary)
{
    auto whole = [&s, primary](uint32_t status, hd_partition *p) {
        return primary ? add_whole(s, status, p) : add(s, status, 0, status == HD_REMOVED ? p : nullptr,
                                                       status == HD_REMOVED ? nullptr : p, nullptr);
    };
    size_t i = 0, j = 0;
    int rc = IC_OK;
    while (rc == IC_OK && (i < ref.size() || j < cur.size())) {
        if (j == cur.size() || (i < ref.size() && ref[i]->start < cur[j]->start)) {
            rc = whole(HD_REMOVED, ref[i++]);
        } else if (i == ref.size() || cur[j]->start < ref[i]->start) {
            rc = whole(HD_NEW, cur[j++]);
        } else if (ref[i]->count != cur[j]->count) {
            rc = whole(HD_REMOVED, ref[i++]);
            if (rc == IC_OK)
                rc = whole(HD_NEW, cur[j++]);
        } else {
            const uint32_t flags = compare(ref[i], cur[j]);
            hd_partition_diff *pd = nullptr;
            rc = add(s, flags ? HD_MODIFIED : HD_UNCHANGED, flags, ref[i], cur[j], &pd);
            if (rc == IC_OK && primary)
                rc = diff_logicals({s.disk, pd}, ref[i], cur[j]);
            ++i, ++j;
        }
    }
    return rc;
}

int diff_disk(hd_disk_diff *dd)
{
    std::vector<hd_partition *> ref, cur;
    if (dd->reference)
        for (hd_partition *p = hd_info_get_first_partition(dd->reference); p;
             p = hd_info_get_next_partition(dd->reference, p))
            ref.push_back(p);
    if (dd->current)
        for (hd_partition *p = hd_info_get_first_partition(dd->current); p;
             p = hd_info_get_next_partition(dd->current, p))
            cur.push_back(p);
    if (dd->reference && dd->current) {
        if (std::memcmp(dd->reference->mbr_hash, dd->current->mbr_hash, HD_HASH_SIZE) != 0)
            dd->flags |= HD_DISK_DIFF_MBR;
        if (std::memcmp(dd->reference->boot_hash, dd->current->boot_hash, HD_HASH_SIZE) != 0)
            dd->flags |= HD_DISK_DIFF_BOOT_AREA;
        if (dd->flags)
            dd->status = HD_MODIFIED;
    }
    return diff_lists({dd, nullptr}, ref, cur, true);
}

int add_disk(hd_diff *diff, uint32_t status, hd_disk *ref, hd_disk *cur)
{
    auto *dd = static_cast<hd_disk_diff *>(std::calloc(1, sizeof(hd_disk_diff)));
    if (!dd)
        return IC_ERR_NOMEM;
    dd->status = status;
    dd->reference = ref;
    dd->current = cur;
    if (diff->last_disk)
        diff->last_disk->next = dd;
    else
        diff->first_disk = dd;
    diff->last_disk = dd;
    try {
        return diff_disk(dd);
    } catch (const std::bad_alloc &) {
        return IC_ERR_NOMEM;
    }
}

int build(hd_diff *diff, hd_info *reference, hd_info *current)
{
    for (hd_disk *d = current->first_disk; d; d = d->next)
        d->matched &= ~HD_DISK_MATCHED;
    int rc = IC_OK;
    for (hd_disk *r = reference->first_disk; rc == IC_OK && r; r = r->next) {
        hd_disk *partner = nullptr;
        for (hd_disk *c = current->first_disk; c && !partner; c = c->next)
            if (!(c->matched & HD_DISK_MATCHED) && std::strcmp(r->name, c->name) == 0)
                partner = c;
        if (partner)
            partner->matched |= HD_DISK_MATCHED;
        rc = add_disk(diff, partner ? HD_UNCHANGED : HD_REMOVED, r, partner);
    }
    for (hd_disk *c = current->first_disk; rc == IC_OK && c; c = c->next)
        if (!(c->matched & HD_DISK_MATCHED))
            rc = add_disk(diff, HD_NEW, nullptr, c);
    for (hd_disk_diff *dd = diff->first_disk; dd; dd = dd->next)
        if (dd->status != HD_UNCHANGED)
            diff->flags |= HD_DIFF_CHANGED;
    return rc;
}

} // namespace

int hd_diff_create(hd_info *reference, hd_info *current, hd_diff **diff)
{
    HD_ENTER();
    if (!reference || !current || !diff)
        HD_RETURN(IC_ERR_INVAL);
    auto *d = static_cast<hd_diff *>(std::calloc(1, sizeof(hd_diff)));
    if (!d)
        HD_RETURN(IC_ERR_NOMEM);
    const int rc = build(d, reference, current);
    if (rc != IC_OK) {
        hd_diff_destroy(d);
        HD_RETURN(rc);
    }
    *diff = d;
    HD_RETURN(IC_OK);
}

void hd_diff_destroy(hd_diff *diff)
{
    if (!diff)
        return;
    for (hd_disk_diff *dd = diff->first_disk; dd;) {
        hd_disk_diff *next = dd->next;
        destroy_partition_diffs(dd->first_partition);
        std::free(dd);
        dd = next;
    }
    std::free(diff);
}

hd_disk_diff *hd_diff_get_first_disk(const hd_diff *diff)
{
    return diff ? diff->first_disk : nullptr;
}

hd_disk_diff *hd_diff_get_next_disk(const hd_diff *diff, const hd_disk_diff *disk)
{
    return diff && disk ? disk->next : nullptr;
}

hd_partition_diff *hd_disk_diff_get_first_partition(const hd_disk_diff *disk)
{
    return disk ? disk->first_partition : nullptr;
}

hd_partition_diff *hd_disk_diff_get_next_partition(const hd_disk_diff *disk, const hd_partition_diff *partition)
{
    return disk && partition ? partition->next : nullptr;
}

hd_partition_diff *hd_partition_diff_get_first_partition(const hd_partition_diff *partition)
{
    return partition ? partition->first_child : nullptr;
}

hd_partition_diff *hd_partition_diff_get_next_partition(const hd_partition_diff *partition,
                                                        const hd_partition_diff *logical)
{
    return partition && logical ? logical->next : nullptr;
}
