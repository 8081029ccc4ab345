// Durability and damage: a reopened module holds what was written, a killed
// writer leaves old or new content, damaged files give codes.
#include "support.h"

#include "module_files.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <filesystem>
#include <random>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace orva_test;

namespace {

const uint8_t kVersion[4] = {0, 3, 0, 29};

// Formats with the default records and one user ALPHA (number 4).
void prepare(orva_handle_t h)
{
    ASSERT_EQ(orva_format_database(h, kVersion), ORVA_OK);
    ASSERT_EQ(orva_db_open(h, 0), ORVA_OK);
    orva_db_record g = default_group(1, "EVERYONE", 0);
    ASSERT_EQ(orva_db_add_group(h, &g, nullptr), ORVA_OK);
    orva_db_record u;
    ASSERT_EQ(orva_db_get_user_template(h, 1, &u), ORVA_OK);
    set_name(u.name, "ALPHA");
    u.validity_long = 0;
    uint16_t n = 0;
    ASSERT_EQ(orva_db_add_user(h, &u, &n), ORVA_OK);
    ASSERT_EQ(n, 2);
}

pid_t run_child(const std::function<void(orva_handle_t)> &body)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        orva_handle_t h = nullptr;
        if (orva_init(0) != ORVA_OK || orva_open_device(0, &h, 0) != ORVA_OK)
            ::_exit(3);
        body(h);
        ::_exit(0); // no close: the process exit releases the module
    }
    return pid;
}

TEST(SimDurability, ReopenAfterChildExitHoldsWhatWasWritten)
{
    StateDir dir;
    init_module(dir.path());
    const orva_tmid id = make_tmid(0x777);
    pid_t pid = run_child([&](orva_handle_t h) {
        prepare(h);
        orva_db_record u;
        orva_read_db_record(h, 2, &u);
        u.tmid = id;
        orva_make_xid(h, 1, &id, "pw", &u.xid);
        orva_db_modify_user(h, 2, &u);
        orva_login(h, &id, &u.xid);
        orva_db_conf_write_max_bad_count(h, 7);
        orva_save_ic_data(h, "integrity", 1000, 9);
        orva_save_aux_data(h, "aux", 4093, 3);
        uint8_t block[ORVA_IA_DATA_SIZE] = {42};
        orva_save_ia_data(h, block);
        orva_log_open(h, 0);
        orva_log_record *r = nullptr;
        orva_log_create_record(h, 2, 0, nullptr, 0, "child", &r);
        orva_log_append(h, r);
    });
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    uint16_t number = 0;
    ASSERT_EQ(orva_get_current_user(h, &number, nullptr), ORVA_OK);
    EXPECT_EQ(number, 2);
    uint8_t v = 0;
    ASSERT_EQ(orva_db_conf_get_max_bad_count(h, &v), ORVA_OK);
    EXPECT_EQ(v, 7);
    char ic[10] = {}, aux[4] = {};
    ASSERT_EQ(orva_load_ic_data(h, ic, 1000, 9), ORVA_OK);
    EXPECT_STREQ(ic, "integrity");
    ASSERT_EQ(orva_load_aux_data(h, aux, 4093, 3), ORVA_OK);
    EXPECT_STREQ(aux, "aux");
    uint8_t block[ORVA_IA_DATA_SIZE];
    ASSERT_EQ(orva_load_ia_data(h, block), ORVA_OK);
    EXPECT_EQ(block[0], 42);
    orva_log_record *r = nullptr;
    ASSERT_EQ(orva_log_get_first_record(h, &r), ORVA_OK);
    EXPECT_STREQ(r->text, "child");
    orva_device_state s;
    ASSERT_EQ(orva_get_device_state(h, &s), ORVA_OK);
    EXPECT_EQ(s.record_count, 2u);
    orva_exit(0);
}

// The five values one iteration of the writer sets, in its order.
struct Observed {
    uint32_t aux = 0, ic = 0, watchdog = 0, record = 0, log = 0;
};

