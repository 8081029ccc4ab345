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

/* What the system's own tools (lsblk) show as a disk's vendor, model,
 * firmware revision and serial number. udev turns the blanks of ID_VENDOR and
 * ID_MODEL into '_' and keeps the text in ID_VENDOR_ENC and ID_MODEL_ENC with
 * \xHH escapes: those are decoded (printable characters only; other escapes
 * stay as they are) and trimmed. Where udev gives no vendor or model (an ATA
 * disk has no ID_VENDOR) the device's SCSI attributes "device/vendor" and
 * "device/model" are used, trimmed; where it gives no ID_REVISION,
 * "device/rev". The serial is ID_SERIAL_SHORT, else ID_SERIAL (a virtio disk
 * has only that). A field nothing gives is "". The strings stay valid until
 * the device is destroyed. 0; 2; 3. */
typedef struct ic_sys_block_identity {
    const char *vendor;
    const char *model;
    const char *revision;
    const char *serial;
} ic_sys_block_identity;

int ic_sys_block_identity_get(ic_sys_udev_device *device, ic_sys_block_identity *identity);

#ifdef __cplusplus
}
#endif

#endif
