// Check flags: of a whole inventory, and which differences they let count.
#include "hd_internal.h"

#include <ic/hd/hd_diff.h>

namespace {

void check_partition(hd_partition *partition)
{
    partition->flags |= HD_PARTITION_CONTROL;
    for (hd_partition *l = partition->first_logical; l; l = l->next)
        check_partition(l);
}

} // namespace

int hd_info_check_all(hd_info *info)
{
    if (!info)
        return IC_ERR_INVAL;
    info->flags |= HD_INFO_CONTROL;
    for (hd_disk *disk = info->first_disk; disk; disk = disk->next) {
        // The MBR bit stays as it is, as on the Disks page.
        disk->flags |= HD_DISK_PAGE_FLAGS;
        for (hd_partition *p : disk->primary)
            if (p)
                check_partition(p);
    }
    return IC_OK;
}

int hd_partition_diff_counts(const hd_partition_diff *partition)
{
    if (!partition || partition->status == HD_UNCHANGED)
        return 0;
    if (partition->status != HD_MODIFIED ||
        (partition->flags & (HD_PARTITION_DIFF_BOOT_INDICATOR | HD_PARTITION_DIFF_TYPE)))
        return 1;
    return partition->reference && (partition->reference->flags & HD_PARTITION_CONTROL);
}

int hd_disk_diff_partitions_changed(const hd_disk_diff *disk)
{
    for (const hd_partition_diff *p = hd_disk_diff_get_first_partition(disk); p;
         p = hd_disk_diff_get_next_partition(disk, p)) {
        if (hd_partition_diff_counts(p))
            return 1;
        for (const hd_partition_diff *l = hd_partition_diff_get_first_partition(p); l;
             l = hd_partition_diff_get_next_partition(p, l)) {
            if (hd_partition_diff_counts(l))
                return 1;
        }
    }
    return 0;
}
