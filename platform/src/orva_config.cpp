// Configuration: the 12-byte record and the watchdog time-out.
#include "orva_internal.h"

#include <cstring>

using namespace orva_sim;

namespace {

enum ConfByte { kTmTimeout = 0, kPwTimeout = 1, kBadCount = 2, kTmPage = 3 };

int load_conf(orva_device &device, ConfigFile &conf)
{
    return to_code_required(load_config(device.dir, conf));
}

int store_conf(orva_device &device, const ConfigFile &conf)
{
    return to_code(store(device.dir, kConfigKind, encode_config(conf)));
}

// Runs read(conf) on the stored configuration of a valid handle; args_ok
// false gives ORVA_E_INVALID_ARG before anything is read.
template <typename F>
int read_conf(orva_handle_t handle, bool args_ok, F &&read)
{
    return with_device(handle, [&](orva_device &device) {
        if (!args_ok)
            return ORVA_E_INVALID_ARG;
        ConfigFile conf;
        int rc = load_conf(device, conf);
        if (rc == ORVA_OK)
            read(conf);
        return rc;
    });
}

// Loads the configuration, lets change(conf) edit it and stores it.
template <typename F>
int change_conf(orva_handle_t handle, F &&change)
{
    return with_device(handle, [&](orva_device &device) {
        ConfigFile conf;
        int rc = load_conf(device, conf);
        if (rc != ORVA_OK)
            return rc;
        change(conf);
        return store_conf(device, conf);
    });
}

int get_byte(orva_handle_t handle, int index, uint8_t *value)
{
    return read_conf(handle, value != nullptr, [&](const ConfigFile &conf) { *value = conf.bytes[index]; });
}

int write_byte(orva_handle_t handle, int index, uint8_t value)
{
    return change_conf(handle, [&](ConfigFile &conf) { conf.bytes[index] = value; });
}

} // namespace

extern "C" int orva_db_conf_get_tm_timeout(orva_handle_t handle, uint8_t *value)
{
    return get_byte(handle, kTmTimeout, value);
}

extern "C" int orva_db_conf_get_pw_timeout(orva_handle_t handle, uint8_t *value)
{
    return get_byte(handle, kPwTimeout, value);
}

extern "C" int orva_db_conf_get_max_bad_count(orva_handle_t handle, uint8_t *value)
{
    return get_byte(handle, kBadCount, value);
}

extern "C" int orva_db_conf_get_tm_page_no(orva_handle_t handle, uint8_t *value)
{
    return get_byte(handle, kTmPage, value);
}

extern "C" int orva_db_conf_write_tm_timeout(orva_handle_t handle, uint8_t value)
{
    return write_byte(handle, kTmTimeout, value);
}

extern "C" int orva_db_conf_write_pw_timeout(orva_handle_t handle, uint8_t value)
{
    return write_byte(handle, kPwTimeout, value);
}

extern "C" int orva_db_conf_write_max_bad_count(orva_handle_t handle, uint8_t value)
{
    return write_byte(handle, kBadCount, value);
}

extern "C" int orva_db_conf_write_tm_page_no(orva_handle_t handle, uint8_t value)
{
    return write_byte(handle, kTmPage, value);
}

extern "C" int orva_get_watchdog_timeout(orva_handle_t handle, uint32_t *value)
{
    return read_conf(handle, value != nullptr, [&](const ConfigFile &conf) { *value = get_u32(conf.bytes + 4); });
}

extern "C" int orva_write_watchdog_timeout(orva_handle_t handle, uint32_t value)
{
    return change_conf(handle, [&](ConfigFile &conf) { put_u32(conf.bytes + 4, value); });
}

extern "C" int orva_db_conf_get(orva_handle_t handle, void *out)
{
    return read_conf(handle, out != nullptr,
                     [&](const ConfigFile &conf) { std::memcpy(out, conf.bytes, ORVA_CONF_SIZE); });
}

extern "C" int orva_db_conf_write(orva_handle_t handle, const void *in)
{
    return with_device(handle, [&](orva_device &device) {
        if (in == nullptr)
            return ORVA_E_INVALID_ARG;
        ConfigFile conf;
        Bytes payload(static_cast<const uint8_t *>(in), static_cast<const uint8_t *>(in) + ORVA_CONF_SIZE);
        if (decode_config(payload, conf) != Status::Ok)
            return ORVA_E_BAD_IMAGE;
        return store_conf(device, conf);
    });
}
