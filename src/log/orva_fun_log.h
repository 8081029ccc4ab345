// The module's event log: the single object through which records are
// appended, and the model the log page shows. One process-wide object.
#ifndef ORVA_LOG_ORVA_FUN_LOG_H
#define ORVA_LOG_ORVA_FUN_LOG_H

#include <QString>

#include <cstdint>

class log_tree_model;

class orva_fun_log {
public:
    // Version written into the first record of a fresh log.
    static constexpr uint16_t kLogVersion = 260;

    static orva_fun_log *object();

    // orva_log_open(handle, 0). -1 when already open or on a library code
    // (shown); 0 otherwise.
    int log_open();
    // orva_log_close. -1 when not open or on a library code (shown).
    int log_close();

    // Appends one record; `parameter` holds the fixed parameter of the type
    // (log_texts::param_size bytes, may be null when there is none). A failure
    // is shown and gives -1. The record is appended to the model.
    int append_log_record(uint32_t type, uint32_t result, const void *parameter, const QString &text);

    // Empties the log and writes its first record ("Создание журнала",
    // version 260). 0, or -1 when the log could not be emptied or reopened.
    int clear_log();

    // One file-check record (type 32) per file or directory examined by the
    // file check, from its result flags (see file_check_record).
    int append_log_record_file_check(const QString &path, uint32_t check_flags);
    int append_log_record_dir_check(const QString &path, uint32_t check_flags);

    // Result code and attribute byte of a file-check record.
    struct check_record {
        uint32_t result;
        uint8_t attributes;
    };
    static check_record file_check_record(uint32_t check_flags);

    // Result code of a library code; LOG_UNMAPPED (-1) for one not listed.
    static uint32_t acia_to_log_code(int code);

    log_tree_model *model() const { return m_model; }
    int is_open() const { return m_open; }

private:
    orva_fun_log();
    // orva_log_create_record, orva_log_append, orva_log_destroy_record; a
    // failure is shown and gives -1. The model is left as it is.
    int write_record(uint32_t type, uint32_t result, const void *parameter, const QString &text);

    log_tree_model *m_model;
    int m_open = 0;
};

#endif
