#include "db_image.h"

#include <cstring>
#include <set>
#include <zlib.h>

namespace orva_sim {

namespace {

const char kDbMagic[4] = {'O', 'R', 'D', 'B'};

uint32_t image_crc(const uint8_t *image)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, image, 12);
    crc = crc32(crc, image + kDbHeaderSize, ORVA_DB_IMAGE_SIZE - kDbHeaderSize);
    return static_cast<uint32_t>(crc);
}

size_t field_length(const char field[ORVA_NAME_SIZE])
{
    const void *nul = std::memchr(field, 0, ORVA_NAME_SIZE);
    return nul ? static_cast<size_t>(static_cast<const char *>(nul) - field) : ORVA_NAME_SIZE;
}

bool slot_all_zero(const uint8_t *slot)
{
    for (size_t i = 0; i < ORVA_DB_RECORD_SIZE; ++i)
        if (slot[i] != 0)
            return false;
    return true;
}

orva_db_record load_slot(const uint8_t *slot)
{
    orva_db_record record;
    std::memcpy(&record, slot, sizeof record);
    return record;
}

bool field_matches(const char field[ORVA_NAME_SIZE], const char *name, size_t length)
{
    return length >= 1 && length < ORVA_NAME_SIZE && field_length(field) == length &&
           std::memcmp(field, name, length) == 0;
}

} // namespace

Bytes make_empty_image(const uint8_t version[4])
{
    Bytes image(ORVA_DB_IMAGE_SIZE, 0);
    std::memcpy(image.data(), kDbMagic, 4);
    put_u16(image.data() + 4, kDbLayoutVersion);
    std::memcpy(image.data() + 8, version, 4);
    seal_image(image);
    return image;
}

void seal_image(Bytes &image)
{
    put_u32(image.data() + 12, image_crc(image.data()));
}

bool name_field_ok(const char field[ORVA_NAME_SIZE])
{
    size_t length = field_length(field);
    if (length == 0 || length >= ORVA_NAME_SIZE)
        return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(field[i]);
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

bool record_well_formed(const orva_db_record &record)
{
    if (!name_field_ok(record.name))
        return false;
    if (record.is_group == 1)
        return record.group[0] == 0;
    return record.is_group == 0 && name_field_ok(record.group);
}

bool tmid_assigned(const orva_tmid &tmid)
{
    static const uint8_t placeholder[8] = {0xff, 'U', 'S', 'E', 'R', ' ', ' ', 0xff};
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&tmid);
    bool zero = true, ones = true;
    for (int i = 0; i < 8; ++i) {
        zero = zero && b[i] == 0;
        ones = ones && b[i] == 0xff;
    }
    return !zero && !ones && std::memcmp(b, placeholder, 8) != 0;
}

bool xid_hash_set(const orva_xid_t &xid)
{
    bool zero = true, ones = true;
    for (uint8_t b : xid.hash) {
        zero = zero && b == 0;
        ones = ones && b == 0xff;
    }
    return !zero && !ones;
}

bool names_equal(const char a[ORVA_NAME_SIZE], const char b[ORVA_NAME_SIZE])
{
    size_t length = field_length(a);
    return length == field_length(b) && std::memcmp(a, b, length) == 0;
}

bool validate_image(const uint8_t *image, size_t size, std::string *why)
{
    auto fail = [why](const std::string &text) {
        if (why)
            *why = text;
        return false;
    };
    if (image == nullptr || size != ORVA_DB_IMAGE_SIZE)
        return fail("wrong size");
    if (std::memcmp(image, kDbMagic, 4) != 0)
        return fail("bad magic");
    if (get_u16(image + 4) != kDbLayoutVersion || get_u16(image + 6) != 0)
        return fail("unknown layout");
    if (get_u32(image + 12) != image_crc(image))
        return fail("CRC mismatch");
    std::set<std::string> names, groups;
    for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n) {
        const uint8_t *slot = image + kDbHeaderSize + (n - 1) * ORVA_DB_RECORD_SIZE;
        if (slot_all_zero(slot))
            continue;
        orva_db_record record = load_slot(slot);
        if (!record_well_formed(record))
            return fail("record " + std::to_string(n) + " malformed");
        std::string name(record.name, field_length(record.name));
        if (!names.insert(name).second)
            return fail("name " + name + " used twice");
        if (record.is_group)
            groups.insert(name);
    }
    for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n) {
        const uint8_t *slot = image + kDbHeaderSize + (n - 1) * ORVA_DB_RECORD_SIZE;
        if (slot_all_zero(slot))
            continue;
        orva_db_record record = load_slot(slot);
        if (!record.is_group && !groups.count(std::string(record.group, field_length(record.group))))
            return fail("record " + std::to_string(n) + " names a missing group");
    }
    return true;
}

uint8_t *RecordTable::slot(uint16_t number) const
{
    return image_.data() + kDbHeaderSize + (number - 1) * ORVA_DB_RECORD_SIZE;
}

bool RecordTable::is_free(uint16_t number) const
{
    return number < 1 || number > ORVA_DB_MAX_RECORDS || slot_all_zero(slot(number));
}

orva_db_record RecordTable::get(uint16_t number) const
{
    return load_slot(slot(number));
}

void RecordTable::put(uint16_t number, const orva_db_record &record)
{
    std::memcpy(slot(number), &record, sizeof record);
}

void RecordTable::clear(uint16_t number)
{
    std::memset(slot(number), 0, ORVA_DB_RECORD_SIZE);
}

bool RecordTable::is_user(uint16_t number) const
{
    return !is_free(number) && slot(number)[offsetof(orva_db_record, is_group)] == 0;
}

bool RecordTable::is_group(uint16_t number) const
{
    return !is_free(number) && slot(number)[offsetof(orva_db_record, is_group)] == 1;
}

uint16_t RecordTable::find_name(const char *name, size_t length) const
{
    for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n)
        if (!is_free(n) && field_matches(reinterpret_cast<const char *>(slot(n)), name, length))
            return n;
    return 0;
}

uint16_t RecordTable::find_group(const char *name, size_t length) const
{
    uint16_t n = find_name(name, length);
    return is_group(n) ? n : 0;
}

uint16_t RecordTable::find_user(const char *name, size_t length) const
{
    uint16_t n = find_name(name, length);
    return is_user(n) ? n : 0;
}

uint16_t RecordTable::find_user_by_tmid(const orva_tmid &tmid) const
{
    if (!tmid_assigned(tmid))
        return 0;
    for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n)
        if (is_user(n) && std::memcmp(slot(n) + offsetof(orva_db_record, tmid), &tmid, sizeof tmid) == 0)
            return n;
    return 0;
}

uint16_t RecordTable::lowest_free() const
{
    for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n)
        if (is_free(n))
            return n;
    return 0;
}

uint16_t RecordTable::highest_used() const
{
    for (uint16_t n = ORVA_DB_MAX_RECORDS; n >= 1; --n)
        if (!is_free(n))
            return n;
    return 0;
}

uint32_t RecordTable::count() const
{
    uint32_t total = 0;
    for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n)
        total += is_free(n) ? 0 : 1;
    return total;
}

bool RecordTable::group_has_users(const char group[ORVA_NAME_SIZE]) const
{
    for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n) {
        if (!is_user(n))
            continue;
        orva_db_record record = get(n);
        if (names_equal(record.group, group))
            return true;
    }
    return false;
}

} // namespace orva_sim
