/*
 * orva.h - interface of the ORVA trusted-boot module library (liborva.so.0).
 *
 * Every call returns ORVA_OK (0) on success or one of the ORVA_E_* codes below.
 * All calls except orva_init, orva_exit and orva_get_device_info take the
 * handle returned by orva_open_device first.  Integers in stored records are
 * little-endian; strings are NUL-terminated ASCII.
 *
 * The library is not thread-safe: one thread per process talks to the module.
 * An open module is locked against every other opener (ORVA_E_BUSY).
 */
#ifndef ORVA_H
#define ORVA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result codes ------------------------------------------------------ */

#define ORVA_OK                  0
#define ORVA_E_NOT_INITIALISED   7501 /* orva_init has not been called */
#define ORVA_E_NO_DEVICE         7502 /* no module present (state directory missing or uninitialised) */
#define ORVA_E_BUSY              7503 /* the module is open in another process or through another handle */
#define ORVA_E_UNKNOWN_ID        7504 /* logon: no user holds this identifier */
#define ORVA_E_BAD_PASSWORD      7505 /* logon: the password hash does not match */
#define ORVA_E_INVALID_ARG       7506 /* null pointer, bad size, bad number or malformed record */
#define ORVA_E_READ              7507 /* input error: stored module data could not be read */
#define ORVA_E_WRITE             7508 /* output error: module data could not be stored */
#define ORVA_E_NOT_FOUND         7509 /* no record with this number, name or identifier */
#define ORVA_E_EXISTS            7510 /* a record of this name already exists */
#define ORVA_E_FULL              7511 /* no free record number, or the event log cannot hold the record */
#define ORVA_E_BAD_HANDLE        7512 /* the handle is not an open module */
#define ORVA_E_NOMEM             7513 /* out of memory */
#define ORVA_E_DB_CLOSED         7514 /* the record database is not open (orva_db_open) */
#define ORVA_E_LOG_CLOSED        7515 /* the event log is not open (orva_log_open) */
#define ORVA_E_NO_SESSION        7516 /* nobody is logged on */
#define ORVA_E_BLOCKED           7517 /* the account is blocked */
#define ORVA_E_PIK               7518 /* module self-test (PIK) failure */
#define ORVA_E_END               7519 /* event log: no further record */
#define ORVA_E_BAD_IMAGE         7520 /* a database image or configuration record is malformed */
#define ORVA_E_RANGE             7521 /* offset or length outside the addressed area */
#define ORVA_E_NOT_SET           7522 /* the requested key has never been stored */
#define ORVA_E_STATE             7523 /* not possible in this device state (database not formatted) */
#define ORVA_E_CORRUPT           7524 /* a stored module file is damaged; the module refuses it */
#define ORVA_E_IN_USE            7525 /* the group still has users */
#define ORVA_E_UNKNOWN           7599 /* unknown error */

/* ---- sizes and constants ------------------------------------------------ */

#define ORVA_NAME_SIZE           13      /* 12 characters and the terminating NUL */
#define ORVA_TMID_SIZE           8
#define ORVA_XID_HASH_SIZE       32
#define ORVA_PUBLIC_KEY_SIZE     64
#define ORVA_PRIVATE_KEY_SIZE    32
#define ORVA_HOURS_SIZE          336     /* 7 days x 24 hours x 2 half hours */
#define ORVA_DB_RECORD_SIZE      508
#define ORVA_DB_IMAGE_SIZE       262144  /* orva_read_db / orva_write_db */
#define ORVA_DB_MAX_RECORDS      516     /* record numbers 1..516 */
#define ORVA_CONF_SIZE           12      /* orva_db_conf_get / orva_db_conf_write */
#define ORVA_IA_DATA_SIZE        112     /* hand-over block, orva_save_ia_data */
#define ORVA_AUX_DATA_SIZE       4096
#define ORVA_IC_DATA_DEFAULT_SIZE 1054720
#define ORVA_LOG_CAPACITY        65536   /* bytes of stored log records; the oldest go first */
#define ORVA_LOG_PARAM_MAX       8
#define ORVA_LOG_TEXT_MAX        4095    /* longest text parameter of a log record, in bytes */

