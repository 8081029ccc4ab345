// Device-level operations: preparing a freshly formatted module, the session
// record, logon and logoff. One process-wide object.
#ifndef ORVA_MODULE_ORVA_FUN_LOW_LEVEL_H
#define ORVA_MODULE_ORVA_FUN_LOW_LEVEL_H

#include <orva.h>

#include <QString>

class orva_initialization;

class orva_fun_low_level {
public:
    // Results of initialize_device().
    enum device_start {
        START_FAILED = -1,
        START_NORMAL = 0,    // chief administrator set up: logon
        START_FORMATTED = 1, // new or erased module, formatted now
        START_NO_SUPERVISOR = 2, // formatted, chief administrator not yet set up
    };

    static orva_fun_low_level *object();

    // Reads the device state and prepares the module for the run; the
    // failure text is kept in error_text(). One of device_start.
    int initialize_device();
    // Stores the first integrity data of a freshly formatted module: the
    // current hardware and partition-table inventories and an empty file
    // check list. The first failure stops it with its text kept: 0 or -1.
    int initialize_ic();
    // Empties the event log (orva_fun_log::clear_log). 0 or -1.
    int initialize_log();
    // Appends the start-of-session record. 0 or -1.
    int start_session();

    // orva_login's code; -1 without a call when already logged on.
    int log_in(const orva_tmid &tmid, const orva_xid_t &xid);
    // -1 when not logged on; 0 without a call when no logoff is required;
    // else orva_logout's code (0, 7505 and 7516, nobody logged on, all end the logon here).
    int log_out();
    int logged_in() const { return m_logged_in; }

    bool getIsLogOutRequired() const { return m_log_out_required; }
    void setIsLogOutRequired(bool required) { m_log_out_required = required; }

    // The last failure of initialize_device and its steps, in words.
    const QString &error_text() const { return m_error_text; }
    void set_error_text(const QString &text) { m_error_text = text; }

    // The device state read by initialize_device (kept for the whole run).
    const orva_device_state &device_state() const { return m_device_state; }

private:
    orva_fun_low_level();

    orva_initialization *m_init;
    QString m_error_text;
    int m_logged_in = 0;
    orva_device_state m_device_state{};
    bool m_log_out_required = false;
};

#endif