// Reads the values and checks that each area is whole (no torn write) and
// that the log holds consecutive numbers.
Observed observe(orva_handle_t h)
{
    Observed o;
    std::vector<uint32_t> words(ORVA_AUX_DATA_SIZE / 4);
    EXPECT_EQ(orva_load_aux_data(h, words.data(), 0, ORVA_AUX_DATA_SIZE), ORVA_OK);
    for (uint32_t w : words)
        EXPECT_EQ(w, words[0]) << "aux area torn";
    o.aux = words[0];
    EXPECT_EQ(orva_load_ic_data(h, words.data(), 60000, ORVA_AUX_DATA_SIZE), ORVA_OK);
    for (uint32_t w : words)
        EXPECT_EQ(w, words[0]) << "integrity area torn";
    o.ic = words[0];
    EXPECT_EQ(orva_get_watchdog_timeout(h, &o.watchdog), ORVA_OK);
    orva_db_record r;
    EXPECT_EQ(orva_read_db_record(h, 2, &r), ORVA_OK);
    o.record = r.validity_long;
    orva_log_record *rec = nullptr;
    int rc = orva_log_get_first_record(h, &rec);
    uint32_t previous = 0;
    bool first = true;
    while (rc == ORVA_OK) {
        uint32_t p = 0;
        std::memcpy(&p, rec->param, 4);
        if (!first) {
            EXPECT_EQ(p, previous + 1) << "log gap or repeat";
        }
        previous = p;
        first = false;
        rc = orva_log_get_next_record(h, &rec);
    }
    EXPECT_EQ(rc, ORVA_E_END);
    o.log = first ? 0 : previous;
    return o;
}

TEST(SimDurability, KilledWriterLeavesOldOrNewContentOfEachChange)
{
    StateDir dir;
    init_module(dir.path(), 1, ORVA_STATE_NEW, 65536);
    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    prepare(h);
    ASSERT_EQ(orva_exit(0), ORVA_OK);

    std::mt19937 rng(20240305);
    std::uniform_int_distribution<int> delay_ms(1, 60);
    Observed last;
    for (int round = 0; round < 30; ++round) {
        ASSERT_EQ(orva_init(0), ORVA_OK);
        ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK) << "round " << round;
        Observed o = observe(h);
        ASSERT_EQ(orva_exit(0), ORVA_OK);
        // Written in the order aux, ic, watchdog, record, log: what is seen is
        // a prefix of the last iteration over the one before.
        ASSERT_GE(o.aux, o.ic);
        ASSERT_GE(o.ic, o.watchdog);
        ASSERT_GE(o.watchdog, o.record);
        ASSERT_GE(o.record, o.log);
        ASSERT_LE(o.aux - o.log, 1u) << "round " << round;
        if (::testing::Test::HasFailure())
            return;

        uint32_t start = o.log < o.aux ? o.aux : o.aux + 1; // finish an interrupted iteration
        // The writer reports each whole iteration on a pipe; the kill comes
        // at a random moment after the first one, however slow the disk is.
        int done[2];
        ASSERT_EQ(::pipe(done), 0);
        pid_t pid = run_child([start, &done](orva_handle_t child) {
            ::close(done[0]);
            orva_db_open(child, 0);
            orva_log_open(child, 0);
            std::vector<uint32_t> words(ORVA_AUX_DATA_SIZE / 4);
            for (uint32_t i = start;; ++i) {
                std::fill(words.begin(), words.end(), i);
                if (orva_save_aux_data(child, words.data(), 0, ORVA_AUX_DATA_SIZE) != ORVA_OK ||
                    orva_save_ic_data(child, words.data(), 60000, ORVA_AUX_DATA_SIZE) != ORVA_OK ||
                    orva_write_watchdog_timeout(child, i) != ORVA_OK)
                    ::_exit(4);
                orva_db_record r;
                orva_read_db_record(child, 2, &r);
                r.validity_long = i;
                if (orva_db_modify_user(child, 2, &r) != ORVA_OK)
                    ::_exit(5);
                orva_log_record *rec = nullptr;
                orva_log_create_record(child, 16384, 0, &i, 4, "ALPHA", &rec);
                if (orva_log_append(child, rec) != ORVA_OK)
                    ::_exit(6);
                orva_log_destroy_record(child, rec);
                if (::write(done[1], "", 1) != 1)
                    ::_exit(7);
            }
        });
        ::close(done[1]);
        ASSERT_GT(pid, 0);
        char byte;
        const bool iterated = ::read(done[0], &byte, 1) == 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(done[0]); // open until the kill: a write must not raise SIGPIPE
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: exit " << WEXITSTATUS(status);
        ASSERT_EQ(WTERMSIG(status), SIGKILL);
        ASSERT_TRUE(iterated) << "round " << round;
        last = o;
    }
    std::printf("writer reached iteration %u\n", last.aux);
    // Every round finished at least one whole iteration before its kill.
    EXPECT_GE(last.aux, 29u) << "the writers made progress between kills";
}

// ---- damaged files ------------------------------------------------------------

enum class Damage { TruncatedHalf, TruncatedHeader, Empty, PayloadBit, HeaderBit, Garbage, ExtraByte, Missing, Directory };