/* Device states (orva_device_state.state). */
#define ORVA_STATE_FORMATTED     0  /* database formatted, chief administrator not yet set up */
#define ORVA_STATE_NEW           1  /* new module: database never formatted */
#define ORVA_STATE_ERASED        2  /* database erased (orva_erase_database) */
#define ORVA_STATE_READY         3  /* normal operation */

/* Device classes. */
#define ORVA_DEV_CLASS_1         1
#define ORVA_DEV_CLASS_2         2

/* ---- types ------------------------------------------------------------- */

typedef struct orva_device *orva_handle_t;

#pragma pack(push, 1)

/* Touch-memory identifier: family code, six serial bytes, 1-Wire CRC-8. */
typedef struct orva_tmid {
    uint8_t family;
    uint8_t serial[6];
    uint8_t crc;
} orva_tmid;

/* Password hash: device class, then PBKDF2-HMAC-SHA256 of the password
 * salted with the device class and the identifier.  A hash whose 32 bytes are
 * all 0x00 or all 0xFF is "not set". */
typedef struct orva_xid_t {
    uint32_t dev_class;
    uint8_t hash[ORVA_XID_HASH_SIZE];
} orva_xid_t;

/* User and group record. Users and groups share the layout and the numbers. */
typedef struct orva_db_record {
    char name[ORVA_NAME_SIZE];          /*   0 */
    char group[ORVA_NAME_SIZE];         /*  13 empty in a group record */
    orva_tmid tmid;                     /*  26 all zero when none is assigned */
    uint8_t unused_34[2];               /*  34 */
    orva_xid_t xid;                     /*  36 */
    uint8_t public_key[ORVA_PUBLIC_KEY_SIZE]; /* 72 */
    int32_t exp_day;                    /* 136 password expiration, -1 when unset */
    int32_t exp_month;                  /* 140 */
    int32_t exp_year;                   /* 144 */
    uint8_t group_marker;               /* 148 3 in a new group record */
    uint8_t unused_149[3];              /* 149 */
    uint32_t access;                    /* 152 administrator rights, bits 0-3 */
    uint8_t admin;                      /* 156 1 for members of ADMINS */
    uint8_t blocked;                    /* 157 */
    uint8_t is_group;                   /* 158 1 group, 0 user */
    uint8_t ia_mask;                    /* 159 hand-over mask */
    uint8_t who_changes;                /* 160 1 user and administrator, else administrator only */
    uint8_t generate_only;              /* 161 */
    uint8_t alphabet;                   /* 162 bit 0 digits, 1 upper, 2 lower, 3 special */
    uint8_t min_length;                 /* 163 0-12 */
    uint8_t change_attempts;            /* 164 0-5 */
    uint8_t validity;                   /* 165 days; 255: see validity_long; 0: no expiry */
    uint8_t hours[ORVA_HOURS_SIZE];     /* 166 one byte per half hour, Monday first; 0 forbids */
    uint8_t device_access[2];           /* 502 */
    uint32_t validity_long;             /* 504 validity in days when validity == 255 */
} orva_db_record;

/* Device state record (orva_get_device_state). */
typedef struct orva_device_state {
    uint32_t state;                     /* ORVA_STATE_* */
    uint32_t max_ic_data_size;          /* size of the integrity-data area in bytes */
    uint32_t dev_class;                 /* 1 or 2 */
    uint32_t record_count;              /* records in the database */
    uint32_t log_record_count;          /* records in the event log */
    uint8_t reserved[12];
} orva_device_state;

/* Device information (orva_get_device_info). The first byte is the class. */
typedef struct orva_device_info {
    uint8_t dev_class;                  /* 1 or 2 */
    uint8_t hw_version[3];
    uint32_t serial;                    /* 0: unknown */
    char firmware[24];                  /* NUL-terminated firmware description */
} orva_device_info;

/* Event-log record.  Owned by the library: records made by
 * orva_log_create_record are released with orva_log_destroy_record; records
 * returned by the first/next calls stay valid until the next such call. */
typedef struct orva_log_record {
    uint32_t type;                      /*  0 one bit */
    uint32_t result;                    /*  4 */
    uint32_t date;                      /*  8 year bits 0-15, month 16-23, day 24-31 */
    uint32_t time;                      /* 12 hours bits 0-7, minutes 8-15, seconds 16-23 */
    uint8_t param[ORVA_LOG_PARAM_MAX];  /* 16 fixed-size parameter, param_size bytes used */
    char *text;                         /* 24 text parameter, NUL-terminated ASCII, never null */
    uint32_t param_size;                /*    bytes of param in use (0-8) */
} orva_log_record;

