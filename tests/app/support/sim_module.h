// A simulated module per test: a temporary state directory named by
// ORVA_SIM_DIR, orva-sim to prepare it, and direct library access to look at
// it afterwards.
#ifndef ORVA_TESTS_APP_SIM_MODULE_H
#define ORVA_TESTS_APP_SIM_MODULE_H

#include <orva.h>

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>

class sim_module {
public:
    // The module directory (<temporary>/module) does not exist yet.
    sim_module();
    ~sim_module();
    sim_module(const sim_module &) = delete;
    sim_module &operator=(const sim_module &) = delete;

    const QString &dir() const { return m_dir; }
    QString temp_path() const { return m_temp.path(); }

    // Runs orva-sim on this module; true when it exits with 0.
    bool sim(const QStringList &args, QString *output = nullptr) const;
    // A new module: device class 1 or 2, state 1 (new) or 2 (erased).
    bool init(int dev_class = 1, int state = ORVA_STATE_NEW) const;
    // A module formatted with the default records (state 0).
    bool init_formatted(int dev_class = 1) const;

private:
    QTemporaryDir m_temp;
    QString m_dir;
    QByteArray m_saved_env;
    bool m_had_env;
};

// One event-log record as read back.
struct log_entry {
    uint32_t type = 0;
    uint32_t result = 0;
    uint32_t date = 0;
    uint32_t time = 0;
    QByteArray param;
    QByteArray text;
};

// The module opened by the test itself through the library.
class module_session {
public:
    module_session();
    ~module_session();
    module_session(const module_session &) = delete;
    module_session &operator=(const module_session &) = delete;

    bool ok() const { return m_code == ORVA_OK; }
    int code() const { return m_code; }
    orva_handle_t handle() const { return m_handle; }

    orva_device_state state() const;
    // Every record number from 1 up to the highest in use.
    QList<orva_db_record> records() const;
    QList<log_entry> log() const;

private:
    orva_handle_t m_handle = nullptr;
    int m_code;
};

// The records of an open module, and its log.
QList<orva_db_record> read_records(orva_handle_t handle);
QList<log_entry> read_log(orva_handle_t handle);

// Another process holding the module open.
class module_holder {
public:
    // Starts the holder; true once it has the device open.
    bool start();
    ~module_holder();

private:
    QProcess m_process;
};

// The first identifier on the reader (tmid_init must have been called).
bool presented_identifier(orva_tmid *tmid, uint32_t *state = nullptr);

// Bytes of a record, for comparisons that show where two records differ.
QByteArray record_bytes(const orva_db_record &record);

#endif
