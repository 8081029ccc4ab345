/*
 * hd_internal.h - pieces shared by the units of the partition-table core:
 * trace macros and partition records.
 */
#ifndef IC_HD_HD_INTERNAL_H
#define IC_HD_HD_INTERNAL_H

#include <ic/hd/hd_info.h>
#include <ic/util/log.h>
#include <ic/util/result.h>

/* Disks are the file-system channel's subject. */
#define HD_ENTER() IC_LOG(ic_log_fs, IC_LOG_TRACE, "entering\n")
#define HD_RETURN(expr)                                             \
    do {                                                            \
        int hd_ret_ = (expr);                                       \
        if (hd_ret_ != IC_OK)                                       \
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "ret = %d\n", hd_ret_); \
        IC_LOG(ic_log_fs, IC_LOG_TRACE, "returning\n");             \
        return hd_ret_;                                             \
    } while (0)

/* A zero-filled partition, or null. */
hd_partition *hd_partition_alloc(void);
/* Frees the partition and its logical partitions. */
void hd_partition_destroy(hd_partition *partition);
/* Appends logical under extended, as its last logical partition. */
void hd_partition_add_logical(hd_partition *extended, hd_partition *logical);

/* A disk with a copy of name (len bytes), everything else zero; null when
 * memory is short. */
hd_disk *hd_disk_alloc(const char *name, size_t len);

#endif
