// Records: users and groups in the database image.
#include "db_image.h"
#include "orva_internal.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace orva_sim;

namespace {

// Loads the formatted database for a change; ORVA_E_DB_CLOSED unless open.
int load_for_change(orva_device &device, DatabaseFile &db)
{
    if (!device.db_open)
        return ORVA_E_DB_CLOSED;
    return load_formatted(device, db);
}

int commit(orva_device &device, DatabaseFile &db)
{
    seal_image(db.image);
    return store_database(device, db);
}

size_t name_length(const char field[ORVA_NAME_SIZE])
{
    return strnlen(field, ORVA_NAME_SIZE);
}

// Checks a record for numbers `self` (0 for a new one): shape, kind, name
// unique, a user's group present.
int check_record(const RecordTable &table, const orva_db_record &record, bool group, uint16_t self)
{
    if (!record_well_formed(record) || (record.is_group == 1) != group)
        return ORVA_E_INVALID_ARG;
    uint16_t other = table.find_name(record.name, name_length(record.name));
    if (other != 0 && other != self)
        return ORVA_E_EXISTS;
    if (!group && table.find_group(record.group, name_length(record.group)) == 0)
        return ORVA_E_NOT_FOUND;
    return ORVA_OK;
}

// Runs body(device, table) over the formatted database of a valid handle;
// args_ok false gives ORVA_E_INVALID_ARG before the database is read.
template <typename F>
int read_records(orva_handle_t handle, bool args_ok, F &&body)
{
    return with_device(handle, [&](orva_device &device) {
        if (!args_ok)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_formatted(device, db);
        if (rc != ORVA_OK)
            return rc;
        RecordTable table(db.image);
        return body(device, table);
    });
}

// Changes the records of the open database: body(db, table) edits them and
// on ORVA_OK the image is sealed and stored in one write.
template <typename F>
int change_records(orva_handle_t handle, bool args_ok, F &&body)
{
    return with_device(handle, [&](orva_device &device) {
        if (!args_ok)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_for_change(device, db);
        if (rc != ORVA_OK)
            return rc;
        RecordTable table(db.image);
        rc = body(db, table);
        return rc == ORVA_OK ? commit(device, db) : rc;
    });
}

int add_record(orva_handle_t handle, const orva_db_record *record, uint16_t *number, bool group)
{
    uint16_t n = 0;
    int rc = change_records(handle, record != nullptr, [&](DatabaseFile &, RecordTable &table) {
        int checked = check_record(table, *record, group, 0);
        if (checked != ORVA_OK)
            return checked;
        n = table.lowest_free();
        if (n == 0)
            return ORVA_E_FULL;
        table.put(n, *record);
        return ORVA_OK;
    });
    if (rc == ORVA_OK && number != nullptr)
        *number = n;
    return rc;
}

int find_by_name(orva_handle_t handle, const char *name, size_t length, uint16_t *number, bool group)
{
    bool args_ok = (name != nullptr || length == 0) && number != nullptr;
    return read_records(handle, args_ok, [&](orva_device &, RecordTable &table) {
        uint16_t n = group ? table.find_group(name, length) : table.find_user(name, length);
        if (n == 0)
            return ORVA_E_NOT_FOUND;
        *number = n;
        return ORVA_OK;
    });
}

// Hands a list to the caller as a malloc'ed array (null when empty).
int give_list(const std::vector<orva_db_record> &list, orva_db_record **records, uint16_t *count)
{
    if (list.empty()) {
        *records = nullptr;
        *count = 0;
        return ORVA_OK;
    }
    void *memory = std::malloc(list.size() * sizeof(orva_db_record));
    if (memory == nullptr)
        return ORVA_E_NOMEM;
    std::memcpy(memory, list.data(), list.size() * sizeof(orva_db_record));
    *records = static_cast<orva_db_record *>(memory);
    *count = static_cast<uint16_t>(list.size());
    return ORVA_OK;
}

template <typename Pick>
int list_records(orva_handle_t handle, orva_db_record **records, uint16_t *count, Pick &&pick)
{
    return read_records(handle, records != nullptr && count != nullptr, [&](orva_device &, RecordTable &table) {
        std::vector<orva_db_record> list;
        int rc = pick(table, list);
        return rc != ORVA_OK ? rc : give_list(list, records, count);
    });
}

} // namespace

