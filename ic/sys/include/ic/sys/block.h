/* Whole block devices of the computer and what kind of medium each one is,
 * for the scanners that inventory disks (hardware media, partition tables).
 */
#ifndef IC_SYS_BLOCK_H
#define IC_SYS_BLOCK_H

#include "ic/sys/sysroot.h"
#include "ic/sys/udev.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Media kinds of a whole block device. */
enum {
    IC_SYS_MEDIA_FLOPPY = 0,   /* major 2 */
    IC_SYS_MEDIA_FIXED = 1,    /* a disk that stays in the computer */
    IC_SYS_MEDIA_OPTICAL = 2,  /* udev ID_CDROM=1 */
    IC_SYS_MEDIA_REMOVABLE = 3 /* sysfs attribute "removable" is "1" */
};

/* The entries of /sys/block in name order as sysfs paths ("/sys/block/sda"),
 * without the virtual devices (loop, RAM, device-mapper: their resolved path
 * runs through "/virtual/") and without entries whose link cannot be
 * resolved. 0; 1 the directory cannot be read; 3. */
int ic_sys_block_disks(ic_sys_udev_list **list);

/* Kind of a whole block device: floppy by its major number, optical by
 * ID_CDROM, then removable by its attribute, else fixed. */
int ic_sys_block_media(ic_sys_udev_device *device);

#ifdef __cplusplus
}
#endif

#endif
