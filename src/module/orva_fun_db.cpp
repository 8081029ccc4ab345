#include "module/orva_fun_db.h"

#include "module/db_record.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "ui/message.h"

#include <cstdlib>
#include <memory>

namespace {

const QString kErrorTitle = QStringLiteral("Ошибка");

// A record list allocated by the library.
struct record_list {
    std::unique_ptr<orva_db_record, decltype(&std::free)> records{nullptr, &std::free};
    uint16_t count = 0;
};

void show_db_error(int code)
{
    message::critical(nullptr, kErrorTitle, QStringLiteral("Ошибка работы с базой:%1.").arg(code));
}

void show_group_list_error(int code)
{
    message::critical(nullptr, kErrorTitle,
                      QStringLiteral("Ошибка получения списка групп пользователей%1.").arg(code));
}

void show_current_user_error(int code)
{
    message::critical(nullptr, kErrorTitle,
                      QStringLiteral("Ошибка получения записи текущего пользователя%1.").arg(code));
}

} // namespace

orva_fun_db *orva_fun_db::object()
{
    static orva_fun_db *instance = new orva_fun_db;
    return instance;
}

orva_fun_db::orva_fun_db()
    : m_init(orva_initialization::object())
{
}

orva_handle_t orva_fun_db::handle() const
{
    return m_init->handle();
}

// ---- database ----------------------------------------------------------------

int orva_fun_db::open_db_quietly()
{
    if (m_db_open)
        return 0;
    const int code = orva_db_open(handle(), 0);
    if (code == ORVA_OK)
        m_db_open = 1;
    return code;
}

int orva_fun_db::open_db()
{
    const int code = open_db_quietly();
    if (code != ORVA_OK)
        show_db_error(code);
    return code;
}

int orva_fun_db::close_db()
{
    if (!m_db_open)
        return -1;
    const int code = orva_db_close(handle());
    m_db_open = 0;
    if (code != ORVA_OK)
        show_db_error(code);
    return code;
}

int orva_fun_db::create_default_group(const char *name, uint8_t admin)
{
    const orva_db_record record =
        db_record::default_group(orva_get_dev_class_by_handle(handle()), name, admin);
    return orva_db_add_group(handle(), &record, nullptr);
}

int orva_fun_db::create_default_supervisor()
{
    orva_db_record record;
    int code = orva_db_get_user_template(handle(), 1, &record);
    if (code != ORVA_OK)
        return code;
    db_record::set_name(record.name, QString::fromLatin1(db_record::kSupervisor));
    record.admin = 1;
    record.access = db_record::ACCESS_ALL;
    return orva_db_add_user(handle(), &record, nullptr);
}

int orva_fun_db::create_default_records()
{
    orva_fun_low_level *low = orva_fun_low_level::object();
    // The entry point shows the kept text: no box of its own here.
    if (open_db_quietly() != ORVA_OK) {
        low->set_error_text(QStringLiteral("Ошибка открытия базы пользователей."));
        return -1;
    }
    if (create_default_group(db_record::kAdmins, 1) != ORVA_OK ||
        create_default_group(db_record::kEveryone, 0) != ORVA_OK ||
        create_default_supervisor() != ORVA_OK) {
        low->set_error_text(QStringLiteral("Ошибка создания записи базы пользователей."));
        return -1;
    }
    return 0;
}

int orva_fun_db::create_user_record(orva_db_record &record)
{
    if (db_record::name_is(record.group, db_record::kAdmins)) {
        record.admin = 1;
    } else {
        record.access = 0;
        record.admin = 0;
    }
    return orva_db_add_user(handle(), &record, nullptr);
}

int orva_fun_db::create_group_record(orva_db_record &record)
{
    const int code = orva_db_add_group(handle(), &record, nullptr);
    record.access = 0;
    return code;
}

int orva_fun_db::update_user_record(uint16_t number, const orva_db_record &record)
{
    return orva_db_modify_user(handle(), number, &record);
}

int orva_fun_db::update_group_record(uint16_t number, const orva_db_record &record)
{
    return orva_db_modify_group(handle(), number, &record);
}

int orva_fun_db::user_record_no(const orva_db_record &record)
{
    uint16_t number = 0;
    if (orva_db_find_user_by_name(handle(), record.name, db_record::name_length(record.name), &number) != ORVA_OK)
        return -1;
    return number;
}

