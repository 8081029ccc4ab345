// orva-sim: command-line tool of the simulated module.
#include "db_image.h"
#include "module_files.h"
#include "module_init.h"
#include "orva.h"
#include "sim_args.h"
#include "sim_view.h"
#include "tmid.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/random.h>

using namespace orva_sim;
using namespace orva_sim_tool;

namespace {

const uint8_t kDatabaseVersion[4] = {0, 3, 0, 29};
const uint16_t kLogVersion = 260;
constexpr uint32_t kLogCreated = 1, kLogUserCreated = 2048, kLogUserDeleted = 4096,
                   kLogUserChanged = 16384;

// ---- the module through liborva ----------------------------------------------

void check(int rc, const std::string &what)
{
    if (rc != ORVA_OK)
        throw Failure(what + ": " + code_text(rc));
}

// The module opened through liborva for the length of one command.
class Module {
public:
    Module()
    {
        check(orva_init(0), "orva_init");
        int rc = orva_open_device(0, &handle_, 0);
        if (rc != ORVA_OK) {
            orva_exit(0);
            throw Failure("cannot open the module in " + state_dir() + ": " + code_text(rc));
        }
    }
    ~Module()
    {
        orva_close_device(handle_);
        orva_exit(0);
    }
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;
    orva_handle_t handle() const { return handle_; }

    void append_log(uint32_t type, uint32_t result, const void *param, uint32_t size, const std::string &text)
    {
        orva_log_open(handle_, 0);
        orva_log_record *record = nullptr;
        check(orva_log_create_record(handle_, type, result, param, size, text.c_str(), &record), "log record");
        int rc = orva_log_append(handle_, record);
        orva_log_destroy_record(handle_, record);
        check(rc, "log append");
    }

private:
    orva_handle_t handle_ = nullptr;
};

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::string checked_name(const std::string &what, const std::string &text)
{
    if (text.empty() || text.size() > 12)
        throw UsageError(what + " must be 1 to 12 characters");
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7e)
            throw UsageError(what + " must be printable ASCII");
    return upper(text);
}

void set_name(char field[ORVA_NAME_SIZE], const std::string &name)
{
    std::memset(field, 0, ORVA_NAME_SIZE);
    std::memcpy(field, name.data(), name.size());
}

// Family code and 12 hex digits of serial, with the 1-Wire CRC-8.
std::vector<uint8_t> make_identifier(const std::string &serial, uint8_t family)
{
    std::vector<uint8_t> bytes = parse_hex("serial", serial, 6);
    std::vector<uint8_t> id(8);
    id[0] = family;
    std::copy(bytes.begin(), bytes.end(), id.begin() + 1);
    id[7] = tmid_crc8(id.data(), 7);
    return id;
}

uint8_t family_option(const Args &args)
{
    if (!args.has("--family"))
        return 0x0c;
    return parse_hex("--family", args.value("--family"), 1)[0];
}

// ---- init ---------------------------------------------------------------------

int cmd_init(const std::vector<std::string> &argv)
{
    Args args(argv, {"--force"}, {"--class", "--state", "--area-size"}, 0);
    DeviceFile device;
    device.dev_class = args.number("--class", 1, 2, 1);
    uint32_t state = args.number("--state", 1, 2, ORVA_STATE_NEW);
    device.area_size = args.number("--area-size", kMinAreaSize, kMaxAreaSize, ORVA_IC_DATA_DEFAULT_SIZE);
    if (getrandom(&device.serial, sizeof device.serial, 0) != sizeof device.serial)
        device.serial = 1;

    std::string dir = state_dir();
    switch (init_module(dir, device, state, args.has("--force"))) {
    case InitResult::Ok: break;
    case InitResult::Exists: throw Failure("a module already exists in " + dir + "; use --force to replace it");
    case InitResult::Busy: throw Failure("the module in " + dir + " is open in another process");
    case InitResult::Failed: throw Failure("cannot write a module into " + dir + ": " + std::strerror(errno));
    }
    std::printf("Initialised a module in %s: class %u, state %u (%s), integrity-data area %u bytes.\n", dir.c_str(),
                device.dev_class, state, state_name(state).c_str(), device.area_size);
    return 0;
}