#pragma pack(pop)

/* ---- connection ---------------------------------------------------------- */

/* Initialises the library. flags: must be 0. The module's state directory is
 * $ORVA_SIM_DIR, else /var/lib/orva-sim. */
int orva_init(int flags);
/* Releases the library; closes handles still open. flags: must be 0. */
int orva_exit(int flags);
/* Opens the module. index: module number, 0 for the first. flags: must be 0.
 * ORVA_E_NO_DEVICE without a module, ORVA_E_BUSY when it is open elsewhere,
 * ORVA_E_CORRUPT when its device file is damaged. */
int orva_open_device(int index, orva_handle_t *handle, int flags);
int orva_close_device(orva_handle_t handle);

/* ---- device -------------------------------------------------------------- */

int orva_get_device_state(orva_handle_t handle, orva_device_state *state);
/* context and device: must be null (the first module is described). Works
 * without orva_init and without an open handle. */
int orva_get_device_info(void *context, void *device, orva_device_info *info);
/* Returns the device class (1 or 2) of the open module, 0 for a bad handle. */
uint32_t orva_get_dev_class_by_handle(orva_handle_t handle);

/* ---- formatting ---------------------------------------------------------- */

/* Empties the database and records the four version bytes; the device state
 * becomes ORVA_STATE_FORMATTED until the record "SUPERVISOR" holds an
 * identifier and a password hash, then ORVA_STATE_READY. The logon session
 * ends. */
int orva_format_database(orva_handle_t handle, const uint8_t version[4]);
/* Empties the database; the device state becomes ORVA_STATE_ERASED. */
int orva_erase_database(orva_handle_t handle);
/* Empties the event log. */
int orva_format_log(orva_handle_t handle);

/* ---- records --------------------------------------------------------------
 * Record numbers run from 1; a deleted record's number is reused. Reading
 * works at any time in a formatted database; adding, modifying and deleting
 * need orva_db_open. Records are checked on the way in: the name must be
 * 1-12 characters, NUL-terminated; a user's group must exist. */

/* flags: must be 0. ORVA_E_STATE unless the database is formatted. */
int orva_db_open(orva_handle_t handle, int flags);
int orva_db_close(orva_handle_t handle);
/* A new user record for the group with the given number: the group's
 * settings, its name as the group, no name, identifier, password or key,
 * expiration date unset. */
int orva_db_get_user_template(orva_handle_t handle, uint16_t group_no, orva_db_record *record);
/* number (may be null) receives the new record's number. */
int orva_db_add_user(orva_handle_t handle, const orva_db_record *record, uint16_t *number);
int orva_db_add_group(orva_handle_t handle, const orva_db_record *record, uint16_t *number);
int orva_db_modify_user(orva_handle_t handle, uint16_t number, const orva_db_record *record);
/* A renamed group is renamed in its users' records in the same write. */
int orva_db_modify_group(orva_handle_t handle, uint16_t number, const orva_db_record *record);
int orva_db_delete_user(orva_handle_t handle, uint16_t number);
/* ORVA_E_IN_USE while users belong to the group. */
int orva_db_delete_group(orva_handle_t handle, uint16_t number);
int orva_read_db_record(orva_handle_t handle, uint16_t number, orva_db_record *record);
/* name: length bytes, no terminator needed. */
int orva_db_find_user_by_name(orva_handle_t handle, const char *name, size_t length, uint16_t *number);
int orva_db_find_group_by_name(orva_handle_t handle, const char *name, size_t length, uint16_t *number);
/* An all-zero or all-0xFF identifier and the "no identifier" placeholder
 * FF 'U' 'S' 'E' 'R' ' ' ' ' FF match nobody. */
int orva_db_find_user_by_id(orva_handle_t handle, const orva_tmid *tmid, uint16_t *number);
/* Lists: *records receives a malloc'ed array the caller frees with free();
 * it is null when *count is 0.
 * orva_db_get_record_list: element i is record number i + 1, for every number
 * up to the highest in use; free numbers are all-zero records (empty name).
 * orva_db_get_group_list: the groups, by number.
 * orva_db_get_user_list_by_group: the users of the group, by number. */
