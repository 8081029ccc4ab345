// BIOS device: image address and size, vendor, version, date and one
// digest per KiB of the image.
#include "hw_internal.h"

#include <ic/util/rbuf.h>
#include <ic/util/wbuf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const hw_device_ops bios_ops = {HW_CLASS_BIOS, bios_device_write, bios_device_compare,
                                bios_device_copy, _hw_device_destroy};

const hw_bios_device *as_bios(const hw_device *d)
{
    return hw_const_container_of(d, hw_bios_device, base);
}

// Bitmap bits: 0 the device, 1-3 the strings, 4 + i the digest i.
const char *const string_names[] = {"vendor", "version", "date"};
const char *const string_titles[] = {"Vendor", "Version", "Date"};
constexpr uint64_t first_hash_bit = 4;

uint64_t bitmap_size(uint64_t hashes)
{
    return (hashes + 11) / 8;
}

bool bit(const uint8_t *bitmap, uint64_t k)
{
    return bitmap && ((bitmap[k / 8] >> (k % 8)) & 1u);
}

// The digest parameter i: the one after prev when it is named so (the
// usual order), else looked up by name.
const hw_param *find_hash(const hw_device *device, const hw_param *prev, uint64_t i)
{
    char name[32];
    std::snprintf(name, sizeof name, "hash%llu", static_cast<unsigned long long>(i));
    if (prev) {
        const hw_param *next = hw_device_get_next_param(device, prev);
        if (next && std::strcmp(next->name, name) == 0)
            return next;
    }
    return hw_device_get_param_by_name(device, name);
}

} // namespace

int _create_bios_device(uint32_t address, uint32_t size, const char *vendor, int vendor_len,
                        const char *version, int version_len, const char *date, int date_len,
                        const uint8_t *digests, const uint8_t *bitmap, hw_device **device)
{
    HW_ENTER();
    const uint64_t hashes = hw_bios_hash_count(size);
    if (!device || (hashes && !digests))
        HW_RETURN(HW_ERR_INVAL);
    const hw_str name = hw_str_of("System bios", -1);
    char *dst[1];
    auto *d = static_cast<hw_bios_device *>(hw_alloc_record(sizeof(hw_bios_device), &name, dst, 1));
    if (!d)
        HW_RETURN(HW_ERR_NOMEM);
    _hw_device_base_init(&d->base, &bios_ops, dst[0]);
    d->address = address;
    d->size = size;
    d->base.flags = bit(bitmap, 0) ? HW_DEVICE_CHECKED : 0;

    const hw_str strings[3] = {hw_str_of(vendor, vendor_len), hw_str_of(version, version_len),
                               hw_str_of(date, date_len)};
    int rc = HW_OK;
    for (uint64_t k = 0; rc == HW_OK && k < 3 + hashes; ++k) {
        hw_param *p = nullptr;
        if (k < 3) {
            rc = create_string_param(string_names[k], string_titles[k], strings[k].ptr,
                                     int(strings[k].len), nullptr, &p);
        } else {
            const uint64_t i = k - 3;
            char pname[32], title[48];
            std::snprintf(pname, sizeof pname, "hash%llu", static_cast<unsigned long long>(i));
            std::snprintf(title, sizeof title, "%04x (%02lluK)",
                          unsigned(address + uint32_t(i) * HW_BIOS_BLOCK),
                          static_cast<unsigned long long>(i));
            rc = create_barray_param(pname, title, digests + i * HW_HASH_SIZE, HW_HASH_SIZE, &p);
        }
        if (rc == HW_OK) {
            const uint64_t flag_bit = k < 3 ? k + 1 : first_hash_bit + (k - 3);
            p->flags = bit(bitmap, flag_bit) ? HW_PARAM_CHECKED : 0;
            _hw_device_add_param(&d->base, p);
        }
    }
    if (rc != HW_OK) {
        _hw_device_destroy(&d->base);
        HW_RETURN(rc);
    }
    *device = &d->base;
    HW_RETURN(HW_OK);
}