// ---- reading ------------------------------------------------------------------

int cmd_status(const std::vector<std::string> &argv)
{
    Args args(argv, {}, {}, 0);
    print_status(take_snapshot(), stdout);
    return 0;
}

int cmd_users(const std::vector<std::string> &argv)
{
    Args args(argv, {}, {}, 0);
    print_users(take_snapshot(), stdout);
    return 0;
}

int cmd_ia(const std::vector<std::string> &argv)
{
    Args args(argv, {}, {}, 0);
    print_ia(take_snapshot(), stdout);
    return 0;
}

void clear_log(Module &module)
{
    orva_log_close(module.handle());
    check(orva_format_log(module.handle()), "orva_format_log");
    check(orva_log_open(module.handle(), 0), "orva_log_open");
    uint8_t version[2] = {static_cast<uint8_t>(kLogVersion & 0xff), static_cast<uint8_t>(kLogVersion >> 8)};
    module.append_log(kLogCreated, 0, version, sizeof version, "");
}

int cmd_log(const std::vector<std::string> &argv)
{
    Args args(argv, {"--clear"}, {}, 0);
    if (args.has("--clear")) {
        Module module;
        clear_log(module);
        std::printf("Event log cleared.\n");
        return 0;
    }
    print_log(take_snapshot(), stdout);
    return 0;
}

// ---- identifiers ----------------------------------------------------------------

// The identifier assigned to a user, read through the snapshot (so that it
// works while the program holds the module).
std::vector<uint8_t> identifier_of_user(const std::string &name)
{
    Snapshot s = take_snapshot();
    if (s.db_rc != ORVA_OK)
        throw Failure("database unreadable: " + code_text(s.db_rc));
    RecordTable table(s.db.image);
    std::string stored = upper(name);
    uint16_t n = table.find_user(stored.data(), stored.size());
    if (n == 0)
        throw Failure("no user " + stored);
    orva_db_record r = table.get(n);
    if (!tmid_assigned(r.tmid))
        throw Failure("user " + stored + " has no identifier");
    const uint8_t *id = reinterpret_cast<const uint8_t *>(&r.tmid);
    return std::vector<uint8_t>(id, id + 8);
}

std::string existing_state_dir()
{
    std::string dir = state_dir();
    if (!directory_exists(dir))
        throw Failure("no module directory " + dir + " (run 'orva-sim init')");
    return dir;
}

int cmd_touch(const std::vector<std::string> &argv)
{
    Args args(argv, {"--uninitialised"}, {"--user", "--family"}, 1);
    if (args.has("--user") == !args.positional().empty())
        throw UsageError("touch needs either a SERIAL or --user NAME");
    if (args.has("--user") && args.has("--family"))
        throw UsageError("--family applies to a SERIAL only");
    std::vector<uint8_t> id = args.has("--user") ? identifier_of_user(args.value("--user"))
                                                 : make_identifier(args.positional()[0], family_option(args));
    std::string dir = existing_state_dir();
    ReaderEntry entry;
    entry.state = args.has("--uninitialised") ? TMID_STATE_UNINITIALISED : TMID_STATE_INITIALISED;
    std::memcpy(entry.id, id.data(), 8);
    Status st = reader_present(dir, entry);
    if (st != Status::Ok)
        throw Failure("cannot change the reader in " + dir + (st == Status::Corrupt ? ": reader file damaged" : ""));
    std::printf("Presented %s (%s).\n", tmid_text(entry.id).c_str(),
                entry.state == TMID_STATE_INITIALISED ? "initialised" : "uninitialised");
    return 0;
}