const char *damage_name(Damage d)
{
    switch (d) {
    case Damage::TruncatedHalf: return "TruncatedHalf";
    case Damage::TruncatedHeader: return "TruncatedHeader";
    case Damage::Empty: return "Empty";
    case Damage::PayloadBit: return "PayloadBit";
    case Damage::HeaderBit: return "HeaderBit";
    case Damage::Garbage: return "Garbage";
    case Damage::ExtraByte: return "ExtraByte";
    case Damage::Missing: return "Missing";
    case Damage::Directory: return "Directory";
    }
    return "?";
}

void damage_file(const std::string &path, Damage d)
{
    std::vector<uint8_t> bytes = read_file(path);
    ASSERT_GT(bytes.size(), 20u) << path;
    switch (d) {
    case Damage::TruncatedHalf: bytes.resize(bytes.size() / 2); break;
    case Damage::TruncatedHeader: bytes.resize(10); break;
    case Damage::Empty: bytes.clear(); break;
    case Damage::PayloadBit: bytes.back() ^= 0x10; break;
    case Damage::HeaderBit: bytes[5] ^= 0x01; break;
    case Damage::Garbage: {
        std::mt19937 rng(7);
        for (uint8_t &b : bytes)
            b = static_cast<uint8_t>(rng());
        break;
    }
    case Damage::ExtraByte: bytes.push_back(0); break;
    case Damage::Missing: ASSERT_EQ(::unlink(path.c_str()), 0); return;
    case Damage::Directory:
        ASSERT_EQ(::unlink(path.c_str()), 0);
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
        return;
    }
    write_file(path, bytes);
}

const orva_tmid kReaderId = make_tmid(0xCAFE);

// A module with every file present.
void populate(const std::string &dir)
{
    init_module(dir);
    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    prepare(h);
    ASSERT_EQ(orva_log_open(h, 0), ORVA_OK);
    orva_log_record *r = nullptr;
    ASSERT_EQ(orva_log_create_record(h, 2, 0, nullptr, 0, "x", &r), ORVA_OK);
    ASSERT_EQ(orva_log_append(h, r), ORVA_OK);
    uint8_t block[ORVA_IA_DATA_SIZE] = {1};
    ASSERT_EQ(orva_save_ia_data(h, block), ORVA_OK);
    uint8_t key[ORVA_PRIVATE_KEY_SIZE] = {2};
    ASSERT_EQ(orva_iares_write_ws_private_key(h, key), ORVA_OK);
    ASSERT_EQ(orva_exit(0), ORVA_OK);
    orva_sim::ReaderEntry e;
    std::memcpy(e.id, &kReaderId, 8);
    ASSERT_EQ(orva_sim::reader_present(dir, e), orva_sim::Status::Ok);
    ASSERT_EQ(tmid_init(), TMID_OK);
    uint8_t page[TMID_PAGE_SIZE] = {3};
    ASSERT_EQ(tmid_write_page(e.id, 1, 1, page), TMID_OK);
    tmid_exit();
}

// What a file's damage shows as: the code of the calls that read it, with a
// missing file answered differently by some, and a call that recovers.
struct FileCase {
    const char *file;
    int code_missing;
    std::function<int(orva_handle_t)> probe;
    std::function<int(orva_handle_t)> recover; // may be empty
};

int open_probe(orva_handle_t)
{
    orva_handle_t h = nullptr;
    return orva_open_device(0, &h, 0);
}

int tmid_probe(const std::function<int()> &call)
{
    if (tmid_init() != TMID_OK)
        return -1;
    int rc = call();
    tmid_exit();
    // The same meaning in the module's codes, so one table serves both.
    return rc == TMID_E_CORRUPT ? ORVA_E_CORRUPT : rc == TMID_OK ? ORVA_OK : rc;
}

