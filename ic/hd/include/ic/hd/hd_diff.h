/*
 * hd_diff.h - difference of two partition-table inventories (reference
 * first, current second).
 *
 * Disks are paired by name in order of appearance; partitions by start
 * sector, primaries among primaries and logical partitions among the logical
 * partitions of a paired extended partition.  The difference points into both
 * inventories and owns nothing of them: both must outlive it.  The control
 * flags are not looked at while it is built; hd_partition_diff_counts
 * decides from them which partition differences count.
 */
#ifndef IC_HD_HD_DIFF_H
#define IC_HD_HD_DIFF_H

#include <ic/hd/hd_info.h>

/* Status of a disk or partition difference. */
enum {
    HD_UNCHANGED = 0,
    HD_MODIFIED = 1,
    HD_NEW = 2,     /* only in the current inventory */
    HD_REMOVED = 3, /* only in the reference */
};

#define HD_DIFF_CHANGED 1u /* hd_diff flags: some disk difference is not unchanged */

/* hd_disk_diff flags */
#define HD_DISK_DIFF_MBR 1u
#define HD_DISK_DIFF_BOOT_AREA 2u

/* hd_partition_diff flags */
#define HD_PARTITION_DIFF_PBR 1u
#define HD_PARTITION_DIFF_BOOT_AREA 2u
#define HD_PARTITION_DIFF_BOOT_INDICATOR 4u
#define HD_PARTITION_DIFF_TYPE 8u

struct hd_partition_diff {
    uint32_t status;
    uint32_t flags;
    hd_partition_diff *parent; /* for logical partitions; null for primaries */
    hd_partition_diff *next;
    hd_partition_diff *first_child;
    hd_partition_diff *last_child;
    hd_partition *reference;   /* null for a new partition */
    hd_partition *current;     /* null for a removed partition */
};

struct hd_disk_diff {
    uint32_t status;
    uint32_t flags;
    hd_disk_diff *next;
    hd_partition_diff *first_partition;
    hd_partition_diff *last_partition;
    hd_disk *reference;        /* null for a new disk */
    hd_disk *current;          /* null for a removed disk */
};

struct hd_diff {
    uint32_t flags;
    hd_disk_diff *first_disk;
    hd_disk_diff *last_disk;
};

/* 0; 2 a null argument; 3 (nothing is left allocated).  Sets the matched
 * marker of the current inventory's disks. */
int hd_diff_create(hd_info *reference, hd_info *current, hd_diff **diff);
void hd_diff_destroy(hd_diff *diff);

hd_disk_diff *hd_diff_get_first_disk(const hd_diff *diff);
hd_disk_diff *hd_diff_get_next_disk(const hd_diff *diff, const hd_disk_diff *disk);
hd_partition_diff *hd_disk_diff_get_first_partition(const hd_disk_diff *disk);
hd_partition_diff *hd_disk_diff_get_next_partition(const hd_disk_diff *disk,
                                                   const hd_partition_diff *partition);
/* Whether the difference counts for the boot check.  A partition that was
 * not under control (HD_PARTITION_CONTROL clear in the reference) is not
 * compared: changes of its first sector and of the 62 after it do not
 * count.  A new or removed partition and a changed table entry (type, boot
 * indicator) always do. */
int hd_partition_diff_counts(const hd_partition_diff *partition);
/* Whether any partition difference of the disk, primary or logical,
 * counts. */
int hd_disk_diff_partitions_changed(const hd_disk_diff *disk);

/* Logical partition differences under a primary one. */
hd_partition_diff *hd_partition_diff_get_first_partition(const hd_partition_diff *partition);
hd_partition_diff *hd_partition_diff_get_next_partition(const hd_partition_diff *partition,
                                                        const hd_partition_diff *logical);

#endif