int cmd_untouch(const std::vector<std::string> &argv)
{
    Args args(argv, {"--all"}, {"--user"}, 1);
    int ways = (args.has("--all") ? 1 : 0) + (args.has("--user") ? 1 : 0) + (args.positional().empty() ? 0 : 1);
    if (ways > 1)
        throw UsageError("untouch takes one of SERIAL, --user NAME or --all");
    std::string dir = existing_state_dir();
    if (ways == 0 || args.has("--all")) {
        if (reader_remove(dir, nullptr) != Status::Ok)
            throw Failure("cannot change the reader in " + dir);
        std::printf("Reader emptied.\n");
        return 0;
    }
    std::vector<std::vector<uint8_t>> ids;
    if (args.has("--user")) {
        ids.push_back(identifier_of_user(args.value("--user")));
    } else {
        std::vector<uint8_t> serial = parse_hex("serial", args.positional()[0], 6);
        std::vector<ReaderEntry> reader;
        if (load_reader(dir, reader) != Status::Ok)
            throw Failure("reader file in " + dir + " unreadable");
        for (const ReaderEntry &e : reader)
            if (std::memcmp(e.id + 1, serial.data(), 6) == 0)
                ids.emplace_back(e.id, e.id + 8);
    }
    if (ids.empty())
        throw Failure("that identifier is not on the reader");
    for (const std::vector<uint8_t> &id : ids) {
        Status st = reader_remove(dir, id.data());
        if (st == Status::Missing)
            throw Failure("identifier " + tmid_text(id.data()) + " is not on the reader");
        if (st != Status::Ok)
            throw Failure("cannot change the reader in " + dir);
        std::printf("Removed %s.\n", tmid_text(id.data()).c_str());
    }
    return 0;
}

// ---- database -----------------------------------------------------------------

orva_db_record default_group(uint32_t dev_class, const char *name, uint8_t admin)
{
    orva_db_record r;
    std::memset(&r, 0xff, sizeof r);
    std::strcpy(r.name, name);
    r.group[0] = 0;
    r.xid.dev_class = dev_class;
    r.group_marker = 3;
    r.access = 0;
    r.admin = admin;
    r.blocked = 0;
    r.is_group = 1;
    r.ia_mask = 0;
    r.who_changes = 1;
    r.generate_only = 0;
    r.alphabet = 0;
    r.min_length = 8;
    r.change_attempts = 3;
    r.validity = 30;
    return r;
}

int cmd_format(const std::vector<std::string> &argv)
{
    Args args(argv, {}, {}, 0);
    Module module;
    orva_handle_t h = module.handle();
    uint32_t dev_class = orva_get_dev_class_by_handle(h);
    check(orva_format_database(h, kDatabaseVersion), "orva_format_database");
    check(orva_db_open(h, 0), "orva_db_open");
    orva_db_record admins = default_group(dev_class, "ADMINS", 1);
    orva_db_record everyone = default_group(dev_class, "EVERYONE", 0);
    check(orva_db_add_group(h, &admins, nullptr), "adding ADMINS");
    check(orva_db_add_group(h, &everyone, nullptr), "adding EVERYONE");
    orva_db_record supervisor;
    check(orva_db_get_user_template(h, 1, &supervisor), "user template");
    set_name(supervisor.name, "SUPERVISOR");
    supervisor.admin = 1;
    supervisor.access = 15;
    check(orva_db_add_user(h, &supervisor, nullptr), "adding SUPERVISOR");
    orva_db_close(h);
    clear_log(module);
    std::printf("Database formatted: groups ADMINS and EVERYONE, user SUPERVISOR (no identifier or password yet).\n");
    return 0;
}

int cmd_erase(const std::vector<std::string> &argv)
{
    Args args(argv, {}, {}, 0);
    Module module;
    check(orva_erase_database(module.handle()), "orva_erase_database");
    std::printf("Database erased.\n");
    return 0;
}