extern "C" int orva_db_open(orva_handle_t handle, int flags)
{
    return with_device(handle, [&](orva_device &device) {
        if (flags != 0)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_formatted(device, db);
        if (rc == ORVA_OK)
            device.db_open = true;
        return rc;
    });
}

extern "C" int orva_db_close(orva_handle_t handle)
{
    return with_device(handle, [&](orva_device &device) {
        if (!device.db_open)
            return ORVA_E_DB_CLOSED;
        device.db_open = false;
        return ORVA_OK;
    });
}

extern "C" int orva_db_get_user_template(orva_handle_t handle, uint16_t group_no, orva_db_record *record)
{
    return read_records(handle, record != nullptr, [&](orva_device &device, RecordTable &table) {
        if (!table.is_group(group_no))
            return ORVA_E_NOT_FOUND;
        orva_db_record group = table.get(group_no);
        orva_db_record user = group;
        std::memset(user.name, 0, sizeof user.name);
        std::memset(user.group, 0, sizeof user.group);
        std::memcpy(user.group, group.name, name_length(group.name));
        user.is_group = 0;
        std::memset(&user.tmid, 0, sizeof user.tmid);
        user.xid.dev_class = device.info.dev_class;
        std::memset(user.xid.hash, 0, sizeof user.xid.hash);
        std::memset(user.public_key, 0, sizeof user.public_key);
        user.exp_day = user.exp_month = user.exp_year = -1;
        *record = user;
        return ORVA_OK;
    });
}

extern "C" int orva_db_add_user(orva_handle_t handle, const orva_db_record *record, uint16_t *number)
{
    return add_record(handle, record, number, false);
}

extern "C" int orva_db_add_group(orva_handle_t handle, const orva_db_record *record, uint16_t *number)
{
    return add_record(handle, record, number, true);
}

namespace {

int modify_record(orva_handle_t handle, uint16_t number, const orva_db_record *record, bool group)
{
    return change_records(handle, record != nullptr, [&](DatabaseFile &, RecordTable &table) {
        if (group ? !table.is_group(number) : !table.is_user(number))
            return ORVA_E_NOT_FOUND;
        int rc = check_record(table, *record, group, number);
        if (rc != ORVA_OK)
            return rc;
        // A renamed group takes its users along, in the same write.
        const orva_db_record old = table.get(number);
        if (group && !names_equal(old.name, record->name)) {
            for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n) {
                if (!table.is_user(n))
                    continue;
                orva_db_record user = table.get(n);
                if (!names_equal(user.group, old.name))
                    continue;
                std::memset(user.group, 0, sizeof user.group);
                std::memcpy(user.group, record->name, name_length(record->name));
                table.put(n, user);
            }
        }
        table.put(number, *record);
        return ORVA_OK;
    });
}

} // namespace

extern "C" int orva_db_modify_user(orva_handle_t handle, uint16_t number, const orva_db_record *record)
{
    return modify_record(handle, number, record, false);
}

extern "C" int orva_db_modify_group(orva_handle_t handle, uint16_t number, const orva_db_record *record)
{
    return modify_record(handle, number, record, true);
}

extern "C" int orva_db_delete_user(orva_handle_t handle, uint16_t number)
{
    return change_records(handle, true, [&](DatabaseFile &db, RecordTable &table) {
        if (!table.is_user(number))
            return ORVA_E_NOT_FOUND;
        table.clear(number);
        if (db.session == number)
            db.session = 0;
        return ORVA_OK;
    });
}

extern "C" int orva_db_delete_group(orva_handle_t handle, uint16_t number)
{
    return change_records(handle, true, [&](DatabaseFile &, RecordTable &table) {
        if (!table.is_group(number))
            return ORVA_E_NOT_FOUND;
        if (table.group_has_users(table.get(number).name))
            return ORVA_E_IN_USE;
        table.clear(number);
        return ORVA_OK;
    });
}

