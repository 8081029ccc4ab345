/*
 * hw_internal.h - pieces shared by the units of the hardware core: lists,
 * trace macros, record allocation, the class records and their operations.
 */
#ifndef IC_HW_HW_INTERNAL_H
#define IC_HW_HW_INTERNAL_H

#include <ic/hw/hw_info.h>
#include <ic/util/log.h>

#include <stddef.h>
#include <stdint.h>

/* Traces of every operation on the hw channel. */
#define HW_ENTER() IC_LOG(ic_log_hw, IC_LOG_TRACE, "entering\n")
#define HW_RETURN(expr)                                           \
    do {                                                          \
        int hw_ret_ = (expr);                                     \
        if (hw_ret_ != HW_OK)                                     \
            IC_LOG(ic_log_hw, IC_LOG_ERROR, "ret = %d\n", hw_ret_); \
        IC_LOG(ic_log_hw, IC_LOG_TRACE, "returning\n");           \
        return hw_ret_;                                           \
    } while (0)
#define HW_RETURN_VOID()                                \
    do {                                                \
        IC_LOG(ic_log_hw, IC_LOG_TRACE, "returning\n"); \
        return;                                         \
    } while (0)

/* Lists. */
static inline void hw_list_init(hw_list *head)
{
    head->next = head->prev = head;
}

static inline bool hw_list_empty(const hw_list *head)
{
    return head->next == head;
}

static inline void hw_list_append(hw_list *head, hw_list *item)
{
    item->prev = head->prev;
    item->next = head;
    head->prev->next = item;
    head->prev = item;
}

static inline void hw_list_unlink(hw_list *item)
{
    item->prev->next = item->next;
    item->next->prev = item->prev;
    item->next = item->prev = item;
}

#define hw_container_of(ptr, type, member) \
    (reinterpret_cast<type *>(reinterpret_cast<char *>(ptr) - offsetof(type, member)))
#define hw_const_container_of(ptr, type, member) \
    (reinterpret_cast<const type *>(reinterpret_cast<const char *>(ptr) - offsetof(type, member)))

/* A string argument: the bytes and their length (-1 = up to the
 * terminator; a null pointer is the empty string). */
struct hw_str {
    const char *ptr;
    size_t len;
};
hw_str hw_str_of(const char *s, int len);

/* One zero-filled allocation of record_size bytes followed by a terminated
 * copy of each string; dst[i] points at the copy of strs[i].  Null when
 * memory is short (free() releases it). */
void *hw_alloc_record(size_t record_size, const hw_str *strs, char **dst, size_t n);

/* Device helpers. */
void _hw_device_base_init(hw_device *device, const hw_device_ops *ops, const char *name);
void _hw_device_add_param(hw_device *device, hw_param *param);
void _hw_device_remove_param(hw_device *device, hw_param *param);
void _hw_device_destroy_params(hw_device *device);
void _hw_device_destroy(hw_device *device);

/* Ends a constructor.  rc HW_OK: appends the n parameters in order and
 * hands the device out.  Otherwise destroys the parameters made so far (the
 * non-null ones) and the device, and returns rc. */
int hw_device_finish(hw_device *device, hw_param *const *params, size_t n, int rc,
                     hw_device **out);

/* Parameter records. */
struct hw_param_uint16_rec {
    hw_param base;
    uint16_t value;
};
struct hw_param_string_rec {
    hw_param base;
    const char *value;
};
struct hw_param_barray_rec {
    hw_param base;
    uint32_t size;
    const uint8_t *data;
};

/* uint16 parameter with a value text made by the caller. */
int _create_uint16_param_text(const char *name, const char *title, const char *text,
                              uint16_t value, hw_param **param);
int uint16_param_copy(const hw_param *param, hw_param **copy);
int string_param_copy(const hw_param *param, hw_param **copy);

/* The text argument of a string parameter shown as "n/a" when empty:
 * null (the value is its own text) or "n/a". */
const char *hw_na_text(hw_str value);

