// Check flags of a whole inventory.
#include "hd_internal.h"

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
