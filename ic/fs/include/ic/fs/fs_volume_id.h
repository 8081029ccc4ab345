/*
 * fs_volume_id.h - persistent identity of a volume.
 *
 *   kind 0 partition        disk identity (serial) and partition number
 *   kind 1 image partition  image name and partition number
 *   kind 2 LVM volume       group name and volume name
 *
 * Byte image (wbuf/rbuf): u16 kind, the first field as a u16-length string,
 * then the partition number as u16 (kinds 0 and 1) or the volume name as a
 * u16-length string (kind 2).
 */
#ifndef IC_FS_FS_VOLUME_ID_H
#define IC_FS_FS_VOLUME_ID_H

#include <stdint.h>

struct wbuf;
struct rbuf;
struct fs_disk_list;
struct fs_volume;
struct fs_volume_id;

/* Operations of an id kind, in this order. */
struct fs_volume_id_ops {
    int kind;
    int (*copy)(const fs_volume_id *id, fs_volume_id **copy);
    int (*compare)(const fs_volume_id *a, const fs_volume_id *b); /* b of the same kind */
    /* fs_disk_list_lookup_volume for ids of the kind */
    int (*find_volume)(const fs_volume_id *id, const fs_disk_list *list, fs_volume **volume);
    int (*write)(const fs_volume_id *id, wbuf *wb);
    void (*destroy)(fs_volume_id *id);
};

struct fs_volume_id {
    const fs_volume_id_ops *ops;
    char *first;     /* disk identity, image name or group name */
    uint16_t number; /* kinds 0 and 1 */
    char *second;    /* kind 2: volume name; null otherwise */
};

/* Strings are copied.  0; 2 null string; 3. */
int fs_partition_id_create(const char *disk_identity, unsigned number, fs_volume_id **id);
int fs_image_partition_id_create(const char *name, unsigned number, fs_volume_id **id);
int fs_lvm_volume_id_create(const char *group, const char *volume, fs_volume_id **id);

int fs_volume_id_kind(const fs_volume_id *id);
/* 0; 2; 3. */
int fs_volume_id_copy(const fs_volume_id *id, fs_volume_id **copy);
/* Orders by kind, then the first field byte-wise, then the number (kinds 0
 * and 1) or the volume name (kind 2): negative, 0 or positive. */
int fs_volume_id_compare(const fs_volume_id *a, const fs_volume_id *b);
void fs_volume_id_destroy(fs_volume_id *id);

/* The volume's id.  0; 2; 3. */
int fs_volume_create_id(const fs_volume *volume, fs_volume_id **id);

/* Byte image.  Writing: 0; 2 a string too long for its u16 length; 3.
 * Reading: 0; 1 truncated data or unknown kind (the cursor is then where
 * it was); 3. */
int _fs_write_volume_id_to_rbuf(const fs_volume_id *id, wbuf *wb);
int _fs_read_volume_id_from_rbuf(rbuf *rb, fs_volume_id **id);

#endif
