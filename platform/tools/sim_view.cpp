#include "sim_view.h"

#include "db_image.h"
#include "sim_args.h"
#include "tmid.h"

#include <cstring>

using namespace orva_sim;

namespace orva_sim_tool {

namespace {

void read_via_library(orva_handle_t h, Snapshot &s)
{
    orva_device_state ds;
    s.db_rc = orva_get_device_state(h, &ds);
    s.device.dev_class = orva_get_dev_class_by_handle(h);
    if (s.db_rc == ORVA_OK) {
        s.state = ds.state;
        s.device.area_size = ds.max_ic_data_size;
        s.db.image.resize(ORVA_DB_IMAGE_SIZE);
        s.db_rc = orva_read_db(h, s.db.image.data(), s.db.image.size());
        uint16_t number = 0;
        if (s.db_rc == ORVA_OK && orva_get_current_user(h, &number, nullptr) == ORVA_OK)
            s.db.session = number;
    }
    s.config_rc = orva_db_conf_get(h, s.config.bytes);
    orva_log_record *record = nullptr;
    int rc = orva_log_get_first_record(h, &record);
    while (rc == ORVA_OK) {
        s.log.entries.push_back(log_entry_of(*record, std::strlen(record->text)));
        rc = orva_log_get_next_record(h, &record);
    }
    s.log_rc = rc == ORVA_E_END ? ORVA_OK : rc;
    s.ia_rc = orva_load_ia_data(h, s.ia);
}

int code_of(Status st)
{
    switch (st) {
    case Status::Ok: return ORVA_OK;
    case Status::Missing:
    case Status::Corrupt: return ORVA_E_CORRUPT;
    case Status::NoMem: return ORVA_E_NOMEM;
    default: return ORVA_E_READ;
    }
}

void read_files(Snapshot &s)
{
    s.db_rc = code_of(load_database(s.dir, s.db));
    if (s.db_rc == ORVA_OK)
        s.state = device_state(s.db);
    s.config_rc = code_of(load_config(s.dir, s.config));
    s.log_rc = code_of(load_log(s.dir, s.log));
    IaFile ia;
    Status st = load_ia(s.dir, ia);
    if (st == Status::Missing || (st == Status::Ok && (s.db_rc != ORVA_OK || ia.format_id != s.db.format_id)))
        s.ia_rc = ORVA_E_NOT_SET;
    else
        s.ia_rc = code_of(st);
    if (s.ia_rc == ORVA_OK)
        std::memcpy(s.ia, ia.block, sizeof s.ia);
}

std::string name_of(const char field[ORVA_NAME_SIZE])
{
    return std::string(field, strnlen(field, ORVA_NAME_SIZE));
}

} // namespace

std::string code_text(int code)
{
    return std::to_string(code) + " (" + orva_strerror(code) + ")";
}

Snapshot take_snapshot()
{
    Snapshot s;
    s.dir = state_dir();
    Status st = load_device(s.dir, s.device);
    if (st == Status::Missing)
        throw Failure("no module in " + s.dir + " (run 'orva-sim init')");
    if (st != Status::Ok)
        throw Failure("device file of " + s.dir + ": " + code_text(code_of(st)));
    orva_handle_t h = nullptr;
    int rc = orva_init(0);
    if (rc == ORVA_OK)
        rc = orva_open_device(0, &h, 0);
    if (rc == ORVA_OK) {
        read_via_library(h, s);
        orva_close_device(h);
    } else if (rc == ORVA_E_BUSY) {
        s.open_elsewhere = true;
        read_files(s);
    } else {
        orva_exit(0);
        throw Failure("cannot open the module: " + code_text(rc));
    }
    orva_exit(0);
    s.reader_rc = code_of(load_reader(s.dir, s.reader));
    return s;
}

std::string hex(const uint8_t *data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::string tmid_text(const uint8_t id[8])
{
    return hex(id, 1) + " " + hex(id + 1, 6) + " " + hex(id + 7, 1);
}

std::string state_name(uint32_t state)
{
    switch (state) {
    case ORVA_STATE_FORMATTED: return "formatted, chief administrator not set up";
    case ORVA_STATE_NEW: return "new, database never formatted";
    case ORVA_STATE_ERASED: return "database erased";
    case ORVA_STATE_READY: return "ready";
    }
    return "unknown";
}

void print_status(const Snapshot &s, FILE *out)
{
    std::fprintf(out, "Module:              %s%s\n", s.dir.c_str(),
                 s.open_elsewhere ? " (open in another process; read from its files)" : "");
    std::fprintf(out, "Device class:        %u\n", s.device.dev_class);
    std::fprintf(out, "Integrity-data area: %u bytes\n", s.device.area_size);
    if (s.db_rc != ORVA_OK) {
        std::fprintf(out, "Database:            unreadable: %s\n", code_text(s.db_rc).c_str());
    } else {
        const uint8_t *v = s.db.image.data() + 8;
        std::fprintf(out, "State:               %u (%s)\n", s.state, state_name(s.state).c_str());
        std::fprintf(out, "Database version:    %u.%u.%u.%u\n", v[0], v[1], v[2], v[3]);
        Bytes image = s.db.image;
        RecordTable table(image);
        uint32_t groups = 0, users = 0;
        for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n) {
            groups += table.is_group(n);
            users += table.is_user(n);
        }
        std::fprintf(out, "Records:             %u (%u groups, %u users)\n", groups + users, groups, users);
        if (s.db.session == 0) {
            std::fprintf(out, "Logged on:           nobody\n");
        } else {
            orva_db_record r = table.get(s.db.session);
            std::fprintf(out, "Logged on:           %s (record %u%s)\n", name_of(r.name).c_str(), s.db.session,
                         r.admin ? ", administrator" : "");
        }
    }
    if (s.config_rc != ORVA_OK) {
        std::fprintf(out, "Configuration:       unreadable: %s\n", code_text(s.config_rc).c_str());
    } else {
        const uint8_t *c = s.config.bytes;
        std::fprintf(out,
                     "Configuration:       identifier time-out %u s, password time-out %u s, "
                     "bad-logon count %u, identifier page %u (byte 0x%02X), watchdog %u\n",
                     c[0], c[1], c[2], static_cast<unsigned>(static_cast<uint8_t>(~c[3])), c[3], get_u32(c + 4));
    }
    if (s.log_rc != ORVA_OK)
        std::fprintf(out, "Event log:           unreadable: %s\n", code_text(s.log_rc).c_str());
    else
        std::fprintf(out, "Event log:           %zu records\n", s.log.entries.size());
    std::fprintf(out, "Hand-over block:     %s\n",
                 s.ia_rc == ORVA_OK ? "stored" : s.ia_rc == ORVA_E_NOT_SET ? "none" : code_text(s.ia_rc).c_str());
    if (s.reader_rc != ORVA_OK) {
        std::fprintf(out, "Reader:              unreadable: %s\n", code_text(s.reader_rc).c_str());
    } else if (s.reader.empty()) {
        std::fprintf(out, "Reader:              empty\n");
    } else {
        for (size_t i = 0; i < s.reader.size(); ++i)
            std::fprintf(out, "%s%s (%s)\n", i == 0 ? "Reader:              " : "                     ",
                         tmid_text(s.reader[i].id).c_str(),
                         s.reader[i].state == TMID_STATE_INITIALISED ? "initialised" : "uninitialised");
    }
}

void print_users(const Snapshot &s, FILE *out)
{
    if (s.db_rc != ORVA_OK)
        throw Failure("database unreadable: " + code_text(s.db_rc));
    Bytes image = s.db.image;
    RecordTable table(image);
    std::fprintf(out, "%-4s %-5s %-12s %-12s %-20s %-8s %-5s %-6s %-7s %s\n", "No", "Kind", "Name", "Group",
                 "Identifier", "Password", "Admin", "Rights", "Blocked", "Expires");
    for (uint16_t n = 1; n <= ORVA_DB_MAX_RECORDS; ++n) {
        if (table.is_free(n))
            continue;
        orva_db_record r = table.get(n);
        std::string id = tmid_assigned(r.tmid) ? tmid_text(reinterpret_cast<const uint8_t *>(&r.tmid)) : "-";
        std::string expires = "-";
        if (!r.is_group && r.exp_year != -1) {
            char date[32];
            std::snprintf(date, sizeof date, "%04d-%02d-%02d", r.exp_year, r.exp_month, r.exp_day);
            expires = date;
        }
        std::fprintf(out, "%-4u %-5s %-12s %-12s %-20s %-8s %-5s %-6u %-7s %s\n", n, r.is_group ? "group" : "user",
                     name_of(r.name).c_str(), r.is_group ? "-" : name_of(r.group).c_str(),
                     r.is_group ? "-" : id.c_str(), r.is_group ? "-" : xid_hash_set(r.xid) ? "set" : "not set",
                     r.admin == 1 ? "yes" : "no", r.access, r.blocked == 1 ? "yes" : "no", expires.c_str());
    }
}

void print_log(const Snapshot &s, FILE *out)
{
    if (s.log_rc != ORVA_OK)
        throw Failure("event log unreadable: " + code_text(s.log_rc));
    unsigned number = 0;
    for (const LogEntry &e : s.log.entries) {
        std::fprintf(out, "%4u  %02u-%02u-%04u %02u:%02u:%02u  type %-10u result %-10u param %-16s %s\n", ++number,
                     e.date >> 24, (e.date >> 16) & 0xff, e.date & 0xffff, e.time & 0xff, (e.time >> 8) & 0xff,
                     (e.time >> 16) & 0xff, e.type, e.result, e.param_size ? hex(e.param, e.param_size).c_str() : "-",
                     e.text.c_str());
    }
}

void print_ia(const Snapshot &s, FILE *out)
{
    if (s.ia_rc == ORVA_E_NOT_SET) {
        std::fprintf(out, "No hand-over block stored since the database was formatted.\n");
        return;
    }
    if (s.ia_rc != ORVA_OK)
        throw Failure("hand-over block unreadable: " + code_text(s.ia_rc));
    const uint8_t *b = s.ia;
    std::fprintf(out, "Name:             %s\n", std::string(reinterpret_cast<const char *>(b), strnlen(reinterpret_cast<const char *>(b), 13)).c_str());
    std::fprintf(out, "Password bytes:   %s\n", hex(b + 13, 13).c_str());
    std::fprintf(out, "Identifier:       %s\n", tmid_text(b + 26).c_str());
    std::fprintf(out, "User secret key:  %s\n", hex(b + 34, 32).c_str());
    std::fprintf(out, "Station key:      %s\n", hex(b + 66, 32).c_str());
    std::fprintf(out, "User number:      %u\n", b[104]);
    std::fprintf(out, "Access level:     %u\n", b[105]);
    std::fprintf(out, "OS flags:         0x%02X\n", b[108]);
}

} // namespace orva_sim_tool