int create_bios_device(uint32_t address, uint32_t size, const char *vendor, int vendor_len,
                       const char *version, int version_len, const char *date, int date_len,
                       const uint8_t *digests, hw_device **device)
{
    return _create_bios_device(address, size, vendor, vendor_len, version, version_len, date,
                               date_len, digests, nullptr, device);
}

int bios_device_write(const hw_device *device, wbuf *wb)
{
    HW_ENTER();
    const hw_bios_device *d = as_bios(device);
    const uint64_t hashes = hw_bios_hash_count(d->size);
    uint8_t *bitmap = static_cast<uint8_t *>(std::calloc(bitmap_size(hashes), 1));
    if (!bitmap)
        HW_RETURN(HW_ERR_NOMEM);
    if (device->flags & HW_DEVICE_CHECKED)
        bitmap[0] |= 1u;

    int rc = wb_write_u32(wb, d->address);
    if (rc == HW_OK)
        rc = wb_write_u32(wb, d->size);
    for (unsigned k = 0; rc == HW_OK && k < 3; ++k) {
        const hw_param *p = hw_device_get_param_by_name(device, string_names[k]);
        const char *value = hw_param_string(p);
        if (!value)
            rc = HW_ERR_INVAL;
        else
            rc = wb_write_str(wb, value);
        if (rc == HW_OK && (p->flags & HW_PARAM_CHECKED))
            bitmap[0] |= uint8_t(1u << (k + 1));
    }
    const hw_param *prev = nullptr;
    for (uint64_t i = 0; rc == HW_OK && i < hashes; ++i) {
        const hw_param *p = find_hash(device, prev, i);
        if (!p || hw_param_barray_size(p) != HW_HASH_SIZE) {
            rc = HW_ERR_INVAL;
            break;
        }
        rc = wb_write(wb, hw_param_barray(p), HW_HASH_SIZE);
        if (p->flags & HW_PARAM_CHECKED) {
            const uint64_t k = first_hash_bit + i;
            bitmap[k / 8] |= uint8_t(1u << (k % 8));
        }
        prev = p;
    }
    if (rc == HW_OK)
        rc = wb_write(wb, bitmap, uint32_t(bitmap_size(hashes)));
    std::free(bitmap);
    HW_RETURN(rc);
}

int bios_device_read(hw_info *info, rbuf *rb)
{
    HW_ENTER();
    uint32_t address, size;
    const char *s[3];
    uint16_t len[3];
    int rc = rb_read_u32(rb, &address);
    if (rc == HW_OK)
        rc = rb_read_u32(rb, &size);
    for (unsigned k = 0; rc == HW_OK && k < 3; ++k)
        rc = rb_read_str(rb, &s[k], &len[k]);
    if (rc != HW_OK)
        HW_RETURN(rc);
    // The digests and the bitmap must be there before anything is built.
    const uint64_t hashes = hw_bios_hash_count(size);
    const uint64_t body = hashes * HW_HASH_SIZE + bitmap_size(hashes);
    if (body > rb_remaining(rb))
        HW_RETURN(HW_ERR_IO);
    const uint8_t *digests, *bitmap;
    rc = rb_get_ptr(rb, uint32_t(hashes * HW_HASH_SIZE), &digests);
    if (rc == HW_OK)
        rc = rb_get_ptr(rb, uint32_t(bitmap_size(hashes)), &bitmap);
    hw_device *d = nullptr;
    if (rc == HW_OK)
        rc = _create_bios_device(address, size, s[0], len[0], s[1], len[1], s[2], len[2], digests,
                                 bitmap, &d);
    HW_RETURN(hw_append_read(info, rc, d));
}

int bios_device_compare(const hw_device *a, const hw_device *b)
{
    int c = hw_cmp(as_bios(a)->address, as_bios(b)->address);
    return c ? c : hw_cmp(as_bios(a)->size, as_bios(b)->size);
}

int bios_device_copy(const hw_device *device, hw_device **copy)
{
    return hw_device_no_copy(device, copy);
}
