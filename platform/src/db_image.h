// The record database image exchanged by orva_read_db/orva_write_db.
//
// Layout (little-endian), ORVA_DB_IMAGE_SIZE bytes:
//    0  "ORDB"
//    4  u16 layout version (1)   6  u16 reserved, zero
//    8  four database version bytes (orva_format_database)
//   12  u32 CRC-32 of bytes 0-11 and 16-end
//   16  ORVA_DB_MAX_RECORDS slots of ORVA_DB_RECORD_SIZE bytes; slot i holds
//       record number i + 1; a free slot is all zero.
#ifndef ORVA_PLATFORM_DB_IMAGE_H
#define ORVA_PLATFORM_DB_IMAGE_H

#include "bytes.h"
#include "orva.h"

#include <string>

namespace orva_sim {

constexpr size_t kDbHeaderSize = 16;
constexpr uint16_t kDbLayoutVersion = 1;
static_assert(kDbHeaderSize + ORVA_DB_MAX_RECORDS * ORVA_DB_RECORD_SIZE == ORVA_DB_IMAGE_SIZE,
              "header and slots fill the image");

Bytes make_empty_image(const uint8_t version[4]);
// Recomputes the CRC after slots or version bytes changed.
void seal_image(Bytes &image);
// Magic, layout, CRC, every slot well-formed, names unique, users' groups
// present. why (may be null) receives the first fault in words.
bool validate_image(const uint8_t *image, size_t size, std::string *why);

// A name field: 1-12 printable ASCII characters, NUL-terminated.
bool name_field_ok(const char field[ORVA_NAME_SIZE]);
// A record fit to be stored: well-formed name, group flag 0 or 1, an empty
// group field in a group, a well-formed group name in a user.
bool record_well_formed(const orva_db_record &record);
// An identifier that names a physical one: not all zero, not all 0xFF and
// not the "no identifier" placeholder FF "USER  " FF.
bool tmid_assigned(const orva_tmid &tmid);
// The 32 hash bytes are neither all 0x00 nor all 0xFF.
bool xid_hash_set(const orva_xid_t &xid);
bool names_equal(const char a[ORVA_NAME_SIZE], const char b[ORVA_NAME_SIZE]);

// Typed access to the slots of a sealed or unsealed image.
class RecordTable {
public:
    explicit RecordTable(Bytes &image) : image_(image) {}

    bool is_free(uint16_t number) const;
    orva_db_record get(uint16_t number) const;
    void put(uint16_t number, const orva_db_record &record);
    void clear(uint16_t number);

    bool is_user(uint16_t number) const;
    bool is_group(uint16_t number) const;
    // 0 when absent. A name of length bytes, no terminator needed.
    uint16_t find_name(const char *name, size_t length) const;
    uint16_t find_group(const char *name, size_t length) const;
    uint16_t find_user(const char *name, size_t length) const;
    uint16_t find_user_by_tmid(const orva_tmid &tmid) const;
    uint16_t lowest_free() const;
    uint16_t highest_used() const;
    uint32_t count() const;
    bool group_has_users(const char group[ORVA_NAME_SIZE]) const;

private:
    uint8_t *slot(uint16_t number) const;
    Bytes &image_;
};

} // namespace orva_sim

#endif
