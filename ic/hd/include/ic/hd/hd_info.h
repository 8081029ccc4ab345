/*
 * hd_info.h - partition-table inventory: for every fixed disk the digests of
 * its master boot record and of the 62 boot-loader sectors after it, and its
 * partitions (the four primary slots of the MBR; under an extended partition
 * the logical partitions of its chain of extended boot records), each with
 * the digests of its first sector and of the 62 sectors after it.
 *
 * Digests are GOST R 34.11-94 (CryptoPro parameters) over the bytes of those
 * sectors that lie on the disk; sectors are 512 bytes.  Records are created
 * and destroyed in pairs: hd_info_destroy releases the disks, partitions and
 * names it holds.  Every operation returns an IC_* code (ic/util/result.h);
 * out-parameters are set only on success.
 */
#ifndef IC_HD_HD_INFO_H
#define IC_HD_HD_INFO_H

#include <stddef.h>
#include <stdint.h>

#define HD_SECTOR_SIZE 512
#define HD_BOOT_SECTORS 62 /* sectors hashed after the MBR and after each first sector */
#define HD_HASH_SIZE 32
#define HD_PRIMARY_SLOTS 4

/* Extended boot records walked per extended partition at most, and logical
 * partitions per extended partition that the byte image can count. */
#define HD_MAX_CHAIN_RECORDS 1024
#define HD_MAX_LOGICAL 65535

/* hd_info flags */
#define HD_INFO_CONTROL 1u /* disk integrity control is switched on */

/* hd_disk flags */
#define HD_DISK_CONTROL 1u    /* the disk is under control */
#define HD_DISK_MBR 2u        /* report changes of the MBR */
#define HD_DISK_BOOT_AREA 4u  /* report changes of sectors 1-62 */
#define HD_DISK_STRUCTURE 8u  /* report changes of the partition structure */
#define HD_DISK_PAGE_FLAGS 13u /* what the Disks page sets and clears together */
#define HD_DISK_MATCHED 1u    /* hd_disk.matched: paired while a diff is built */

/* hd_partition flags */
#define HD_PARTITION_CONTROL 1u

struct hd_partition {
    hd_partition *parent;       /* the extended partition of a logical one; null for primaries */
    hd_partition *next;         /* next logical partition of the same parent */
    hd_partition *first_logical;
    hd_partition *last_logical;
    uint32_t logical_count;
    uint32_t index;             /* slot 0-3, or running number along the chain */
    uint8_t flags;
    uint8_t pbr_hash[HD_HASH_SIZE];
    uint8_t boot_hash[HD_HASH_SIZE];
    uint8_t boot_indicator;     /* table entry byte 0 */
    uint8_t type;               /* table entry byte 4 */
    uint32_t start;             /* absolute LBA, also for logical partitions */
    uint32_t count;             /* sectors */
};

struct hd_disk {
    hd_disk *next;
    uint32_t matched;
    uint8_t flags;
    char *name;                 /* ID_SERIAL_SHORT, else ID_SERIAL: the disk's identity */
    uint8_t mbr_hash[HD_HASH_SIZE];
    uint8_t boot_hash[HD_HASH_SIZE];
    hd_partition *primary[HD_PRIMARY_SLOTS];
};

struct hd_info {
    hd_disk *first_disk;        /* discovery order */
    hd_disk *last_disk;
    uint32_t disk_count;
    uint8_t flags;
};

/* The fixed disks of this computer (through ORVA_SYSROOT when set): 0;
 * 1 a disk cannot be listed or read, or has no device node or no
 * serial (ID_SERIAL_SHORT, else ID_SERIAL); 3. */
int hd_info_get_current(hd_info **info);

/* One disk read from an open descriptor (a device node or an image file),
 * named name.  0; 1 read failure; 2; 3. */
int hd_disk_read_fd(int fd, const char *name, hd_disk **disk);

/* An empty inventory; a disk that is in no inventory. */
int hd_info_create(hd_info **info);
void hd_info_destroy(hd_info *info);
void hd_disk_destroy(hd_disk *disk);
/* Appends the disk (the inventory takes it over). */
int hd_info_add_disk(hd_info *info, hd_disk *disk);

/* Byte image.  write_to_mem hands over a malloc'ed buffer (free()); the
 * reader leaves the bytes with the caller.  Writing gives 2 for a count or
 * name that does not fit its 16-bit field; reading gives 1 for a truncated
 * or malformed image (unknown slot bits, bytes after the flags). */
int hd_info_write_to_mem(const hd_info *info, uint8_t **data, uint32_t *size);
int hd_info_read_from_mem(const void *data, uint32_t size, hd_info **info);

/* Disk control switched on, every disk under control with the changes the
 * Disks page reports (HD_DISK_PAGE_FLAGS; the MBR bit as it is) and every
 * partition under control, as approving all disks stores it.  0; 2. */
int hd_info_check_all(hd_info *info);

/* Iteration; null at the end. */
hd_disk *hd_info_get_first_disk(const hd_info *info);
hd_disk *hd_info_get_next_disk(const hd_info *info, const hd_disk *disk);
hd_partition *hd_info_get_first_partition(const hd_disk *disk);
hd_partition *hd_info_get_next_partition(const hd_disk *disk, const hd_partition *partition);
hd_partition *hd_info_get_first_logical_partition(const hd_partition *partition);
hd_partition *hd_info_get_next_logical_partition(const hd_partition *partition,
                                                 const hd_partition *logical);

/* Label of a partition type ("NTFS", "LINUX", ...); "UNKNOWN" for a value
 * without one. */
const char *hd_partition_type_name(unsigned type);

/* Whether the type is an extended one (0x05, 0x0F, 0x85). */
int hd_partition_type_is_extended(unsigned type);

#endif
