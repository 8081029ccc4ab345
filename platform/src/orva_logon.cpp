// Logon: password hashes, the logon session and password expiration.
#include "db_image.h"
#include "module_clock.h"
#include "orva_internal.h"

#include <cstring>
#include <openssl/crypto.h>
#include <openssl/evp.h>

using namespace orva_sim;

namespace {

// PBKDF2 iterations: enough to make the hash a real key derivation, few
// enough that a logon stays instant.
constexpr int kXidIterations = 2000;
constexpr size_t kPasswordMax = 255;

bool xid_equal(const orva_xid_t &a, const orva_xid_t &b)
{
    return CRYPTO_memcmp(&a, &b, sizeof a) == 0;
}

int set_expiration(orva_db_record &record)
{
    if (record.validity == 0) {
        record.exp_day = record.exp_month = record.exp_year = -1;
        return ORVA_OK;
    }
    uint32_t days = record.validity == 255 ? record.validity_long : record.validity;
    ClockTime now;
    if (!module_now(now))
        return ORVA_E_INVALID_ARG;
    int64_t year;
    unsigned month, day;
    civil_from_days(days_from_civil(now.year, static_cast<unsigned>(now.month),
                                    static_cast<unsigned>(now.day)) + days,
                    year, month, day);
    if (year > 9999)
        return ORVA_E_INVALID_ARG;
    record.exp_day = static_cast<int32_t>(day);
    record.exp_month = static_cast<int32_t>(month);
    record.exp_year = static_cast<int32_t>(year);
    return ORVA_OK;
}

} // namespace

extern "C" int orva_make_xid(orva_handle_t handle, uint32_t dev_class, const orva_tmid *tmid,
                             const char *password, orva_xid_t *xid)
{
    return with_device(handle, [&](orva_device &) {
        if (tmid == nullptr || password == nullptr || xid == nullptr ||
            (dev_class != ORVA_DEV_CLASS_1 && dev_class != ORVA_DEV_CLASS_2))
            return ORVA_E_INVALID_ARG;
        size_t length = strnlen(password, kPasswordMax + 1);
        if (length > kPasswordMax)
            return ORVA_E_INVALID_ARG;
        uint8_t salt[12];
        put_u32(salt, dev_class);
        std::memcpy(salt + 4, tmid, sizeof *tmid);
        orva_xid_t out;
        out.dev_class = dev_class;
        if (PKCS5_PBKDF2_HMAC(password, static_cast<int>(length), salt, sizeof salt, kXidIterations,
                              EVP_sha256(), sizeof out.hash, out.hash) != 1)
            return ORVA_E_UNKNOWN;
        *xid = out;
        return ORVA_OK;
    });
}

extern "C" int orva_login(orva_handle_t handle, const orva_tmid *tmid, const orva_xid_t *xid)
{
    return with_device(handle, [&](orva_device &device) {
        if (tmid == nullptr || xid == nullptr)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_formatted(device, db);
        if (rc != ORVA_OK)
            return rc;
        RecordTable table(db.image);
        uint16_t n = table.find_user_by_tmid(*tmid);
        if (n == 0)
            return ORVA_E_UNKNOWN_ID;
        orva_db_record record = table.get(n);
        // A record without a password hash admits nobody, not even a caller
        // that hands in an unset hash.
        if (!xid_hash_set(record.xid) || !xid_equal(record.xid, *xid))
            return ORVA_E_BAD_PASSWORD;
        db.session = n;
        return store_database(device, db);
    });
}

extern "C" int orva_logout(orva_handle_t handle)
{
    return with_device(handle, [&](orva_device &device) {
        DatabaseFile db;
        int rc = load_database(device, db);
        if (rc != ORVA_OK)
            return rc;
        if (db.session == 0)
            return ORVA_E_NO_SESSION;
        db.session = 0;
        return store_database(device, db);
    });
}

extern "C" int orva_get_current_user(orva_handle_t handle, uint16_t *number, uint8_t *admin)
{
    return with_device(handle, [&](orva_device &device) {
        DatabaseFile db;
        int rc = load_database(device, db);
        if (rc != ORVA_OK)
            return rc;
        if (db.session == 0)
            return ORVA_E_NO_SESSION;
        orva_db_record record = RecordTable(db.image).get(db.session);
        if (number != nullptr)
            *number = db.session;
        if (admin != nullptr)
            *admin = record.admin;
        return ORVA_OK;
    });
}

extern "C" int orva_xid_is_set(orva_handle_t handle, const orva_xid_t *xid)
{
    int set = 0;
    with_device(handle, [&](orva_device &) {
        set = xid != nullptr && xid_hash_set(*xid) ? 1 : 0;
        return ORVA_OK;
    });
    return set;
}

extern "C" int orva_xid_reset(orva_handle_t handle, orva_xid_t *xid)
{
    return with_device(handle, [&](orva_device &) {
        if (xid == nullptr)
            return ORVA_E_INVALID_ARG;
        std::memset(xid->hash, 0, sizeof xid->hash);
        return ORVA_OK;
    });
}

extern "C" int orva_xid_compare(orva_handle_t handle, const orva_xid_t *a, const orva_xid_t *b)
{
    return with_device(handle, [&](orva_device &) {
        if (a == nullptr || b == nullptr)
            return ORVA_E_INVALID_ARG;
        return xid_equal(*a, *b) ? ORVA_OK : ORVA_E_BAD_PASSWORD;
    });
}

extern "C" int orva_update_password(orva_handle_t handle, const orva_xid_t *xid, orva_db_record *record)
{
    return with_device(handle, [&](orva_device &) {
        if (xid == nullptr || record == nullptr)
            return ORVA_E_INVALID_ARG;
        orva_db_record updated = *record;
        updated.xid = *xid;
        int rc = set_expiration(updated);
        if (rc == ORVA_OK)
            *record = updated;
        return rc;
    });
}

extern "C" int orva_update_password_expiration_date(orva_handle_t handle, orva_db_record *record)
{
    return with_device(handle, [&](orva_device &) {
        if (record == nullptr)
            return ORVA_E_INVALID_ARG;
        return set_expiration(*record);
    });
}

extern "C" int orva_change_current_user_password(orva_handle_t handle, const orva_xid_t *xid)
{
    return with_device(handle, [&](orva_device &device) {
        if (xid == nullptr)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_formatted(device, db);
        if (rc != ORVA_OK)
            return rc;
        if (db.session == 0)
            return ORVA_E_NO_SESSION;
        RecordTable table(db.image);
        orva_db_record record = table.get(db.session);
        record.xid = *xid;
        rc = set_expiration(record);
        if (rc != ORVA_OK)
            return rc;
        table.put(db.session, record);
        seal_image(db.image);
        return store_database(device, db);
    });
}
