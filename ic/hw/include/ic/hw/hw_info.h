/*
 * hw_info.h - hardware inventory: devices of seven classes, each with typed
 * parameters, and the inventory's byte image.
 *
 * An inventory holds one list of devices per class (insertion order), a
 * counter and a flag word per class.  A device carries its class's operation
 * table, its flags, its display name and its parameters; a parameter its
 * kind's operation table, its flags, internal name, title (shown to the
 * operator), value text and value.  Records are created and destroyed in
 * pairs: hw_info_destroy releases every device it holds, and a device
 * appended to an inventory belongs to it.
 *
 * Check flags (set by the administrator on the stored inventory):
 *   class flag bit 0      the class is checked
 *   device flags          HW_DEVICE_CHECKED (exactly 2) for a checked device;
 *                         bit 0 is the comparison's matched bit
 *   parameter flags bit 0 the parameter is checked
 *
 * Every operation returns an HW_* code; out-parameters are set only on
 * success.  Strings passed with a length of -1 are taken up to their
 * terminator.
 */
#ifndef IC_HW_HW_INFO_H
#define IC_HW_HW_INFO_H

#include <stddef.h>
#include <stdint.h>

struct wbuf;
struct rbuf;

/* Result codes of the hardware core. */
enum {
    HW_OK = 0,
    HW_ERR_IO = 1,            /* malformed or truncated image, unknown class, data source missing */
    HW_ERR_INVAL = 2,         /* invalid argument, value text too long */
    HW_ERR_NOMEM = 3,
    HW_ERR_NO_SMBIOS = 4,     /* no SMBIOS entry point */
    HW_ERR_BAD_SMBIOS = 5,    /* malformed SMBIOS/DMI entry point or table */
    HW_ERR_NOT_SUPPORTED = 6, /* the device or parameter kind cannot be copied */
    HW_ERR_NO_ATTR = 7,       /* a required sysfs attribute is missing */
};

/* Device classes; the code indexes the inventory's lists. */
enum {
    HW_CLASS_CPU = 0,
    HW_CLASS_BIOS = 1,
    HW_CLASS_MEMORY = 2,
    HW_CLASS_MEDIA = 3,
    HW_CLASS_PCI = 4,
    HW_CLASS_USB = 5,
    HW_CLASS_MONITOR = 6,
    HW_CLASS_COUNT = 7,
};

/* Media types. */
enum {
    HW_MEDIA_FLOPPY = 0,
    HW_MEDIA_FIXED = 1,
    HW_MEDIA_OPTICAL = 2,
};

/* Parameter kinds. */
enum {
    HW_PARAM_UINT16 = 2,
    HW_PARAM_STRING = 5,
    HW_PARAM_BARRAY = 6,
};

#define HW_CLASS_CHECKED 1u  /* class flag word */
#define HW_DEVICE_MATCHED 1u /* device flags: paired during a comparison */
#define HW_DEVICE_CHECKED 2u /* device flags: the device is checked */
#define HW_PARAM_CHECKED 1u  /* parameter flags */

#define HW_HASH_SIZE 32      /* GOST R 34.11-94 digest */
#define HW_BIOS_BLOCK 1024   /* bytes hashed per BIOS digest */
#define HW_EDID_SIZE 128

/* Doubly linked circular list; a head points at itself when empty. */
struct hw_list {
    hw_list *next;
    hw_list *prev;
};

struct hw_device;
struct hw_param;

struct hw_device_ops {
    uint32_t type; /* class code */
    int (*write)(const hw_device *device, wbuf *wb);
    int (*compare)(const hw_device *a, const hw_device *b);
    int (*copy)(const hw_device *device, hw_device **copy);
    void (*destroy)(hw_device *device);
};

/* Common part of every device; each class's record begins with it. */
struct hw_device {
    const hw_device_ops *ops;
    uint32_t flags;   /* HW_DEVICE_MATCHED, HW_DEVICE_CHECKED */
    const char *name; /* display name, inside the device's allocation */
    hw_list link;     /* in its class list */
    hw_list params;
};

struct hw_param_ops {
    uint32_t kind; /* HW_PARAM_* */
    int (*compare)(const hw_param *a, const hw_param *b);
    int (*copy)(const hw_param *param, hw_param **copy);
    void (*destroy)(hw_param *param);
};

/* Common part of every parameter; the value follows in the kind's record. */
struct hw_param {
    const hw_param_ops *ops;
    uint32_t flags;    /* HW_PARAM_CHECKED */
    hw_list link;      /* in its device's list */
    const char *name;  /* internal name ("vendor_id"); lookups compare it exactly */
    const char *title; /* shown to the operator ("Vendor") */
    const char *text;  /* value text shown to the operator */
};

/* The inventory.  Fields may be read; lists change only through the
 * functions below.  The class flag words belong to the caller. */
struct hw_info {
    hw_list devices[HW_CLASS_COUNT];
    uint32_t count[HW_CLASS_COUNT];
    uint32_t flags[HW_CLASS_COUNT]; /* bit 0: the class is checked */
};

