// The module's user and group database, its configuration values, the keys,
// and the hand-over block left for the operating system. One process-wide
// object.
//
// Results are 0 on success and -1 or a library code on failure unless said
// otherwise; failures of operations that talk to the user are shown as
// critical boxes titled "Ошибка".
#ifndef ORVA_MODULE_ORVA_FUN_DB_H
#define ORVA_MODULE_ORVA_FUN_DB_H

#include "module/ia_block.h"

#include <orva.h>

#include <QString>

#include <cstdint>
#include <optional>

class orva_initialization;

class orva_fun_db {
public:
    static orva_fun_db *object();

    // ---- database ----------------------------------------------------------
    // orva_db_open; nothing when already open.
    int open_db();
    // orva_db_close; -1 when not open.
    int close_db();
    int is_db_open() const { return m_db_open; }

    // The default records of a freshly formatted module.
    int create_default_group(const char *name, uint8_t admin);
    int create_default_supervisor();
    // Opens the database and adds "ADMINS", "EVERYONE" and "SUPERVISOR"; a
    // failure is kept as the low-level error text.
    int create_default_records();

    // A user in "ADMINS" becomes administrator; in any other group the access
    // attributes and the administrator flag are cleared.
    int create_user_record(orva_db_record &record);
    // Adds the group, then clears the access attributes of `record`.
    int create_group_record(orva_db_record &record);
    int update_user_record(uint16_t number, const orva_db_record &record);
    int update_group_record(uint16_t number, const orva_db_record &record);
    // The record's number, looked up by its name; -1 when absent.
    int user_record_no(const orva_db_record &record);
    int group_record_no(const orva_db_record &record);
    int delete_user_record(const orva_db_record &record);
    int delete_group_record(const orva_db_record &record);
    // 1 when a user or a group of this name exists, else 0.
    int check_name(const QString &name);

    // The "EVERYONE" group record; nothing when absent or when the list
    // cannot be read (shown).
    std::optional<orva_db_record> template_group();
    // The logged-on user's record (failures shown).
    std::optional<orva_db_record> get_current_record();
    // The same through orva_read_db_record, without messages.
    std::optional<orva_db_record> get_current_record_low_level();

    // ---- configuration -----------------------------------------------------
    // The library's code; the value is written only on success.
    int get_tm_timeout(uint8_t *seconds);
    int get_pw_timeout(uint8_t *seconds);
    int get_max_bad_count(uint8_t *count);
    // The stored identifier-page byte (the complement of the page number).
    int get_tm_page_no(uint8_t *stored);
    int set_tm_timeout(uint8_t seconds);
    int set_pw_timeout(uint8_t seconds);
    int set_max_bad_count(uint8_t count);
    int set_tm_page_no(uint8_t stored);
    int get_watchdog_timeout(uint32_t *value);
    int set_watchdog_timeout(uint32_t value);

    int get_start_nirun() const { return m_start_nirun; }
    void save_start_nirun(int value) { m_start_nirun = value; }

    // ---- keys --------------------------------------------------------------
    // The user key kept in the identifier page the configuration names.
    // 0, or -1 (or the library code) on failure.
    int read_private_key(const orva_tmid &tmid, uint8_t key[ORVA_PRIVATE_KEY_SIZE]);
    // Writes the key over the page (one write, nothing cleared first) and
    // reads it back; -1 when they differ.
    int write_private_key(const orva_tmid &tmid, const uint8_t key[ORVA_PRIVATE_KEY_SIZE]);
    // What a key replacement left in the identifier.
    enum key_write {
        KEY_WRITTEN,   // the page holds the new key
        KEY_UNREAD,    // the page could not be read: nothing written
        KEY_OLD_KEPT,  // the write failed; the page holds the old key
        KEY_OLD_LOST,  // the write failed and the old key could not be put back
    };
    // Puts `key` into the page in place of the key there, which is kept in
    // `previous`: the page is read, then written and read back unless it
    // holds the key already. When the write fails and the page no longer
    // holds the old key, the old key is written back.
    key_write replace_private_key(const orva_tmid &tmid, const uint8_t key[ORVA_PRIVATE_KEY_SIZE],
                                  uint8_t previous[ORVA_PRIVATE_KEY_SIZE]);
    // 0 when public_key is the GOST R 34.10-94 public key of private_key.
    int check_keys(const uint8_t private_key[ORVA_PRIVATE_KEY_SIZE],
                   const uint8_t public_key[ORVA_PUBLIC_KEY_SIZE]);
    // Generates a GOST R 34.10-2001 private key (CryptoPro-A) from the
    // module's random generator and stores it as the workstation key.
    int generate_ws_key();

    // ---- hand-over block ---------------------------------------------------
    void set_selected_user_pr_key(const uint8_t key[ORVA_PRIVATE_KEY_SIZE]);
    // Name, identifier, hand-over mask and operating-system flags of the
    // current user; the start-NIRUN record for an administrator.
    int get_iadata();
    // Fills the block, applies the user's hand-over mask, stores it and wipes
    // the block and the selected user's key.
    int set_iadata();
    // Wipes the block and the selected user's key (an abandoned logon).
    void wipe_ia_data();
    // Puts the password and the selected user's key into the block when the
    // record is the current user's.
    void update_ia_data(const orva_db_record &record, const QString &password);

    const orva_ia_block &ia_block() const { return m_ia; }
    int ia_mask() const { return m_ia_mask; }

    const QString &current_user_name() const { return m_current_user_name; }
    void set_current_user_name(const QString &name) { m_current_user_name = name; }

private:
    orva_fun_db();
    orva_handle_t handle() const;
    // orva_db_open without a message: the library's code.
    int open_db_quietly();

    orva_initialization *m_init;
    orva_ia_block m_ia{};
    QString m_current_user_name;
    uint8_t m_selected_user_key[ORVA_PRIVATE_KEY_SIZE] = {};
    int m_start_nirun = 0;
    int m_db_open = 0;
    int m_ia_mask = 0;
};

#endif