/* Class records. */
struct hw_cpu_device {
    hw_device base;
    uint32_t number;
};
struct hw_bios_device {
    hw_device base;
    uint32_t address;
    uint32_t size;
};
struct hw_memory_device {
    hw_device base; /* the name is the locator */
};
struct hw_media_device {
    hw_device base;
    uint32_t type;
    const char *path; /* udev device path */
};
struct hw_pci_device {
    hw_device base;
    uint16_t domain;
    uint8_t bus;
    uint8_t dev;
    uint8_t function;
    char name[13];
};
struct hw_usb_device {
    hw_device base; /* the name is the sysfs name */
};
struct hw_monitor_device {
    hw_device base;
    uint32_t port;
    const char *monitor_name;
};

/* Three-way comparison of two numbers. */
static inline int hw_cmp(uint64_t a, uint64_t b)
{
    return a < b ? -1 : a > b ? 1 : 0;
}

/* Appends a device that a reader built (rc its constructor's result);
 * destroys it when it cannot be added. */
int hw_append_read(hw_info *info, int rc, hw_device *device);

/* BIOS digests of an image of size bytes. */
static inline uint64_t hw_bios_hash_count(uint32_t size)
{
    return (uint64_t(size) + HW_BIOS_BLOCK - 1) / HW_BIOS_BLOCK;
}

/* Internal constructors with the flags byte of the byte image: bit 0 the
 * device's check flag, bit k that of the class's k-th parameter in the
 * image's order (CPU: speed, model; MEMORY: size; MEDIA: vendor, model,
 * revision, serial; PCI: vendor_id, device_id, class; USB: id_vendor,
 * id_product, serial; MONITOR: edid_hash).  The BIOS takes its flag bitmap
 * ((N + 11) / 8 bytes, or null for all clear). */
int _create_cpu_device(uint32_t number, const char *model, int model_len, uint16_t speed,
                       uint32_t flags, hw_device **device);
int _create_bios_device(uint32_t address, uint32_t size, const char *vendor, int vendor_len,
                        const char *version, int version_len, const char *date, int date_len,
                        const uint8_t *digests, const uint8_t *bitmap, hw_device **device);
int _create_memory_device(const char *locator, int locator_len, uint16_t size, uint32_t flags,
                          hw_device **device);
int _create_media_device(uint32_t media_type, const char *name, int name_len, const char *path,
                         int path_len, const char *vendor, int vendor_len, const char *model,
                         int model_len, const char *revision, int revision_len, const char *serial,
                         int serial_len, uint32_t flags, hw_device **device);
int _create_pci_device(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t function,
                       uint16_t vendor_id, uint16_t device_id, uint16_t class_code, uint32_t flags,
                       hw_device **device);
int _create_usb_device(const char *name, int name_len, uint16_t id_vendor, uint16_t id_product,
                       const char *serial, int serial_len, uint32_t flags, hw_device **device);
int _create_monitor_device(uint32_t port, const char *name, int name_len,
                           const uint8_t edid_hash[HW_HASH_SIZE], uint32_t flags,
                           hw_device **device);

/* Sets the device's check flag from image bit 0 and the check flag of each
 * parameter named in names[k - 1] from image bit k. */
void hw_apply_flags(hw_device *device, uint32_t flags, const char *const *names, size_t n);
/* The image flags of a device: bit 0 its check flag, bit k the check flag of
 * names[k - 1].  HW_ERR_INVAL when a parameter is missing. */
int hw_collect_flags(const hw_device *device, const char *const *names, size_t n, uint8_t *flags);

/* Per class: writer, reader (builds the device and appends it), identity,
 * copy. */
#define HW_CLASS_OPS(prefix)                                                   \
    int prefix##_device_write(const hw_device *device, wbuf *wb);              \
    int prefix##_device_read(hw_info *info, rbuf *rb);                         \
    int prefix##_device_compare(const hw_device *a, const hw_device *b);       \
    int prefix##_device_copy(const hw_device *device, hw_device **copy);

HW_CLASS_OPS(cpu)
HW_CLASS_OPS(bios)
HW_CLASS_OPS(memory)
HW_CLASS_OPS(media)
HW_CLASS_OPS(pci)
HW_CLASS_OPS(usb)
HW_CLASS_OPS(monitor)
#undef HW_CLASS_OPS

/* A copy operation for the classes that have none. */
int hw_device_no_copy(const hw_device *device, hw_device **copy);

#endif
