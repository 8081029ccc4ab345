// Stored data: integrity-data and auxiliary areas, the hand-over block, the
// workstation key and the random generator.
#include "orva_internal.h"

#include <cerrno>
#include <cstring>
#include <sys/random.h>

using namespace orva_sim;

namespace {

// Loads a fixed-size area file; its size must be `size`.
int load_area(orva_device &device, const FileKind &kind, size_t size, Bytes &area)
{
    int rc = to_code_required(load(device.dir, kind, area));
    if (rc == ORVA_OK && area.size() != size)
        return ORVA_E_CORRUPT;
    return rc;
}

bool in_range(uint32_t offset, uint32_t length, size_t size)
{
    return static_cast<uint64_t>(offset) + length <= size;
}

// Checks a part of an area (data null only with length 0, the range inside
// the area), loads the area and runs body(device, area).
template <typename F>
int with_area(orva_handle_t handle, const FileKind &kind, const void *data, uint32_t offset,
              uint32_t length, size_t (*size_of)(const orva_device &), F &&body)
{
    return with_device(handle, [&](orva_device &device) {
        if (data == nullptr && length != 0)
            return ORVA_E_INVALID_ARG;
        size_t size = size_of(device);
        if (!in_range(offset, length, size))
            return ORVA_E_RANGE;
        Bytes area;
        int rc = load_area(device, kind, size, area);
        return rc != ORVA_OK || length == 0 ? rc : body(device, area);
    });
}

int save_area(orva_handle_t handle, const FileKind &kind, const void *data, uint32_t offset,
              uint32_t length, size_t (*size_of)(const orva_device &))
{
    return with_area(handle, kind, data, offset, length, size_of, [&](orva_device &device, Bytes &area) {
        std::memcpy(area.data() + offset, data, length);
        return to_code(store(device.dir, kind, area));
    });
}

int load_part(orva_handle_t handle, const FileKind &kind, void *data, uint32_t offset,
              uint32_t length, size_t (*size_of)(const orva_device &))
{
    return with_area(handle, kind, data, offset, length, size_of, [&](orva_device &, Bytes &area) {
        std::memcpy(data, area.data() + offset, length);
        return ORVA_OK;
    });
}

size_t ic_size(const orva_device &device)
{
    return device.info.area_size;
}

size_t aux_size(const orva_device &)
{
    return ORVA_AUX_DATA_SIZE;
}

} // namespace

extern "C" int orva_save_ic_data(orva_handle_t handle, const void *data, uint32_t offset, uint32_t length)
{
    return save_area(handle, kIcDataKind, data, offset, length, ic_size);
}

extern "C" int orva_load_ic_data(orva_handle_t handle, void *data, uint32_t offset, uint32_t length)
{
    return load_part(handle, kIcDataKind, data, offset, length, ic_size);
}

extern "C" int orva_save_aux_data(orva_handle_t handle, const void *data, uint32_t offset, uint32_t length)
{
    return save_area(handle, kAuxKind, data, offset, length, aux_size);
}

extern "C" int orva_load_aux_data(orva_handle_t handle, void *data, uint32_t offset, uint32_t length)
{
    return load_part(handle, kAuxKind, data, offset, length, aux_size);
}

extern "C" int orva_save_ia_data(orva_handle_t handle, const void *block)
{
    return with_device(handle, [&](orva_device &device) {
        if (block == nullptr)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_database(device, db);
        if (rc != ORVA_OK)
            return rc;
        IaFile ia;
        ia.format_id = db.format_id;
        std::memcpy(ia.block, block, ORVA_IA_DATA_SIZE);
        return to_code(store(device.dir, kIaKind, encode_ia(ia)));
    });
}

extern "C" int orva_load_ia_data(orva_handle_t handle, void *block)
{
    return with_device(handle, [&](orva_device &device) {
        if (block == nullptr)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_database(device, db);
        if (rc != ORVA_OK)
            return rc;
        IaFile ia;
        Status st = load_ia(device.dir, ia);
        if (st == Status::Missing)
            return ORVA_E_NOT_SET;
        if (st != Status::Ok)
            return to_code(st);
        // A block saved before the last format belongs to another database.
        if (ia.format_id != db.format_id)
            return ORVA_E_NOT_SET;
        std::memcpy(block, ia.block, ORVA_IA_DATA_SIZE);
        return ORVA_OK;
    });
}

extern "C" int orva_iares_get_ws_private_key(orva_handle_t handle, uint8_t *key)
{
    return with_device(handle, [&](orva_device &device) {
        if (key == nullptr)
            return ORVA_E_INVALID_ARG;
        Bytes stored;
        Status st = load(device.dir, kWsKeyKind, stored);
        if (st == Status::Ok && stored.size() != ORVA_PRIVATE_KEY_SIZE)
            st = Status::Corrupt;
        if (st != Status::Ok) {
            std::memset(key, 0, ORVA_PRIVATE_KEY_SIZE);
            return st == Status::Missing ? ORVA_E_NOT_SET : to_code(st);
        }
        std::memcpy(key, stored.data(), ORVA_PRIVATE_KEY_SIZE);
        return ORVA_OK;
    });
}

extern "C" int orva_iares_write_ws_private_key(orva_handle_t handle, const uint8_t *key)
{
    return with_device(handle, [&](orva_device &device) {
        if (key == nullptr)
            return ORVA_E_INVALID_ARG;
        return to_code(store(device.dir, kWsKeyKind, Bytes(key, key + ORVA_PRIVATE_KEY_SIZE)));
    });
}

extern "C" int orva_get_random_bytes(orva_handle_t handle, void *buffer, uint32_t length)
{
    return with_device(handle, [&](orva_device &) {
        if (buffer == nullptr && length != 0)
            return ORVA_E_INVALID_ARG;
        uint8_t *out = static_cast<uint8_t *>(buffer);
        uint32_t done = 0;
        while (done < length) {
            ssize_t n = getrandom(out + done, length - done, 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return ORVA_E_PIK;
            }
            done += static_cast<uint32_t>(n);
        }
        return ORVA_OK;
    });
}
