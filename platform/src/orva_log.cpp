// Event log: records, appending with the oldest dropped, first/next reading.
#include "module_clock.h"
#include "orva_internal.h"

#include <cstdlib>
#include <cstring>

using namespace orva_sim;

namespace {

// Points the handle's current record at an entry; valid until the next call.
void expose(orva_device &device, const LogEntry &entry)
{
    device.current_text = entry.text;
    orva_log_record &r = device.current;
    std::memset(&r, 0, sizeof r);
    r.type = entry.type;
    r.result = entry.result;
    r.date = entry.date;
    r.time = entry.time;
    std::memcpy(r.param, entry.param, entry.param_size);
    r.param_size = entry.param_size;
    r.text = &device.current_text[0];
}

// The entry with the smallest sequence number at or after `seq`.
int read_from(orva_device &device, uint64_t seq, orva_log_record **record)
{
    if (record == nullptr)
        return ORVA_E_INVALID_ARG;
    LogFile log;
    int rc = to_code_required(load_log(device.dir, log));
    if (rc != ORVA_OK)
        return rc;
    if (seq < log.first_seq)
        seq = log.first_seq;
    device.cursor_started = true;
    if (seq >= log.end_seq()) {
        device.next_seq = seq; // a record appended later is the next one
        return ORVA_E_END;
    }
    expose(device, log.entries[static_cast<size_t>(seq - log.first_seq)]);
    device.next_seq = seq + 1;
    *record = &device.current;
    return ORVA_OK;
}

} // namespace

extern "C" int orva_log_open(orva_handle_t handle, int)
{
    return with_device(handle, [&](orva_device &device) {
        LogFile log;
        int rc = to_code_required(load_log(device.dir, log));
        if (rc == ORVA_OK)
            device.log_open = true;
        return rc;
    });
}

extern "C" int orva_log_close(orva_handle_t handle)
{
    return with_device(handle, [&](orva_device &device) {
        if (!device.log_open)
            return ORVA_E_LOG_CLOSED;
        device.log_open = false;
        return ORVA_OK;
    });
}

extern "C" int orva_log_create_record(orva_handle_t handle, uint32_t type, uint32_t result,
                                      const void *param, uint32_t param_size, const char *text,
                                      orva_log_record **record)
{
    return with_device(handle, [&](orva_device &device) {
        if (record == nullptr || param_size > ORVA_LOG_PARAM_MAX || (param == nullptr && param_size != 0))
            return ORVA_E_INVALID_ARG;
        size_t text_size = text ? strnlen(text, ORVA_LOG_TEXT_MAX + 1) : 0;
        if (text_size > ORVA_LOG_TEXT_MAX)
            return ORVA_E_INVALID_ARG;
        ClockTime now;
        if (!module_now(now))
            return ORVA_E_INVALID_ARG;
        auto *made = static_cast<orva_log_record *>(std::calloc(1, sizeof(orva_log_record)));
        char *copy = static_cast<char *>(std::malloc(text_size + 1));
        if (made == nullptr || copy == nullptr) {
            std::free(made);
            std::free(copy);
            return ORVA_E_NOMEM;
        }
        if (text_size)
            std::memcpy(copy, text, text_size);
        copy[text_size] = 0;
        made->type = type;
        made->result = result;
        made->date = pack_date(now);
        made->time = pack_time(now);
        if (param_size)
            std::memcpy(made->param, param, param_size);
        made->param_size = param_size;
        made->text = copy;
        try {
            device.created.insert(made);
        } catch (...) {
            std::free(copy);
            std::free(made);
            throw;
        }
        *record = made;
        return ORVA_OK;
    });
}

extern "C" int orva_log_append(orva_handle_t handle, const orva_log_record *record)
{
    return with_device(handle, [&](orva_device &device) {
        if (!device.log_open)
            return ORVA_E_LOG_CLOSED;
        if (record == nullptr || record->text == nullptr || record->param_size > ORVA_LOG_PARAM_MAX)
            return ORVA_E_INVALID_ARG;
        size_t text_size = strnlen(record->text, ORVA_LOG_TEXT_MAX + 1);
        if (text_size > ORVA_LOG_TEXT_MAX)
            return ORVA_E_INVALID_ARG;
        LogEntry entry = log_entry_of(*record, text_size);
        LogFile log;
        int rc = to_code_required(load_log(device.dir, log));
        if (rc != ORVA_OK)
            return rc;
        if (!log.append(entry))
            return ORVA_E_FULL;
        return to_code(store(device.dir, kLogKind, encode_log(log)));
    });
}

extern "C" int orva_log_destroy_record(orva_handle_t handle, orva_log_record *record)
{
    return with_device(handle, [&](orva_device &device) {
        auto it = device.created.find(record);
        if (it == device.created.end())
            return ORVA_E_INVALID_ARG;
        device.created.erase(it);
        std::free(record->text);
        std::free(record);
        return ORVA_OK;
    });
}

extern "C" int orva_log_get_first_record(orva_handle_t handle, orva_log_record **record)
{
    return with_device(handle, [&](orva_device &device) { return read_from(device, 0, record); });
}

extern "C" int orva_log_get_next_record(orva_handle_t handle, orva_log_record **record)
{
    return with_device(handle, [&](orva_device &device) {
        return read_from(device, device.cursor_started ? device.next_seq : 0, record);
    });
}
