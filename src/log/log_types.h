// Event types and result codes of the module's event log.
#ifndef ORVA_LOG_LOG_TYPES_H
#define ORVA_LOG_LOG_TYPES_H

#include <cstdint>

// Event type: one bit.
enum log_type : uint32_t {
    LOG_CREATE = 1u,                  // "Создание журнала", 16-bit version
    LOG_SESSION_START = 2u,           // "Начало сессии"
    LOG_LOGIN = 4u,                   // "Логин пользователя", 8-byte identifier
    LOG_HW_CHECK = 8u,                // 32-bit hardware mask
    LOG_DISK_CHECK = 16u,             // disk name as text
    LOG_FS_CHECK = 32u,               // file name as text, attribute byte
    LOG_INI_CHECK = 64u,
    LOG_REGISTRY_CHECK = 128u,
    LOG_DISABLE_HSTEP = 256u,         // step number byte
    LOG_DB_EMPTY = 512u,
    LOG_PASSWORD_CHANGE = 1024u,
    LOG_USER_CREATE = 2048u,          // user events: the user's name as text
    LOG_USER_DELETE = 4096u,
    LOG_USER_RENAME = 8192u,
    LOG_USER_ATTRIBUTES = 16384u,
    LOG_GROUP_CREATE = 32768u,        // group events: the group's name as text
    LOG_GROUP_DELETE = 65536u,
    LOG_GROUP_RENAME = 131072u,
    LOG_GROUP_ATTRIBUTES = 262144u,
    LOG_DB_IMPORT = 524288u,
    LOG_DB_EXPORT = 1048576u,
    LOG_HW_LIST_CHANGE = 2097152u,
    LOG_DISK_LIST_CHANGE = 4194304u,
    LOG_FS_LIST_CHANGE = 8388608u,
    LOG_NIRUN_OFF = 16777216u,        // "Отключение Nirun"
    LOG_UNKNOWN_EVENT = 2147483648u,
};

// Result code.
enum log_result : uint32_t {
    LOG_OK = 0u,
    LOG_TM_TIMEOUT = 1u,
    LOG_PW_TIMEOUT = 2u,
    LOG_UNKNOWN_USER = 4u,
    LOG_BAD_PASSWORD = 8u,
    LOG_TIME_LIMIT = 16u,
    LOG_BLOCKED = 32u,
    LOG_PIK = 64u,
    LOG_CLOCK = 128u,
    LOG_IO_ERROR = 256u,
    LOG_IC_DAMAGED = 512u,
    LOG_FILE_NOT_FOUND = 1024u,
    LOG_PATH_NOT_FOUND = 2048u,
    LOG_NEW_FILE = 4096u,
    LOG_NUPD = 8192u,
    LOG_NO_MEMORY = 16384u,
    LOG_CHECKSUM_ABORTED = 32768u,
    LOG_NDRV = 65536u,
    LOG_INTEGRITY_ERROR = 131072u,
    LOG_UNKNOWN_ERROR = 2147483648u,
    // acia_to_log_code for a library code it does not know (-1).
    LOG_UNMAPPED = 0xFFFFFFFFu,
};

// Attribute byte of the file and registry check records.
enum log_attribute_bits : uint8_t {
    LOG_ATTR_S = 1u << 0,
    LOG_ATTR_T = 1u << 1,
    LOG_ATTR_A = 1u << 2,
    LOG_ATTR_H = 1u << 3,
};

#endif
