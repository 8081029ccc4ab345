// Device description and state; formatting the database and the log.
#include "db_image.h"
#include "orva_internal.h"

#include <cstring>

using namespace orva_sim;

namespace {

const char kFirmware[] = "ORVA simulator 1.0";
static_assert(sizeof kFirmware <= sizeof(orva_device_info::firmware), "firmware text fits");

// Replaces the database with an empty one in the given status.
int reset_database(orva_device &device, uint32_t status, const uint8_t version[4])
{
    DatabaseFile old;
    uint32_t previous = orva_sim::load_database(device.dir, old) == Status::Ok ? old.format_id : 0;
    DatabaseFile db;
    db.status = status;
    db.format_id = new_format_id(previous);
    db.session = 0;
    db.image = make_empty_image(version);
    return store_database(device, db);
}

} // namespace

extern "C" int orva_get_device_state(orva_handle_t handle, orva_device_state *state)
{
    return with_device(handle, [&](orva_device &device) {
        if (state == nullptr)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_database(device, db);
        if (rc != ORVA_OK)
            return rc;
        LogFile log;
        rc = to_code_required(load_log(device.dir, log));
        if (rc != ORVA_OK)
            return rc;
        std::memset(state, 0, sizeof *state);
        state->state = device_state(db);
        state->max_ic_data_size = device.info.area_size;
        state->dev_class = device.info.dev_class;
        state->record_count = RecordTable(db.image).count();
        state->log_record_count = static_cast<uint32_t>(log.entries.size());
        return ORVA_OK;
    });
}

extern "C" int orva_get_device_info(void *context, void *device, orva_device_info *info)
{
    return guarded([&] {
        if (context != nullptr || device != nullptr || info == nullptr)
            return ORVA_E_INVALID_ARG;
        std::string dir = state_dir();
        DeviceFile file;
        Status st = load_device(dir, file);
        if (st == Status::Missing)
            return ORVA_E_NO_DEVICE;
        if (st != Status::Ok)
            return to_code(st);
        std::memset(info, 0, sizeof *info);
        info->dev_class = static_cast<uint8_t>(file.dev_class);
        std::memcpy(info->hw_version, file.hw_version, 3);
        info->serial = file.serial;
        std::memcpy(info->firmware, kFirmware, sizeof kFirmware);
        return ORVA_OK;
    });
}

extern "C" uint32_t orva_get_dev_class_by_handle(orva_handle_t handle)
{
    uint32_t dev_class = 0;
    with_device(handle, [&](orva_device &device) {
        dev_class = device.info.dev_class;
        return ORVA_OK;
    });
    return dev_class;
}

extern "C" int orva_format_database(orva_handle_t handle, const uint8_t version[4])
{
    return with_device(handle, [&](orva_device &device) {
        if (version == nullptr)
            return ORVA_E_INVALID_ARG;
        return reset_database(device, ORVA_STATE_FORMATTED, version);
    });
}

extern "C" int orva_erase_database(orva_handle_t handle)
{
    return with_device(handle, [&](orva_device &device) {
        static const uint8_t none[4] = {0, 0, 0, 0};
        return reset_database(device, ORVA_STATE_ERASED, none);
    });
}

extern "C" int orva_format_log(orva_handle_t handle)
{
    return with_device(handle, [&](orva_device &device) {
        // Works on a damaged log too: numbering goes on after the old records.
        LogFile old;
        LogFile log;
        if (load_log(device.dir, old) == Status::Ok)
            log.first_seq = old.end_seq();
        int rc = to_code(store(device.dir, kLogKind, encode_log(log)));
        if (rc == ORVA_OK)
            device.cursor_started = false;
        return rc;
    });
}
