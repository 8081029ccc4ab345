// Keys: the user key in an identifier page, the key-pair check and the
// workstation key.
#include "module/orva_fun_db.h"

#include <gost/gost_r3410.h>
#include <tmid.h>

#include <cstring>

namespace {

static_assert(ORVA_PRIVATE_KEY_SIZE == TMID_PAGE_SIZE, "a user key fills one identifier page");
static_assert(ORVA_PRIVATE_KEY_SIZE == GOST_R3410_01_KEY_SIZE, "workstation key size");

// Random source of key generation: the module's generator.
int module_random(void *arg, unsigned char *buffer, unsigned int length)
{
    return orva_get_random_bytes(static_cast<orva_handle_t>(arg), buffer, length);
}

} // namespace

int orva_fun_db::read_private_key(const orva_tmid &tmid, uint8_t key[ORVA_PRIVATE_KEY_SIZE])
{
    uint8_t stored = 0;
    int code = get_tm_page_no(&stored);
    if (code != ORVA_OK)
        return code;
    const int page = static_cast<uint8_t>(~stored);
    uint8_t data[TMID_PAGE_SIZE];
    code = tmid_read_page(reinterpret_cast<const uint8_t *>(&tmid), page, 1, data);
    if (code == TMID_OK)
        std::memcpy(key, data, ORVA_PRIVATE_KEY_SIZE);
    explicit_bzero(data, sizeof data);
    return code;
}

int orva_fun_db::write_private_key(const orva_tmid &tmid, const uint8_t key[ORVA_PRIVATE_KEY_SIZE])
{
    uint8_t stored = 0;
    int code = get_tm_page_no(&stored);
    if (code != ORVA_OK)
        return code;
    const int page = static_cast<uint8_t>(~stored);
    const uint8_t *id = reinterpret_cast<const uint8_t *>(&tmid);
    // No clearing first: a contact lost between two writes would leave the
    // identifier without any key.
    code = tmid_write_page(id, page, 1, key);
    uint8_t data[TMID_PAGE_SIZE];
    if (code == TMID_OK)
        code = tmid_read_page(id, page, 1, data);
    if (code == TMID_OK && std::memcmp(data, key, ORVA_PRIVATE_KEY_SIZE) != 0)
        code = -1;
    explicit_bzero(data, sizeof data);
    return code;
}

orva_fun_db::key_write orva_fun_db::replace_private_key(const orva_tmid &tmid,
                                                        const uint8_t key[ORVA_PRIVATE_KEY_SIZE],
                                                        uint8_t previous[ORVA_PRIVATE_KEY_SIZE])
{
    if (read_private_key(tmid, previous) != 0)
        return KEY_UNREAD;
    if (std::memcmp(previous, key, ORVA_PRIVATE_KEY_SIZE) == 0 || write_private_key(tmid, key) == 0)
        return KEY_WRITTEN;
    uint8_t now[ORVA_PRIVATE_KEY_SIZE];
    auto old_there = [&] {
        return read_private_key(tmid, now) == 0 && std::memcmp(now, previous, sizeof now) == 0;
    };
    bool kept = old_there();
    if (!kept) {
        write_private_key(tmid, previous);
        kept = old_there();
    }
    explicit_bzero(now, sizeof now);
    return kept ? KEY_OLD_KEPT : KEY_OLD_LOST;
}

int orva_fun_db::check_keys(const uint8_t private_key[ORVA_PRIVATE_KEY_SIZE],
                            const uint8_t public_key[ORVA_PUBLIC_KEY_SIZE])
{
    return gost_r3410_94_check_key_pair(private_key, public_key) == 0 ? 0 : -1;
}

int orva_fun_db::generate_ws_key()
{
    uint8_t key[GOST_R3410_01_KEY_SIZE];
    const orva_handle_t h = handle();
    if (gost_r3410_01_generate_private_key_ex(key, GOST_R3410_01_CRYPTOPRO_A, module_random, h) != 0)
        return -1;
    const int code = orva_iares_write_ws_private_key(h, key);
    explicit_bzero(key, sizeof key);
    return code == ORVA_OK ? 0 : -1;
}