std::vector<FileCase> file_cases()
{
    return {
        {"device", ORVA_E_NO_DEVICE, open_probe, {}},
        {"database", ORVA_E_CORRUPT,
         [](orva_handle_t h) {
             orva_db_record r;
             orva_device_state s;
             int a = orva_get_device_state(h, &s), b = orva_read_db_record(h, 1, &r), c = orva_db_open(h, 0);
             return a == b && b == c ? a : -1;
         },
         [](orva_handle_t h) { return orva_format_database(h, kVersion); }},
        {"config", ORVA_E_CORRUPT,
         [](orva_handle_t h) {
             uint8_t v;
             int a = orva_db_conf_get_tm_timeout(h, &v), b = orva_db_conf_write_pw_timeout(h, 9);
             return a == b ? a : -1;
         },
         [](orva_handle_t h) {
             const uint8_t conf[ORVA_CONF_SIZE] = {20, 20, 3, 0xfe};
             return orva_db_conf_write(h, conf);
         }},
        {"log", ORVA_E_CORRUPT,
         [](orva_handle_t h) {
             orva_log_record *r = nullptr;
             return orva_log_get_first_record(h, &r);
         },
         [](orva_handle_t h) { return orva_format_log(h); }},
        {"icdata", ORVA_E_CORRUPT,
         [](orva_handle_t h) {
             uint8_t b[4];
             int a = orva_load_ic_data(h, b, 0, 4), c = orva_save_ic_data(h, b, 0, 4);
             return a == c ? a : -1;
         },
         {}},
        {"aux", ORVA_E_CORRUPT,
         [](orva_handle_t h) {
             uint8_t b[4];
             return orva_load_aux_data(h, b, 0, 4);
         },
         {}},
        {"iadata", ORVA_E_NOT_SET,
         [](orva_handle_t h) {
             uint8_t b[ORVA_IA_DATA_SIZE];
             return orva_load_ia_data(h, b);
         },
         [](orva_handle_t h) {
             uint8_t b[ORVA_IA_DATA_SIZE] = {};
             return orva_save_ia_data(h, b);
         }},
        {"wskey", ORVA_E_NOT_SET,
         [](orva_handle_t h) {
             uint8_t k[ORVA_PRIVATE_KEY_SIZE];
             return orva_iares_get_ws_private_key(h, k);
         },
         [](orva_handle_t h) {
             uint8_t k[ORVA_PRIVATE_KEY_SIZE] = {};
             return orva_iares_write_ws_private_key(h, k);
         }},
        {"reader", ORVA_OK,
         [](orva_handle_t) {
             return tmid_probe([] {
                 tmid_descriptor *l = nullptr;
                 int n = 0;
                 int rc = tmid_get_id_list(&l, &n);
                 std::free(l);
                 return rc;
             });
         },
         {}},
        {"page", ORVA_OK,
         [](orva_handle_t) {
             return tmid_probe([] {
                 uint8_t page[TMID_PAGE_SIZE];
                 return tmid_read_page(reinterpret_cast<const uint8_t *>(&kReaderId), 1, 1, page);
             });
         },
         {}},
    };
}

class SimDamagedFile : public ::testing::TestWithParam<std::tuple<size_t, Damage>> {};

TEST_P(SimDamagedFile, GivesACodeNotACrash)
{
    const FileCase fc = file_cases()[std::get<0>(GetParam())];
    const Damage damage = std::get<1>(GetParam());
    StateDir dir;
    populate(dir.path());
    if (HasFatalFailure())
        return;
    std::string name = fc.file == std::string("page")
                           ? orva_sim::page_file_name(reinterpret_cast<const uint8_t *>(&kReaderId))
                           : fc.file;
    damage_file(dir.file(name), damage);

    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    int open_rc = orva_open_device(0, &h, 0);
    if (fc.file == std::string("device")) {
        EXPECT_EQ(open_rc, damage == Damage::Missing ? ORVA_E_NO_DEVICE : ORVA_E_CORRUPT);
        orva_device_info info;
        EXPECT_EQ(orva_get_device_info(nullptr, nullptr, &info), open_rc);
        orva_exit(0);
        return;
    }
    ASSERT_EQ(open_rc, ORVA_OK);
    int expected = damage == Damage::Missing ? fc.code_missing : ORVA_E_CORRUPT;
    EXPECT_EQ(fc.probe(h), expected);
    if (fc.recover && damage != Damage::Directory) {
        EXPECT_EQ(fc.recover(h), ORVA_OK) << "rewriting the whole file repairs it";
        EXPECT_NE(fc.probe(h), ORVA_E_CORRUPT);
    }
    orva_exit(0);
}

INSTANTIATE_TEST_SUITE_P(
    AllFiles, SimDamagedFile,
    ::testing::Combine(::testing::Range<size_t>(0, 10),
                       ::testing::Values(Damage::TruncatedHalf, Damage::TruncatedHeader, Damage::Empty,
                                         Damage::PayloadBit, Damage::HeaderBit, Damage::Garbage,
                                         Damage::ExtraByte, Damage::Missing, Damage::Directory)),
    [](const ::testing::TestParamInfo<SimDamagedFile::ParamType> &info) {
        return std::string(file_cases()[std::get<0>(info.param)].file) + "_" + damage_name(std::get<1>(info.param));
    });

} // namespace
