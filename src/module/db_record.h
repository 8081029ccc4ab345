// Helpers over the module's user and group record (orva_db_record of orva.h):
// names, well-known records, bits of its fields and the default records of a
// freshly formatted module.
#ifndef ORVA_MODULE_DB_RECORD_H
#define ORVA_MODULE_DB_RECORD_H

#include <orva.h>

#include <QString>

#include <cstddef>
#include <cstdint>

namespace db_record {

// Names of the records every database holds.
inline constexpr char kAdmins[] = "ADMINS";
inline constexpr char kEveryone[] = "EVERYONE";
inline constexpr char kSupervisor[] = "SUPERVISOR";
inline constexpr int kMaxNameLength = ORVA_NAME_SIZE - 1;

// Administrator rights (field `access`).
enum access_bits : uint32_t {
    ACCESS_USERS = 1u << 0,    // "Редактирование пользователей"
    ACCESS_ICL = 1u << 1,      // "Редактирование СКЦ"
    ACCESS_LOG = 1u << 2,      // "Управление журналом"
    ACCESS_SETTINGS = 1u << 3, // "Редактирование настроек"
    ACCESS_ALL = 15u,
};

// Hand-over mask "Результаты ИА" (field `ia_mask`): a part of the hand-over
// block is kept only when its bit is set.
enum ia_bits : uint8_t {
    IA_TMID = 1u << 0,         // "Идентификатор"
    IA_WS_KEY = 1u << 1,       // "Секретный ключ станции"
    IA_USER_KEY = 1u << 2,     // "Секретный ключ пользователя"
    IA_NAME = 1u << 3,         // "Имя пользователя"
    IA_PASSWORD = 1u << 4,     // "Пароль"
    IA_OS_FLAGS = 1u << 5,     // "Флаги ОС"
    IA_USER_NUMBER = 1u << 6,  // "Номер пользователя"
    IA_ACCESS_LEVEL = 1u << 7, // "Уровень доступа пользователя"
};

// Password alphabet (field `alphabet`).
enum alphabet_bits : uint8_t {
    ALPHABET_DIGITS = 1u << 0,
    ALPHABET_UPPER = 1u << 1,
    ALPHABET_LOWER = 1u << 2,
    ALPHABET_SPECIAL = 1u << 3,
};

// Validity byte value that defers to the 32-bit field `validity_long`.
inline constexpr uint8_t kValidityLong = 255;

// Length of the name in a name field: up to its NUL, at most 12.
size_t name_length(const char (&field)[ORVA_NAME_SIZE]);
// The name in a name field (up to its NUL, at most 12 characters).
QString name(const char (&field)[ORVA_NAME_SIZE]);
// Writes name into a name field, NUL-padded; longer names are cut at 12.
void set_name(char (&field)[ORVA_NAME_SIZE], const QString &name);
// Whether the field holds exactly this name.
bool name_is(const char (&field)[ORVA_NAME_SIZE], const char *name);

// "FF 0123456789AB CC": family code, serial in stored order, check byte.
QString tmid_text(const orva_tmid &tmid);

// Password validity in days (0: no expiry).
uint32_t validity_days(const orva_db_record &record);

// A default group as a freshly formatted module holds it: every byte 0xFF,
// then the name, an empty group name, the device class in the hash field and
// the group's password policy.
orva_db_record default_group(uint32_t dev_class, const char *name, uint8_t admin);

} // namespace db_record

#endif
