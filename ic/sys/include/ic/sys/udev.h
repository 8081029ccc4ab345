/* Device properties: udev devices, their properties and sysfs attributes.
 *
 * Two backends behind one interface, chosen when the context is created: on
 * the real system libudev; under a system root (ORVA_SYSROOT) udev's own
 * database files <root>/run/udev/data/b<major>:<minor> ("E:KEY=VALUE",
 * "N:node", "S:link") together with the sysfs tree of the root. Callers
 * cannot tell which one they have.
 *
 * System paths handed in and out are those of the running system
 * ("/sys/devices/...", "/dev/sda"), also under a root. Strings returned by a
 * device stay valid until the device is destroyed. A device must be destroyed
 * before its context.
 */
#ifndef IC_SYS_UDEV_H
#define IC_SYS_UDEV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ic_sys_udev ic_sys_udev;
typedef struct ic_sys_udev_device ic_sys_udev_device;
typedef struct ic_sys_udev_list ic_sys_udev_list;

/* 0; 1 the device manager cannot be opened; 3. */
int ic_sys_udev_create(ic_sys_udev **udev);
void ic_sys_udev_destroy(ic_sys_udev *udev);

/* Waits until udev has no queued events, polling every 50 ms, for at most
 * timeout_ms milliseconds. Under a system root it is settled at once.
 * 0; 8 still busy at the time-out; 1 the queue cannot be read. */
int ic_sys_udev_settle(ic_sys_udev *udev, unsigned timeout_ms);

/* Device by sysfs path (links such as /sys/block/sda are resolved) or by
 * type ('b' block, 'c' character) and device number.
 * 0; 2 bad argument; 4 no such device; 1 other failure; 3. */
int ic_sys_udev_device_from_syspath(ic_sys_udev *udev, const char *syspath,
                                    ic_sys_udev_device **device);
int ic_sys_udev_device_from_devnum(ic_sys_udev *udev, char type, unsigned major,
                                   unsigned minor, ic_sys_udev_device **device);
void ic_sys_udev_device_destroy(ic_sys_udev_device *device);

const char *ic_sys_udev_device_syspath(const ic_sys_udev_device *device);   /* "/sys/devices/.../sda" */
const char *ic_sys_udev_device_devpath(const ic_sys_udev_device *device);   /* "/devices/.../sda" */
const char *ic_sys_udev_device_sysname(const ic_sys_udev_device *device);   /* "sda1" */
const char *ic_sys_udev_device_sysnum(const ic_sys_udev_device *device);    /* "1", NULL without digits */
const char *ic_sys_udev_device_subsystem(const ic_sys_udev_device *device); /* "block", or NULL */
const char *ic_sys_udev_device_devtype(const ic_sys_udev_device *device);   /* "disk", "partition", or NULL */
const char *ic_sys_udev_device_devnode(const ic_sys_udev_device *device);   /* "/dev/sda1", or NULL */
/* 0, or 4 when the device has no device number. */
int ic_sys_udev_device_devnum(const ic_sys_udev_device *device, unsigned *major, unsigned *minor);

/* Property value, NULL when absent. */
const char *ic_sys_udev_device_property(ic_sys_udev_device *device, const char *key);
/* Properties in key order: count, and the i-th pair (0, or 2 out of range). */
size_t ic_sys_udev_device_property_count(ic_sys_udev_device *device);
int ic_sys_udev_device_property_at(ic_sys_udev_device *device, size_t index,
                                   const char **key, const char **value);

/* Sysfs attribute of the device (a file below its sysfs directory, such as
 * "removable", "size" or "dm/name") without trailing newlines; the links
 * "driver", "subsystem" and "module" give the last component of their
 * target. NULL when absent or unreadable. */
const char *ic_sys_udev_device_sysattr(ic_sys_udev_device *device, const char *name);

/* Sysfs paths of all block devices (disks and partitions), sorted by path.
 * 0; 1; 3. */
int ic_sys_udev_enum_block(ic_sys_udev *udev, ic_sys_udev_list **list);
size_t ic_sys_udev_list_count(const ic_sys_udev_list *list);
const char *ic_sys_udev_list_syspath(const ic_sys_udev_list *list, size_t index);
void ic_sys_udev_list_destroy(ic_sys_udev_list *list);

#ifdef __cplusplus
}
#endif

#endif