int cmd_enroll(const std::vector<std::string> &argv)
{
    Args args(argv, {"--blocked", "--unblocked"},
              {"--group", "--id", "--family", "--password", "--rights", "--key", "--public-key"}, 1);
    if (args.positional().empty())
        throw UsageError("enroll needs a user NAME");
    if (!args.has("--group"))
        throw UsageError("enroll needs --group GROUP");
    if (args.has("--blocked") && args.has("--unblocked"))
        throw UsageError("--blocked and --unblocked exclude each other");
    if (args.has("--family") && !args.has("--id"))
        throw UsageError("--family applies to --id");
    if (args.has("--id") && !args.has("--password"))
        throw UsageError("a new identifier needs --password: the password hash is made from both");
    std::string name = checked_name("user name", args.positional()[0]);
    std::string group = checked_name("group name", args.value("--group"));
    bool admins = group == "ADMINS";
    if (args.has("--rights") && !admins)
        throw UsageError("--rights apply to members of ADMINS only");
    uint32_t rights = args.number("--rights", 0, 15, 0);
    std::vector<uint8_t> key, public_key, id;
    if (args.has("--key"))
        key = parse_hex("--key", args.value("--key"), ORVA_PRIVATE_KEY_SIZE);
    if (args.has("--public-key"))
        public_key = parse_hex("--public-key", args.value("--public-key"), ORVA_PUBLIC_KEY_SIZE);
    if (args.has("--id"))
        id = make_identifier(args.value("--id"), family_option(args));

    Module module;
    orva_handle_t h = module.handle();
    check(orva_db_open(h, 0), "orva_db_open");
    uint16_t group_no = 0, number = 0;
    check(orva_db_find_group_by_name(h, group.data(), group.size(), &group_no), "group " + group);
    orva_db_record record;
    bool exists = orva_db_find_user_by_name(h, name.data(), name.size(), &number) == ORVA_OK;
    if (exists) {
        check(orva_read_db_record(h, number, &record), "reading " + name);
        set_name(record.group, group);
    } else {
        check(orva_db_get_user_template(h, group_no, &record), "user template");
        set_name(record.name, name);
    }
    // The program's rule: members of ADMINS are administrators, others have no rights.
    record.admin = admins ? 1 : 0;
    if (!admins)
        record.access = 0;
    else if (args.has("--rights"))
        record.access = rights;
    if (args.has("--blocked"))
        record.blocked = 1;
    if (args.has("--unblocked"))
        record.blocked = 0;
    if (!id.empty()) {
        orva_tmid tmid;
        std::memcpy(&tmid, id.data(), 8);
        uint16_t holder = 0;
        if (orva_db_find_user_by_id(h, &tmid, &holder) == ORVA_OK && holder != number)
            throw Failure("identifier " + tmid_text(id.data()) + " is already assigned to record " +
                          std::to_string(holder));
        record.tmid = tmid;
    }
    if (args.has("--password")) {
        if (!tmid_assigned(record.tmid))
            throw UsageError("a password needs an identifier: give --id SERIAL");
        orva_xid_t xid;
        check(orva_make_xid(h, orva_get_dev_class_by_handle(h), &record.tmid, args.value("--password").c_str(), &xid),
              "orva_make_xid");
        check(orva_update_password(h, &xid, &record), "orva_update_password");
    }
    if (!key.empty() && !tmid_assigned(record.tmid))
        throw UsageError("--key needs an identifier: give --id SERIAL");
    if (!public_key.empty())
        std::memcpy(record.public_key, public_key.data(), public_key.size());
    if (exists) {
        check(orva_db_modify_user(h, number, &record), "modifying " + name);
    } else {
        check(orva_db_add_user(h, &record, &number), "adding " + name);
    }
    orva_db_close(h);
    module.append_log(exists ? kLogUserChanged : kLogUserCreated, 0, nullptr, 0, name);
    if (!key.empty()) {
        // The user key lives in the identifier page named by the configuration.
        uint8_t page_byte = 0;
        check(orva_db_conf_get_tm_page_no(h, &page_byte), "identifier page");
        int page = static_cast<uint8_t>(~page_byte);
        Bytes pages;
        std::string dir = state_dir();
        const uint8_t *tm = reinterpret_cast<const uint8_t *>(&record.tmid);
        // Read, change and write under the lock that tmid_write_page takes.
        Fd lock;
        if (lock_file(dir, file::kReaderLock, true, lock) != Status::Ok)
            throw Failure("cannot write the identifier memory");
        if (load_pages(dir, tm, pages) != Status::Ok)
            throw Failure("identifier memory unreadable");
        std::memcpy(pages.data() + page * TMID_PAGE_SIZE, key.data(), key.size());
        if (store_pages(dir, tm, pages) != Status::Ok)
            throw Failure("cannot write the identifier memory");
    }
    std::printf("%s %s (record %u) in %s%s%s.\n", exists ? "Updated" : "Enrolled", name.c_str(), number,
                group.c_str(),
                tmid_assigned(record.tmid)
                    ? (", identifier " + tmid_text(reinterpret_cast<const uint8_t *>(&record.tmid))).c_str()
                    : "",
                xid_hash_set(record.xid) ? ", password set" : ", no password");
    if (!id.empty() && record.tmid.family >= 2 && public_key.empty())
        std::printf("Note: for family codes 02 and above the program checks the user key in the identifier's\n"
                    "memory against the record's public key; give --key and --public-key, or use --family 01.\n");
    return 0;
}

