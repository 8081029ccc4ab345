#include "log/log_texts.h"

#include "log/log_types.h"

#include <cstring>

namespace log_texts {

namespace {

struct type_entry {
    uint32_t type;
    const char *text;
};

const type_entry kTypes[] = {
    {LOG_CREATE, "Создание журнала"},
    {LOG_SESSION_START, "Начало сессии"},
    {LOG_LOGIN, "Логин пользователя"},
    {LOG_HW_CHECK, "Проверка целостности оборудования"},
    {LOG_DISK_CHECK, "Проверка целостности дисков"},
    {LOG_FS_CHECK, "Проверка целостности объектов ФС"},
    {LOG_INI_CHECK, "Проверка целостности INI файлов"},
    {LOG_REGISTRY_CHECK, "Проверка целостности реестра"},
    {LOG_DISABLE_HSTEP, "DISABLE_HSTEP"},
    {LOG_DB_EMPTY, "База данных пуста"},
    {LOG_PASSWORD_CHANGE, "Смена пароля пользователя"},
    {LOG_USER_CREATE, "Создание пользователя"},
    {LOG_USER_DELETE, "Удаление пользователя"},
    {LOG_USER_RENAME, "Смена имени пользователя"},
    {LOG_USER_ATTRIBUTES, "Изменение атрибутов пользователя"},
    {LOG_GROUP_CREATE, "Создание группы"},
    {LOG_GROUP_DELETE, "Удаление группы"},
    {LOG_GROUP_RENAME, "Смена имени группы"},
    {LOG_GROUP_ATTRIBUTES, "Изменение атрибутов группы"},
    {LOG_DB_IMPORT, "Импорт базы данных пользователей"},
    {LOG_DB_EXPORT, "Экспорт базы данных пользователей"},
    {LOG_HW_LIST_CHANGE, "Изменение списка контроля оборудования"},
    {LOG_DISK_LIST_CHANGE, "Изменение списка контроля дисков"},
    {LOG_FS_LIST_CHANGE, "Изменение списка контроля объектов ФС"},
    {LOG_NIRUN_OFF, "Отключение Nirun"},
    {LOG_UNKNOWN_EVENT, "Неизвестное событие"},
};

const type_entry kResults[] = {
    {LOG_OK, "ОК"},
    {LOG_TM_TIMEOUT, "Таймаут предъявления идентификатора"},
    {LOG_PW_TIMEOUT, "Таймаут ввода пароля"},
    {LOG_UNKNOWN_USER, "Незарегистрированный пользователь"},
    {LOG_BAD_PASSWORD, "Неверный пароль"},
    {LOG_TIME_LIMIT, "Временные ограничения"},
    {LOG_BLOCKED, "Пользователь заблокирован"},
    {LOG_PIK, "PIK"},
    {LOG_CLOCK, "Часы не синхронизированы"},
    {LOG_IO_ERROR, "Ошибка ввода/вывода"},
    {LOG_IC_DAMAGED, "Данные контроля целостности повреждены"},
    {LOG_FILE_NOT_FOUND, "Файл не найден"},
    {LOG_PATH_NOT_FOUND, "Путь не найден"},
    {LOG_NEW_FILE, "Новый файл"},
    {LOG_NUPD, "NUpd"},
    {LOG_NO_MEMORY, "Недостаточно памяти для выполнения операции"},
    {LOG_CHECKSUM_ABORTED, "Вычисление контрольной суммы прервано"},
    {LOG_NDRV, "NDRV"},
    {LOG_INTEGRITY_ERROR, "Ошибка целостности"},
    {LOG_UNKNOWN_ERROR, "Неизвестная ошибка"},
};

// Names of the hardware mask bits; bit 11 has none.
const char *const kHwBits[] = {
    " BIOS ", " INT_VECTOR ", " CPU ", " MEMORY ", "MEDIA ", " EBIOS ", " IDE ",
    " PCI ", " MBIOS_CRC ", " INT13 ", " MONITOR ", nullptr, " USB ",
};

template <size_t N>
const char *find(const type_entry (&table)[N], uint32_t key)
{
    for (const type_entry &e : table) {
        if (e.type == key)
            return e.text;
    }
    return nullptr;
}

bool is_user_event(uint32_t type)
{
    return type == LOG_USER_CREATE || type == LOG_USER_DELETE || type == LOG_USER_RENAME ||
           type == LOG_USER_ATTRIBUTES;
}

bool is_group_event(uint32_t type)
{
    return type == LOG_GROUP_CREATE || type == LOG_GROUP_DELETE || type == LOG_GROUP_RENAME ||
           type == LOG_GROUP_ATTRIBUTES;
}

// Little-endian value of the first `size` parameter bytes the record holds.
uint32_t param_value(const orva_log_record &record, uint32_t size)
{
    const uint32_t held = record.param_size < ORVA_LOG_PARAM_MAX ? record.param_size : ORVA_LOG_PARAM_MAX;
    uint32_t value = 0;
    for (uint32_t i = 0; i < size && i < held && i < 4; ++i)
        value |= static_cast<uint32_t>(record.param[i]) << (8 * i);
    return value;
}

QString identifier_hex(const orva_log_record &record)
{
    const int held = static_cast<int>(record.param_size < ORVA_TMID_SIZE ? record.param_size : ORVA_TMID_SIZE);
    QByteArray id(ORVA_TMID_SIZE, '\0');
    std::memcpy(id.data(), record.param, static_cast<size_t>(held));
    return QString::fromLatin1(id.toHex().toUpper());
}

// User and group names are shown up to the first "/".
QString cut_at_slash(const QString &text)
{
    const int slash = text.indexOf(QLatin1Char('/'));
    return slash < 0 ? text : text.left(slash);
}

QString two_digits(uint32_t value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

uint32_t param_size(uint32_t type)
{
    switch (type) {
    case LOG_CREATE: return 2;
    case LOG_LOGIN: return 8;
    case LOG_HW_CHECK: return 4;
    case LOG_DISK_CHECK:
    case LOG_FS_CHECK:
    case LOG_INI_CHECK:
    case LOG_REGISTRY_CHECK:
    case LOG_DISABLE_HSTEP: return 1;
    case LOG_USER_ATTRIBUTES:
    case LOG_GROUP_ATTRIBUTES: return 4;
    default: return 0;
    }
}

QString type_text(uint32_t type)
{
    const char *text = find(kTypes, type);
    return text ? QString::fromUtf8(text) : QString();
}

QString result_text(uint32_t result)
{
    const char *text = find(kResults, result);
    return QString::fromUtf8(text ? text : "Внутренняя ошибка системы журналирования");
}

bool has_param_line(uint32_t type)
{
    switch (type) {
    case LOG_CREATE:
    case LOG_LOGIN:
    case LOG_HW_CHECK:
    case LOG_DISK_CHECK:
    case LOG_FS_CHECK:
    case LOG_INI_CHECK:
    case LOG_REGISTRY_CHECK:
    case LOG_DISABLE_HSTEP: return true;
    default: return is_user_event(type) || is_group_event(type);
    }
}

QString param_line(const orva_log_record &record)
{
    const uint32_t type = record.type;
    switch (type) {
    case LOG_CREATE:
        return QStringLiteral("Версия журнала: %1").arg(param_value(record, 2));
    case LOG_LOGIN:
        return QStringLiteral("Идентификатор пользователя: %1").arg(identifier_hex(record));
    case LOG_HW_CHECK:
        return QStringLiteral("Нарушение целостности оборудования: %1")
            .arg(hw_mask_string(param_value(record, 4)));
    case LOG_DISK_CHECK:
        return QStringLiteral("Имя диска: %1").arg(record_text(record));
    case LOG_FS_CHECK:
    case LOG_INI_CHECK:
        return QStringLiteral("Имя файла: %1, атрибуты: %2")
            .arg(record_text(record), attribute_string(static_cast<uint8_t>(param_value(record, 1))));
    case LOG_REGISTRY_CHECK:
        return QStringLiteral("Имя ветви: %1, атрибуты: %2")
            .arg(record_text(record), attribute_string(static_cast<uint8_t>(param_value(record, 1))));
    case LOG_DISABLE_HSTEP:
        return QStringLiteral("Номер шага: %1").arg(param_value(record, 1));
    default:
        if (is_user_event(type))
            return QStringLiteral("Пользователь: %1").arg(cut_at_slash(record_text(record)));
        if (is_group_event(type))
            return QStringLiteral("Группа: %1").arg(cut_at_slash(record_text(record)));
        return QString();
    }
}

QString date_time_text(uint32_t date, uint32_t time)
{
    const uint32_t year = date & 0xFFFFu;
    const uint32_t month = (date >> 16) & 0xFFu;
    const uint32_t day = (date >> 24) & 0xFFu;
    const uint32_t hours = time & 0xFFu;
    const uint32_t minutes = (time >> 8) & 0xFFu;
    const uint32_t seconds = (time >> 16) & 0xFFu;
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(two_digits(day), two_digits(month), QString::number(year), two_digits(hours),
             two_digits(minutes), two_digits(seconds));
}

QString attribute_string(uint8_t attributes)
{
    QString s;
    s += QLatin1Char(attributes & LOG_ATTR_S ? 'S' : 's');
    s += QLatin1Char(attributes & LOG_ATTR_T ? 'T' : 't');
    s += QLatin1Char(attributes & LOG_ATTR_A ? 'A' : 'a');
    s += QLatin1Char(attributes & LOG_ATTR_H ? 'H' : 'h');
    return s;
}

QString hw_mask_string(uint32_t mask)
{
    QString s;
    for (size_t bit = 0; bit < sizeof kHwBits / sizeof kHwBits[0]; ++bit) {
        if ((mask & (1u << bit)) && kHwBits[bit])
            s += QLatin1String(kHwBits[bit]);
    }
    return s;
}

QString record_text(const orva_log_record &record)
{
    if (!record.text)
        return QString();
    return QString::fromUtf8(record.text, static_cast<qsizetype>(strnlen(record.text, ORVA_LOG_TEXT_MAX)));
}

} // namespace log_texts