int orva_fun_db::group_record_no(const orva_db_record &record)
{
    uint16_t number = 0;
    if (orva_db_find_group_by_name(handle(), record.name, db_record::name_length(record.name), &number) != ORVA_OK)
        return -1;
    return number;
}

int orva_fun_db::delete_user_record(const orva_db_record &record)
{
    const int number = user_record_no(record);
    if (number < 0)
        return -1;
    return orva_db_delete_user(handle(), static_cast<uint16_t>(number));
}

int orva_fun_db::delete_group_record(const orva_db_record &record)
{
    const int number = group_record_no(record);
    if (number < 0)
        return -1;
    return orva_db_delete_group(handle(), static_cast<uint16_t>(number));
}

int orva_fun_db::check_name(const QString &name)
{
    const QByteArray bytes = name.toLatin1();
    uint16_t number = 0;
    const size_t length = static_cast<size_t>(bytes.size());
    if (orva_db_find_user_by_name(handle(), bytes.constData(), length, &number) == ORVA_OK ||
        orva_db_find_group_by_name(handle(), bytes.constData(), length, &number) == ORVA_OK)
        return 1;
    return 0;
}

std::optional<orva_db_record> orva_fun_db::template_group()
{
    record_list list;
    orva_db_record *records = nullptr;
    const int code = orva_db_get_group_list(handle(), &records, &list.count);
    list.records.reset(records);
    if (code != ORVA_OK) {
        show_group_list_error(code);
        return std::nullopt;
    }
    for (uint16_t i = 0; i < list.count; ++i) {
        if (db_record::name_is(records[i].name, db_record::kEveryone))
            return records[i];
    }
    return std::nullopt;
}

std::optional<orva_db_record> orva_fun_db::get_current_record()
{
    uint16_t number = 0;
    uint8_t admin = 0;
    int code = orva_get_current_user(handle(), &number, &admin);
    // Record numbers start at 1: number 0 names no record.
    if (code != ORVA_OK || number == 0) {
        show_current_user_error(code);
        return std::nullopt;
    }
    record_list list;
    orva_db_record *records = nullptr;
    code = orva_db_get_record_list(handle(), &records, &list.count);
    list.records.reset(records);
    if (code != ORVA_OK) {
        show_group_list_error(code);
        return std::nullopt;
    }
    if (number > list.count) {
        show_current_user_error(ORVA_E_NOT_FOUND);
        return std::nullopt;
    }
    return records[number - 1];
}

std::optional<orva_db_record> orva_fun_db::get_current_record_low_level()
{
    uint16_t number = 0;
    uint8_t admin = 0;
    if (orva_get_current_user(handle(), &number, &admin) != ORVA_OK || number == 0)
        return std::nullopt;
    orva_db_record record;
    if (orva_read_db_record(handle(), number, &record) != ORVA_OK)
        return std::nullopt;
    return record;
}

// ---- configuration -----------------------------------------------------------

int orva_fun_db::get_tm_timeout(uint8_t *seconds)
{
    return orva_db_conf_get_tm_timeout(handle(), seconds);
}

int orva_fun_db::get_pw_timeout(uint8_t *seconds)
{
    return orva_db_conf_get_pw_timeout(handle(), seconds);
}

int orva_fun_db::get_max_bad_count(uint8_t *count)
{
    return orva_db_conf_get_max_bad_count(handle(), count);
}

int orva_fun_db::get_tm_page_no(uint8_t *stored)
{
    return orva_db_conf_get_tm_page_no(handle(), stored);
}

int orva_fun_db::set_tm_timeout(uint8_t seconds)
{
    return orva_db_conf_write_tm_timeout(handle(), seconds);
}

int orva_fun_db::set_pw_timeout(uint8_t seconds)
{
    return orva_db_conf_write_pw_timeout(handle(), seconds);
}

int orva_fun_db::set_max_bad_count(uint8_t count)
{
    return orva_db_conf_write_max_bad_count(handle(), count);
}

int orva_fun_db::set_tm_page_no(uint8_t stored)
{
    return orva_db_conf_write_tm_page_no(handle(), stored);
}

int orva_fun_db::get_watchdog_timeout(uint32_t *value)
{
    return orva_get_watchdog_timeout(handle(), value);
}

int orva_fun_db::set_watchdog_timeout(uint32_t value)
{
    return orva_write_watchdog_timeout(handle(), value);
}