int cmd_delete(const std::vector<std::string> &argv)
{
    Args args(argv, {}, {}, 1);
    if (args.positional().empty())
        throw UsageError("delete needs a NAME");
    std::string name = checked_name("name", args.positional()[0]);
    Module module;
    orva_handle_t h = module.handle();
    check(orva_db_open(h, 0), "orva_db_open");
    uint16_t number = 0;
    if (orva_db_find_user_by_name(h, name.data(), name.size(), &number) == ORVA_OK) {
        check(orva_db_delete_user(h, number), "deleting " + name);
        orva_db_close(h);
        module.append_log(kLogUserDeleted, 0, nullptr, 0, name);
    } else {
        check(orva_db_find_group_by_name(h, name.data(), name.size(), &number), name);
        check(orva_db_delete_group(h, number), "deleting group " + name);
        orva_db_close(h);
    }
    std::printf("Deleted %s (record %u).\n", name.c_str(), number);
    return 0;
}

int cmd_logout(const std::vector<std::string> &argv)
{
    Args args(argv, {}, {}, 0);
    Module module;
    check(orva_logout(module.handle()), "orva_logout");
    std::printf("Logged out.\n");
    return 0;
}

int cmd_config(const std::vector<std::string> &argv)
{
    Args args(argv, {}, {"--tm-timeout", "--pw-timeout", "--bad-count", "--page", "--watchdog"}, 0);
    Module module;
    orva_handle_t h = module.handle();
    uint8_t conf[ORVA_CONF_SIZE];
    check(orva_db_conf_get(h, conf), "orva_db_conf_get");
    conf[0] = static_cast<uint8_t>(args.number("--tm-timeout", 0, 255, conf[0]));
    conf[1] = static_cast<uint8_t>(args.number("--pw-timeout", 0, 255, conf[1]));
    conf[2] = static_cast<uint8_t>(args.number("--bad-count", 0, 255, conf[2]));
    conf[3] = static_cast<uint8_t>(~args.number("--page", 0, 255, static_cast<uint8_t>(~conf[3])));
    put_u32(conf + 4, args.number("--watchdog", 0, UINT32_MAX, get_u32(conf + 4)));
    check(orva_db_conf_write(h, conf), "orva_db_conf_write");
    std::printf("Identifier time-out %u s, password time-out %u s, bad-logon count %u, identifier page %u, "
                "watchdog %u.\n",
                conf[0], conf[1], conf[2], static_cast<uint8_t>(~conf[3]), get_u32(conf + 4));
    return 0;
}

