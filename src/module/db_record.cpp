#include "module/db_record.h"

#include <cstring>

namespace db_record {

size_t name_length(const char (&field)[ORVA_NAME_SIZE])
{
    return strnlen(field, kMaxNameLength);
}

QString name(const char (&field)[ORVA_NAME_SIZE])
{
    return QString::fromLatin1(field, static_cast<qsizetype>(name_length(field)));
}

QString tmid_text(const orva_tmid &tmid)
{
    const QByteArray serial(reinterpret_cast<const char *>(tmid.serial), sizeof tmid.serial);
    return QStringLiteral("%1 %2 %3")
        .arg(tmid.family, 2, 16, QLatin1Char('0'))
        .arg(QString::fromLatin1(serial.toHex()))
        .arg(tmid.crc, 2, 16, QLatin1Char('0'))
        .toUpper();
}

void set_name(char (&field)[ORVA_NAME_SIZE], const QString &name)
{
    const QByteArray bytes = name.toLatin1().left(kMaxNameLength);
    std::memset(field, 0, sizeof field);
    std::memcpy(field, bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool name_is(const char (&field)[ORVA_NAME_SIZE], const char *name)
{
    return strnlen(field, ORVA_NAME_SIZE) < ORVA_NAME_SIZE && std::strcmp(field, name) == 0;
}

uint32_t validity_days(const orva_db_record &record)
{
    return record.validity == kValidityLong ? record.validity_long : record.validity;
}

orva_db_record default_group(uint32_t dev_class, const char *name, uint8_t admin)
{
    orva_db_record r;
    std::memset(&r, 0xFF, sizeof r);
    // The name and its terminator; the rest of the field keeps 0xFF.
    const size_t length = strnlen(name, kMaxNameLength);
    std::memcpy(r.name, name, length);
    r.name[length] = '\0';
    r.group[0] = '\0';
    r.xid.dev_class = dev_class;
    r.group_marker = 3;
    r.access = 0;
    r.admin = admin;
    r.blocked = 0;
    r.is_group = 1;
    r.ia_mask = 0;
    r.who_changes = 1;
    r.generate_only = 0;
    r.alphabet = 0;
    r.min_length = 8;
    r.change_attempts = 3;
    r.validity = 30;
    return r;
}

} // namespace db_record
