/*
 * fs_medium.h - mounting an exchange medium (a FAT or ext file system on a
 * removable disk) outside any disk list.
 *
 * The medium is mounted with mount(2), no shell, as volumes are: read-only
 * unless writable is set, always without device files, set-id bits,
 * execution or access-time updates.  Device and mount directory are system
 * paths (ic_sys, so a simulated computer works).
 */
#ifndef IC_FS_FS_MEDIUM_H
#define IC_FS_FS_MEDIUM_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 for the file systems an exchange medium or directory may have (vfat,
 * ext2, ext3, ext4: the ones mounted read-write), else 0 (also for null). */
int fs_exchange_type(const char *type);

/* Mounts the file system on devnode at dir (made when missing).  Only
 * exchange types are mounted.  0; 1 mount failed or another file
 * system; 2 invalid argument; 4 no such device. */
int fs_medium_mount(const char *devnode, const char *dir, int writable);

/* Unmounts dir (after flushing).  0; 1; 2. */
int fs_medium_unmount(const char *dir);

#ifdef __cplusplus
}
#endif

#endif