int orva_db_get_record_list(orva_handle_t handle, orva_db_record **records, uint16_t *count);
int orva_db_get_group_list(orva_handle_t handle, orva_db_record **records, uint16_t *count);
int orva_db_get_user_list_by_group(orva_handle_t handle, uint16_t group_no, orva_db_record **records, uint16_t *count);
/* The raw database image, ORVA_DB_IMAGE_SIZE bytes. size must be
 * ORVA_DB_IMAGE_SIZE. A malformed image is refused with ORVA_E_BAD_IMAGE and
 * the module keeps its database. Writing a valid image formats the module;
 * the logon and the hand-over block stay when the logged-on user's number
 * still holds a user of the same name. */
int orva_read_db(orva_handle_t handle, void *image, size_t size);
int orva_write_db(orva_handle_t handle, const void *image, size_t size);

/* ---- configuration ------------------------------------------------------
 * The 12-byte configuration record:
 *   0 identifier time-out (s)   1 password time-out (s)   2 bad-logon count
 *   3 identifier page byte      4 watchdog time-out (u32) 8 reserved, zero
 * A new module holds 20, 20, 3, 0xFE (page 1 complemented), watchdog 0. */

int orva_db_conf_get_tm_timeout(orva_handle_t handle, uint8_t *value);
int orva_db_conf_get_pw_timeout(orva_handle_t handle, uint8_t *value);
int orva_db_conf_get_max_bad_count(orva_handle_t handle, uint8_t *value);
int orva_db_conf_get_tm_page_no(orva_handle_t handle, uint8_t *value);
int orva_db_conf_write_tm_timeout(orva_handle_t handle, uint8_t value);
int orva_db_conf_write_pw_timeout(orva_handle_t handle, uint8_t value);
int orva_db_conf_write_max_bad_count(orva_handle_t handle, uint8_t value);
int orva_db_conf_write_tm_page_no(orva_handle_t handle, uint8_t value);
int orva_get_watchdog_timeout(orva_handle_t handle, uint32_t *value);
int orva_write_watchdog_timeout(orva_handle_t handle, uint32_t value);
/* conf: ORVA_CONF_SIZE bytes. A record with non-zero reserved bytes is
 * refused with ORVA_E_BAD_IMAGE. */
int orva_db_conf_get(orva_handle_t handle, void *conf);
int orva_db_conf_write(orva_handle_t handle, const void *conf);

/* ---- logon ----------------------------------------------------------------
 * Dates come from the module clock (the host clock, or $ORVA_SIM_CLOCK as
 * "YYYY-MM-DD HH:MM:SS"). */

/* Password hash of a NUL-terminated ASCII password (at most 255 bytes) for an
 * identifier. */
int orva_make_xid(orva_handle_t handle, uint32_t dev_class, const orva_tmid *tmid,
                  const char *password, orva_xid_t *xid);
/* Logs the user holding the identifier on, replacing any earlier logon.
 * ORVA_E_UNKNOWN_ID when no user holds it, ORVA_E_BAD_PASSWORD when the hash
 * differs from the record's or the record holds no hash. Account rules are
 * the caller's. The logon is kept by the module across handles and
 * processes until orva_logout, a replacing logon, formatting or erasing the
 * database, or deletion of the user. */
int orva_login(orva_handle_t handle, const orva_tmid *tmid, const orva_xid_t *xid);
/* ORVA_E_NO_SESSION when nobody is logged on. */
int orva_logout(orva_handle_t handle);
/* number and admin may be null. ORVA_E_NO_SESSION when nobody is logged on. */
int orva_get_current_user(orva_handle_t handle, uint16_t *number, uint8_t *admin);
/* Returns 1 when the hash is set, 0 when not (or for a null pointer). */
int orva_xid_is_set(orva_handle_t handle, const orva_xid_t *xid);
/* Makes the hash "not set" (zero bytes), keeping the device class. */
int orva_xid_reset(orva_handle_t handle, orva_xid_t *xid);
/* 0 when the two hashes are equal, else ORVA_E_BAD_PASSWORD. */
int orva_xid_compare(orva_handle_t handle, const orva_xid_t *a, const orva_xid_t *b);
/* Puts the hash into the record (in memory only) and recomputes its
 * expiration date as orva_update_password_expiration_date does. */