extern "C" int orva_read_db_record(orva_handle_t handle, uint16_t number, orva_db_record *record)
{
    return read_records(handle, record != nullptr, [&](orva_device &, RecordTable &table) {
        if (table.is_free(number))
            return ORVA_E_NOT_FOUND;
        *record = table.get(number);
        return ORVA_OK;
    });
}

extern "C" int orva_db_find_user_by_name(orva_handle_t handle, const char *name, size_t length, uint16_t *number)
{
    return find_by_name(handle, name, length, number, false);
}

extern "C" int orva_db_find_group_by_name(orva_handle_t handle, const char *name, size_t length, uint16_t *number)
{
    return find_by_name(handle, name, length, number, true);
}

extern "C" int orva_db_find_user_by_id(orva_handle_t handle, const orva_tmid *tmid, uint16_t *number)
{
    return read_records(handle, tmid != nullptr && number != nullptr, [&](orva_device &, RecordTable &table) {
        uint16_t n = table.find_user_by_tmid(*tmid);
        if (n == 0)
            return ORVA_E_NOT_FOUND;
        *number = n;
        return ORVA_OK;
    });
}

extern "C" int orva_db_get_record_list(orva_handle_t handle, orva_db_record **records, uint16_t *count)
{
    return list_records(handle, records, count, [](RecordTable &table, std::vector<orva_db_record> &list) {
        uint16_t highest = table.highest_used();
        for (uint16_t n = 1; n <= highest; ++n)
            list.push_back(table.get(n));
        return ORVA_OK;
    });
}

extern "C" int orva_db_get_group_list(orva_handle_t handle, orva_db_record **records, uint16_t *count)
{
    return list_records(handle, records, count, [](RecordTable &table, std::vector<orva_db_record> &list) {
        for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n)
            if (table.is_group(n))
                list.push_back(table.get(n));
        return ORVA_OK;
    });
}

extern "C" int orva_db_get_user_list_by_group(orva_handle_t handle, uint16_t group_no,
                                              orva_db_record **records, uint16_t *count)
{
    return list_records(handle, records, count, [&](RecordTable &table, std::vector<orva_db_record> &list) {
        if (!table.is_group(group_no))
            return ORVA_E_NOT_FOUND;
        orva_db_record group = table.get(group_no);
        for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n) {
            if (!table.is_user(n))
                continue;
            orva_db_record user = table.get(n);
            if (names_equal(user.group, group.name))
                list.push_back(user);
        }
        return ORVA_OK;
    });
}

extern "C" int orva_read_db(orva_handle_t handle, void *image, size_t size)
{
    return with_device(handle, [&](orva_device &device) {
        if (image == nullptr || size != ORVA_DB_IMAGE_SIZE)
            return ORVA_E_INVALID_ARG;
        DatabaseFile db;
        int rc = load_database(device, db);
        if (rc == ORVA_OK)
            std::memcpy(image, db.image.data(), ORVA_DB_IMAGE_SIZE);
        return rc;
    });
}

extern "C" int orva_write_db(orva_handle_t handle, const void *image, size_t size)
{
    return with_device(handle, [&](orva_device &device) {
        if (image == nullptr || size != ORVA_DB_IMAGE_SIZE)
            return ORVA_E_INVALID_ARG;
        const uint8_t *bytes = static_cast<const uint8_t *>(image);
        if (!validate_image(bytes, size, nullptr))
            return ORVA_E_BAD_IMAGE;
        DatabaseFile db;
        db.image.assign(bytes, bytes + size);
        db.status = ORVA_STATE_FORMATTED;
        // The hand-over block and the logon stay when the logged-on user is
        // still the same record; a damaged old database is simply replaced.
        DatabaseFile old;
        if (orva_sim::load_database(device.dir, old) == Status::Ok) {
            db.format_id = old.format_id;
            RecordTable before(old.image), after(db.image);
            if (old.session != 0 && after.is_user(old.session) &&
                names_equal(before.get(old.session).name, after.get(old.session).name))
                db.session = old.session;
        } else {
            db.format_id = new_format_id(0);
        }
        return store_database(device, db);
    });
}
