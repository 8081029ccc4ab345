#include "support/fault_injection.h"

#include <orva.h>

#include <dlfcn.h>

#include <QHash>
#include <QString>

#include <cstdlib>

namespace {

QHash<QString, int> g_armed;
QByteArray g_random;

bool take(const char *function, int *code)
{
    const auto it = g_armed.find(QString::fromLatin1(function));
    if (it == g_armed.end())
        return false;
    *code = it.value();
    g_armed.erase(it);
    return true;
}

template <class Fn>
Fn real(const char *name)
{
    void *symbol = dlsym(RTLD_NEXT, name);
    if (!symbol)
        std::abort();
    return reinterpret_cast<Fn>(symbol);
}

} // namespace

namespace fault {

void fail_next(const char *function, int code)
{
    g_armed.insert(QString::fromLatin1(function), code);
}

void set_random_bytes(const QByteArray &bytes)
{
    g_random = bytes;
}

void clear()
{
    g_armed.clear();
    g_random.clear();
}

} // namespace fault

extern "C" int orva_init(int flags)
{
    int code;
    if (take("orva_init", &code))
        return code;
    return real<int (*)(int)>("orva_init")(flags);
}

extern "C" int orva_format_database(orva_handle_t handle, const uint8_t version[4])
{
    int code;
    if (take("orva_format_database", &code))
        return code;
    return real<int (*)(orva_handle_t, const uint8_t *)>("orva_format_database")(handle, version);
}

extern "C" int orva_db_open(orva_handle_t handle, int flags)
{
    int code;
    if (take("orva_db_open", &code))
        return code;
    return real<int (*)(orva_handle_t, int)>("orva_db_open")(handle, flags);
}

extern "C" int orva_format_log(orva_handle_t handle)
{
    int code;
    if (take("orva_format_log", &code))
        return code;
    return real<int (*)(orva_handle_t)>("orva_format_log")(handle);
}

extern "C" int orva_logout(orva_handle_t handle)
{
    int code;
    if (take("orva_logout", &code))
        return code;
    return real<int (*)(orva_handle_t)>("orva_logout")(handle);
}

extern "C" int orva_db_conf_get_pw_timeout(orva_handle_t handle, uint8_t *value)
{
    int code;
    if (take("orva_db_conf_get_pw_timeout", &code))
        return code;
    return real<int (*)(orva_handle_t, uint8_t *)>("orva_db_conf_get_pw_timeout")(handle, value);
}

extern "C" int orva_db_conf_write_pw_timeout(orva_handle_t handle, uint8_t value)
{
    int code;
    if (take("orva_db_conf_write_pw_timeout", &code))
        return code;
    return real<int (*)(orva_handle_t, uint8_t)>("orva_db_conf_write_pw_timeout")(handle, value);
}

extern "C" int orva_change_current_user_password(orva_handle_t handle, const orva_xid_t *xid)
{
    int code;
    if (take("orva_change_current_user_password", &code))
        return code;
    return real<int (*)(orva_handle_t, const orva_xid_t *)>("orva_change_current_user_password")(handle, xid);
}

extern "C" int orva_make_xid(orva_handle_t handle, uint32_t dev_class, const orva_tmid *tmid, const char *password,
                             orva_xid_t *xid)
{
    int code;
    if (take("orva_make_xid", &code))
        return code;
    return real<int (*)(orva_handle_t, uint32_t, const orva_tmid *, const char *, orva_xid_t *)>("orva_make_xid")(
        handle, dev_class, tmid, password, xid);
}

extern "C" int orva_db_add_user(orva_handle_t handle, const orva_db_record *record, uint16_t *number)
{
    int code;
    if (take("orva_db_add_user", &code))
        return code;
    return real<int (*)(orva_handle_t, const orva_db_record *, uint16_t *)>("orva_db_add_user")(handle, record,
                                                                                                  number);
}

extern "C" int orva_db_modify_user(orva_handle_t handle, uint16_t number, const orva_db_record *record)
{
    int code;
    if (take("orva_db_modify_user", &code))
        return code;
    return real<int (*)(orva_handle_t, uint16_t, const orva_db_record *)>("orva_db_modify_user")(handle, number,
                                                                                                   record);
}

extern "C" int orva_get_random_bytes(orva_handle_t handle, void *buffer, uint32_t length)
{
    if (g_random.isEmpty())
        return real<int (*)(orva_handle_t, void *, uint32_t)>("orva_get_random_bytes")(handle, buffer, length);
    auto *out = static_cast<unsigned char *>(buffer);
    for (uint32_t i = 0; i < length; ++i)
        out[i] = static_cast<unsigned char>(g_random[static_cast<qsizetype>(i % g_random.size())]);
    return ORVA_OK;
}

extern "C" int orva_save_ic_data(orva_handle_t handle, const void *buffer, uint32_t offset, uint32_t size)
{
    int code;
    if (take("orva_save_ic_data", &code))
        return code;
    return real<int (*)(orva_handle_t, const void *, uint32_t, uint32_t)>("orva_save_ic_data")(handle, buffer,
                                                                                                offset, size);
}