int orva_update_password(orva_handle_t handle, const orva_xid_t *xid, orva_db_record *record);
/* In memory: expiration date := today + the record's validity in days
 * (validity 255: validity_long); validity 0 sets it to -1, -1, -1.
 * ORVA_E_INVALID_ARG when $ORVA_SIM_CLOCK is malformed or the date would
 * pass the year 9999. */
int orva_update_password_expiration_date(orva_handle_t handle, orva_db_record *record);
/* Stores a new hash in the logged-on user's record and recomputes its
 * expiration date. ORVA_E_NO_SESSION when nobody is logged on. */
int orva_change_current_user_password(orva_handle_t handle, const orva_xid_t *xid);

/* ---- event log ------------------------------------------------------------ */

/* flags: reserved, any value is accepted. Appending needs the open log;
 * reading (first/next) does not. */
int orva_log_open(orva_handle_t handle, int flags);
int orva_log_close(orva_handle_t handle);
/* Makes a record stamped with the module clock. param may be null when
 * param_size is 0; param_size at most ORVA_LOG_PARAM_MAX; text may be null
 * (empty text). */
int orva_log_create_record(orva_handle_t handle, uint32_t type, uint32_t result,
                           const void *param, uint32_t param_size, const char *text,
                           orva_log_record **record);
/* Appends to the open log; when the log is full the oldest records go. */
int orva_log_append(orva_handle_t handle, const orva_log_record *record);
int orva_log_destroy_record(orva_handle_t handle, orva_log_record *record);
/* Oldest record first. ORVA_E_END after the last one (and for an empty log). */
int orva_log_get_first_record(orva_handle_t handle, orva_log_record **record);
int orva_log_get_next_record(orva_handle_t handle, orva_log_record **record);

/* ---- stored data ------------------------------------------------------------ */

/* Integrity-data area of max_ic_data_size bytes, by offset and length.
 * ORVA_E_RANGE when offset + length passes the end; nothing is written then. */
int orva_save_ic_data(orva_handle_t handle, const void *data, uint32_t offset, uint32_t length);
int orva_load_ic_data(orva_handle_t handle, void *data, uint32_t offset, uint32_t length);
/* Auxiliary area of ORVA_AUX_DATA_SIZE bytes, by offset and length. */
int orva_save_aux_data(orva_handle_t handle, const void *data, uint32_t offset, uint32_t length);
int orva_load_aux_data(orva_handle_t handle, void *data, uint32_t offset, uint32_t length);
/* Hand-over block for the operating system, ORVA_IA_DATA_SIZE bytes. */
int orva_save_ia_data(orva_handle_t handle, const void *block);
/* ORVA_E_NOT_SET when no block was saved since the database was formatted. */
int orva_load_ia_data(orva_handle_t handle, void *block);
/* Workstation private key, ORVA_PRIVATE_KEY_SIZE bytes. get: ORVA_E_NOT_SET
 * when none was ever written (the buffer is then zero-filled). */
int orva_iares_get_ws_private_key(orva_handle_t handle, uint8_t *key);
int orva_iares_write_ws_private_key(orva_handle_t handle, const uint8_t *key);
/* Bytes from the module's random generator. */
int orva_get_random_bytes(orva_handle_t handle, void *buffer, uint32_t length);

/* Short English description of a code, for diagnostics. Never null. */
const char *orva_strerror(int code);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(orva_db_record) == ORVA_DB_RECORD_SIZE, "orva_db_record is 508 bytes");
static_assert(offsetof(orva_db_record, xid) == 36, "hash at 36");
static_assert(offsetof(orva_db_record, exp_day) == 136, "expiration at 136");
static_assert(offsetof(orva_db_record, access) == 152, "access at 152");
static_assert(offsetof(orva_db_record, hours) == 166, "hours at 166");
static_assert(offsetof(orva_db_record, validity_long) == 504, "validity at 504");
static_assert(sizeof(orva_tmid) == ORVA_TMID_SIZE, "orva_tmid is 8 bytes");
static_assert(sizeof(orva_xid_t) == 36, "orva_xid_t is 36 bytes");
static_assert(offsetof(orva_log_record, text) == 24, "log text pointer at 24");
#else
_Static_assert(sizeof(orva_db_record) == ORVA_DB_RECORD_SIZE, "orva_db_record is 508 bytes");
#endif

#endif /* ORVA_H */