/* "CPU", "BIOS", "MEMORY", "MEDIA", "PCI", "USB", "MONITOR"; null for an
 * unknown code. */
const char *hw_class_name(uint32_t type);

/* Inventory. */
int _hw_info_create(hw_info **info);
void hw_info_destroy(hw_info *info);
/* Appends the device to its class's list (the inventory takes it over). */
int _hw_info_add_device(hw_info *info, hw_device *device);
/* Unlinks the device (it is the caller's again). */
int _hw_info_remove_device(hw_info *info, hw_device *device);
hw_device *hw_info_get_first_device(const hw_info *info, uint32_t type);
hw_device *hw_info_get_next_device(const hw_info *info, const hw_device *device);

/* The current computer: an inventory filled by the scanners (pci, usb, dmi,
 * media, monitor in that order).  The first failing scanner's code. */
int hw_info_get_current(hw_info **info);

/* Byte image.  write_to_mem hands over a malloc'ed buffer (free()); the
 * readers leave the bytes with the caller. */
int hw_info_write_to_mem(const hw_info *info, uint8_t **data, uint32_t *size);
int hw_info_read_from_mem(const void *data, uint32_t size, hw_info **info);
int hw_info_read_from_rbuf(rbuf *rb, hw_info **info);

/* Device. */
uint32_t hw_device_type(const hw_device *device);
hw_param *hw_device_get_first_param(const hw_device *device);
hw_param *hw_device_get_next_param(const hw_device *device, const hw_param *param);
hw_param *hw_device_get_param_by_name(const hw_device *device, const char *name);
/* Identity comparison of two devices of one class: 0 when both describe
 * the same device. */
int hw_device_compare(const hw_device *a, const hw_device *b);
/* Copy from identity and parameter values, all flags clear (PCI and MEMORY
 * only; HW_ERR_NOT_SUPPORTED otherwise). */
int hw_device_copy(const hw_device *device, hw_device **copy);
/* Destroys a device that is in no inventory (the class's destroy). */
void hw_device_destroy(hw_device *device);

/* Check flags.  set_checked: the device and every parameter of it checked
 * (HW_DEVICE_CHECKED, HW_PARAM_CHECKED) or not (0).  check_all: every
 * class, device and parameter checked, as approving the whole computer
 * stores it. */
void hw_device_set_checked(hw_device *device, int checked);
int hw_info_check_all(hw_info *info);

/* Constructors: a device with its parameters in the class's order, all
 * flags clear. */
int create_cpu_device(uint32_t number, const char *model, int model_len, uint16_t speed,
                      hw_device **device);
/* digests: (size + 1023) / 1024 hashes of HW_HASH_SIZE bytes. */
int create_bios_device(uint32_t address, uint32_t size, const char *vendor, int vendor_len,
                       const char *version, int version_len, const char *date, int date_len,
                       const uint8_t *digests, hw_device **device);
int create_memory_device(const char *locator, int locator_len, uint16_t size, hw_device **device);
int create_media_device(uint32_t media_type, const char *name, int name_len, const char *path,
                        int path_len, const char *vendor, int vendor_len, const char *model,
                        int model_len, const char *revision, int revision_len, const char *serial,
                        int serial_len, hw_device **device);
/* device 0-31, function 0-7 (HW_ERR_INVAL otherwise). */
int create_pci_device(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t function,
                      uint16_t vendor_id, uint16_t device_id, uint16_t class_code,
                      hw_device **device);
int create_usb_device(const char *name, int name_len, uint16_t id_vendor, uint16_t id_product,
                      const char *serial, int serial_len, hw_device **device);
int create_monitor_device(uint32_t port, const char *name, int name_len,
                          const uint8_t edid_hash[HW_HASH_SIZE], hw_device **device);

/* Parameters. */
uint32_t hw_param_kind(const hw_param *param);
/* Value text = format printed with value; HW_ERR_INVAL when it would reach
 * 1024 characters. */
int create_uint16_param(const char *name, const char *title, const char *format, uint16_t value,
                        hw_param **param);
/* A null text makes the value its own text. */
int create_string_param(const char *name, const char *title, const char *value, int length,
                        const char *text, hw_param **param);
int create_barray_param(const char *name, const char *title, const uint8_t *bytes, uint32_t length,
                        hw_param **param);
/* Values; the accessor of another kind gives 0, null or 0. */
uint16_t hw_param_uint16(const hw_param *param);
const char *hw_param_string(const hw_param *param);
const uint8_t *hw_param_barray(const hw_param *param);
uint32_t hw_param_barray_size(const hw_param *param);
/* The kind's comparison: 0 when equal (parameters of different kinds are
 * never equal). */
int hw_param_compare(const hw_param *a, const hw_param *b);
int hw_param_copy(const hw_param *param, hw_param **copy);
void hw_param_destroy(hw_param *param);

#endif