struct Command {
    const char *name;
    std::function<int(const std::vector<std::string> &)> run;
    const char *usage;
};

const std::vector<Command> &commands()
{
    static const std::vector<Command> list = {
        {"init", cmd_init,
         "init [--class 1|2] [--state 1|2] [--area-size N] [--force]\n"
         "      create a module: device class, state 1 new or 2 erased, integrity-data area size\n"
         "      (default 1054720); --force replaces an existing one"},
        {"status", cmd_status, "status\n      state, class, area, configuration, records, log, logon, reader"},
        {"format", cmd_format,
         "format\n      format the database with groups ADMINS, EVERYONE and user SUPERVISOR, clear the log"},
        {"erase", cmd_erase, "erase\n      erase the database (state 2)"},
        {"enroll", cmd_enroll,
         "enroll NAME --group GROUP [--id SERIAL [--family HH]] [--password PW] [--rights N]\n"
         "       [--blocked|--unblocked] [--key HEX64] [--public-key HEX128]\n"
         "      create or update a user; --id assigns an identifier (family default 0C) and needs\n"
         "      --password; --rights 0-15 for ADMINS members; --key writes the user key into the\n"
         "      identifier page of the configuration, --public-key stores the matching public key"},
        {"delete", cmd_delete, "delete NAME\n      delete a user, or a group without users"},
        {"users", cmd_users, "users\n      table of the records"},
        {"log", cmd_log, "log [--clear]\n      the event log, one line per record; --clear empties it"},
        {"config", cmd_config,
         "config [--tm-timeout N] [--pw-timeout N] [--bad-count N] [--page N] [--watchdog N]\n"
         "      show or change the configuration"},
        {"touch", cmd_touch,
         "touch SERIAL|--user NAME [--family HH] [--uninitialised]\n"
         "      present an identifier: 12 hex digits of serial, or the one assigned to a user"},
        {"untouch", cmd_untouch, "untouch [SERIAL|--user NAME|--all]\n      take identifiers off the reader (default all)"},
        {"ia", cmd_ia, "ia\n      the hand-over block left for the operating system"},
        {"logout", cmd_logout, "logout\n      end the logon session"},
    };
    return list;
}

void print_help(FILE *out)
{
    std::fprintf(out,
                 "usage: orva-sim COMMAND [ARGS]\n"
                 "Simulated ORVA module kept in $ORVA_SIM_DIR (else /var/lib/orva-sim).\n"
                 "$ORVA_SIM_CLOCK=\"YYYY-MM-DD HH:MM:SS\" fixes the module clock.\n\ncommands:\n");
    for (const Command &c : commands())
        std::fprintf(out, "  %s\n", c.usage);
    std::fprintf(out, "\nexit status: 0 done, 1 module failure, 2 bad arguments\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        print_help(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        print_help(stdout);
        return 0;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const Command &c : commands()) {
        if (name != c.name)
            continue;
        try {
            return c.run(args);
        } catch (const UsageError &e) {
            std::fprintf(stderr, "orva-sim %s: %s\nusage: orva-sim %s\n", c.name, e.what(), c.usage);
            return 2;
        } catch (const Failure &e) {
            std::fprintf(stderr, "orva-sim %s: %s\n", c.name, e.what());
            return 1;
        } catch (const std::exception &e) {
            std::fprintf(stderr, "orva-sim %s: %s\n", c.name, e.what());
            return 1;
        }
    }
    std::fprintf(stderr, "orva-sim: unknown command '%s' (see orva-sim --help)\n", name.c_str());
    return 2;
}
