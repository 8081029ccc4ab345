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

int get_byte(orva_handle_t handle, int index, uint8_t *value)
{
    return with_device(handle, [&](orva_device &device) {
        if (value == nullptr)
            return ORVA_E_INVALID_ARG;
        ConfigFile conf;
        int rc = load_conf(device, conf);
        if (rc == ORVA_OK)
            *value = conf.bytes[index];
        return rc;
    });
}

int write_byte(orva_handle_t handle, int index, uint8_t value)
{
    return with_device(handle, [&](orva_device &device) {
        ConfigFile conf;
        int rc = load_conf(device, conf);
        if (rc != ORVA_OK)
            return rc;
        conf.bytes[index] = value;
        return store_conf(device, conf);
    });
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
    return with_device(handle, [&](orva_device &device) {
        if (value == nullptr)
            return ORVA_E_INVALID_ARG;
        ConfigFile conf;
        int rc = load_conf(device, conf);
        if (rc == ORVA_OK)
            *value = get_u32(conf.bytes + 4);
        return rc;
    });
}

extern "C" int orva_write_watchdog_timeout(orva_handle_t handle, uint32_t value)
{
    return with_device(handle, [&](orva_device &device) {
        ConfigFile conf;
        int rc = load_conf(device, conf);
        if (rc != ORVA_OK)
            return rc;
        put_u32(conf.bytes + 4, value);
        return store_conf(device, conf);
    });
}

extern "C" int orva_db_conf_get(orva_handle_t handle, void *out)
{
    return with_device(handle, [&](orva_device &device) {
        if (out == nullptr)
            return ORVA_E_INVALID_ARG;
        ConfigFile conf;
        int rc = load_conf(device, conf);
        if (rc == ORVA_OK)
            std::memcpy(out, conf.bytes, ORVA_CONF_SIZE);
        return rc;
    });
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
