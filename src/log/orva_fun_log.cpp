#include "log/orva_fun_log.h"

#include "log/log_texts.h"
#include "log/log_tree_model.h"
#include "log/log_types.h"
#include "module/orva_initialization.h"
#include "ui/message.h"

#include <orva.h>

namespace {

const QString kErrorTitle = QStringLiteral("Ошибка");

orva_handle_t module_handle()
{
    return orva_initialization::object()->handle();
}

// Result flags of a file or directory check.
enum check_flags : uint32_t {
    CHECK_NEW = 0x1,
    CHECK_MISSING = 0x2,
    CHECK_HASH = 0x4,
    CHECK_MODE = 0x8,
    CHECK_UID = 0x10,
    CHECK_GID = 0x20,
    CHECK_SIZE = 0x40,
    CHECK_MTIME = 0x80,
};

// The text as stored: UTF-8 (plain ASCII stays as it is), cut to what a
// record holds at a character boundary.
QByteArray stored_text(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= ORVA_LOG_TEXT_MAX)
        return bytes;
    qsizetype end = ORVA_LOG_TEXT_MAX;
    while (end > 0 && (static_cast<uint8_t>(bytes[end]) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

} // namespace

orva_fun_log *orva_fun_log::object()
{
    static orva_fun_log *instance = new orva_fun_log;
    return instance;
}

orva_fun_log::orva_fun_log()
    : m_model(new log_tree_model)
{
}

int orva_fun_log::log_open()
{
    if (m_open)
        return -1;
    if (orva_log_open(module_handle(), 0) != ORVA_OK) {
        message::critical(nullptr, kErrorTitle, QStringLiteral("Ошибка открытия журнала."));
        return -1;
    }
    m_open = 1;
    return 0;
}

int orva_fun_log::log_close()
{
    if (!m_open)
        return -1;
    const int code = orva_log_close(module_handle());
    m_open = 0;
    if (code != ORVA_OK) {
        message::critical(nullptr, kErrorTitle, QStringLiteral("Ошибка закрытия журнала."));
        return -1;
    }
    return 0;
}

int orva_fun_log::append_log_record(uint32_t type, uint32_t result, const void *parameter,
                                    const QString &text)
{
    if (write_record(type, result, parameter, text) != 0)
        return -1;
    // The new record is appended to the model, which is not rebuilt: the
    // check appends one record per examined file.
    m_model->updateModelData(module_handle());
    return 0;
}

int orva_fun_log::write_record(uint32_t type, uint32_t result, const void *parameter, const QString &text)
{
    const orva_handle_t handle = module_handle();
    const uint32_t size = parameter ? log_texts::param_size(type) : 0;
    const QByteArray bytes = stored_text(text);
    orva_log_record *record = nullptr;
    int code = orva_log_create_record(handle, type, result, parameter, size, bytes.constData(), &record);
    if (code == ORVA_OK) {
        code = orva_log_append(handle, record);
        orva_log_destroy_record(handle, record);
    }
    if (code != ORVA_OK) {
        message::critical(nullptr, kErrorTitle, QStringLiteral("Ошибка при добавлении записи в журнал."));
        return -1;
    }
    return 0;
}

int orva_fun_log::clear_log()
{
    const orva_handle_t handle = module_handle();
    orva_log_close(handle);
    int result = -1;
    if (orva_format_log(handle) != ORVA_OK) {
        // The old log is still there: keep it open for the records to come.
        orva_log_open(handle, 0);
    } else if (orva_log_open(handle, 0) == ORVA_OK) {
        const uint8_t version[2] = {static_cast<uint8_t>(kLogVersion & 0xFF),
                                    static_cast<uint8_t>(kLogVersion >> 8)};
        result = write_record(LOG_CREATE, LOG_OK, version, QString());
    }
    // Once, whatever became of the log.
    m_model->setupModelData(handle);
    return result;
}

orva_fun_log::check_record orva_fun_log::file_check_record(uint32_t flags)
{
    check_record r{LOG_OK, 0};
    if (flags & CHECK_MISSING)
        r.result = LOG_FILE_NOT_FOUND;
    else if (flags & CHECK_NEW)
        r.result = LOG_NEW_FILE;
    if (flags & CHECK_HASH) {
        r.attributes |= LOG_ATTR_H;
        r.result = LOG_INTEGRITY_ERROR;
    }
    if (flags & (CHECK_MODE | CHECK_UID | CHECK_GID)) {
        r.attributes |= LOG_ATTR_A;
        r.result = LOG_INTEGRITY_ERROR;
    }
    if (flags & CHECK_SIZE) {
        r.attributes |= LOG_ATTR_S;
        r.result = LOG_INTEGRITY_ERROR;
    }
    if (flags & CHECK_MTIME) {
        r.attributes |= LOG_ATTR_T;
        r.result = LOG_INTEGRITY_ERROR;
    }
    return r;
}

int orva_fun_log::append_log_record_file_check(const QString &path, uint32_t check_flags)
{
    const check_record r = file_check_record(check_flags);
    return append_log_record(LOG_FS_CHECK, r.result, &r.attributes, path);
}

int orva_fun_log::append_log_record_dir_check(const QString &path, uint32_t check_flags)
{
    // A directory gives the same record as a file.
    return append_log_record_file_check(path, check_flags);
}

uint32_t orva_fun_log::acia_to_log_code(int code)
{
    switch (code) {
    case ORVA_OK: return LOG_OK;
    case ORVA_E_UNKNOWN_ID: return LOG_UNKNOWN_USER;
    case ORVA_E_BAD_PASSWORD: return LOG_BAD_PASSWORD;
    case ORVA_E_READ:
    case ORVA_E_WRITE: return LOG_IO_ERROR;
    case ORVA_E_NOMEM: return LOG_NO_MEMORY;
    case ORVA_E_BLOCKED: return LOG_BLOCKED;
    case ORVA_E_PIK: return LOG_PIK;
    case ORVA_E_UNKNOWN: return LOG_UNKNOWN_ERROR;
    default: return LOG_UNMAPPED;
    }
}
