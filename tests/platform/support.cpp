#include "support.h"

#include "module_init.h"
#include "process.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace orva_test {

StateDir::StateDir() : dir_("orva-sim-test"), path_(dir_.path())
{
    ::setenv("ORVA_SIM_DIR", path_.c_str(), 1);
}

StateDir::~StateDir()
{
    ::unsetenv("ORVA_SIM_DIR");
}

void init_module(const std::string &dir, uint32_t dev_class, uint32_t state, uint32_t area_size)
{
    orva_sim::DeviceFile device;
    device.dev_class = dev_class;
    device.area_size = area_size;
    device.serial = 1234;
    ASSERT_EQ(orva_sim::init_module(dir, device, state, true), orva_sim::InitResult::Ok);
}

orva_tmid make_tmid(uint64_t serial, uint8_t family)
{
    orva_tmid t;
    t.family = family;
    for (int i = 0; i < 6; ++i)
        t.serial[i] = static_cast<uint8_t>(serial >> (8 * (5 - i)));
    t.crc = tmid_crc8(reinterpret_cast<const uint8_t *>(&t), 7);
    return t;
}

void set_name(char field[ORVA_NAME_SIZE], const char *name)
{
    std::memset(field, 0, ORVA_NAME_SIZE);
    std::strncpy(field, name, ORVA_NAME_SIZE - 1);
}

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

void ModuleTest::SetUp()
{
    ::setenv("ORVA_SIM_CLOCK", "2024-03-05 09:07:03", 1);
    init_module(dir_.path());
    ASSERT_EQ(orva_init(0), ORVA_OK);
    ASSERT_EQ(orva_open_device(0, &h_, 0), ORVA_OK);
}

void ModuleTest::TearDown()
{
    orva_exit(0);
    ::unsetenv("ORVA_SIM_CLOCK");
}

void ModuleTest::reopen()
{
    ASSERT_EQ(orva_close_device(h_), ORVA_OK);
    ASSERT_EQ(orva_open_device(0, &h_, 0), ORVA_OK);
}

void ModuleTest::format_defaults()
{
    static const uint8_t version[4] = {0, 3, 0, 29};
    ASSERT_EQ(orva_format_database(h_, version), ORVA_OK);
    ASSERT_EQ(orva_db_open(h_, 0), ORVA_OK);
    uint32_t dev_class = orva_get_dev_class_by_handle(h_);
    orva_db_record admins = default_group(dev_class, "ADMINS", 1);
    orva_db_record everyone = default_group(dev_class, "EVERYONE", 0);
    uint16_t n = 0;
    ASSERT_EQ(orva_db_add_group(h_, &admins, &n), ORVA_OK);
    ASSERT_EQ(n, 1);
    ASSERT_EQ(orva_db_add_group(h_, &everyone, &n), ORVA_OK);
    ASSERT_EQ(n, 2);
    orva_db_record supervisor;
    ASSERT_EQ(orva_db_get_user_template(h_, 1, &supervisor), ORVA_OK);
    set_name(supervisor.name, "SUPERVISOR");
    supervisor.admin = 1;
    supervisor.access = 15;
    ASSERT_EQ(orva_db_add_user(h_, &supervisor, &n), ORVA_OK);
    ASSERT_EQ(n, 3);
}

orva_xid_t ModuleTest::xid(const orva_tmid &tmid, const char *password)
{
    orva_xid_t x;
    EXPECT_EQ(orva_make_xid(h_, orva_get_dev_class_by_handle(h_), &tmid, password, &x), ORVA_OK);
    return x;
}

uint16_t ModuleTest::add_user(const char *name, uint16_t group_no, const orva_tmid &tmid, const char *password)
{
    orva_db_record r;
    EXPECT_EQ(orva_db_get_user_template(h_, group_no, &r), ORVA_OK);
    set_name(r.name, name);
    r.tmid = tmid;
    r.xid = xid(tmid, password);
    uint16_t n = 0;
    EXPECT_EQ(orva_db_add_user(h_, &r, &n), ORVA_OK);
    return n;
}

orva_db_record ModuleTest::record(uint16_t number)
{
    orva_db_record r;
    std::memset(&r, 0, sizeof r);
    EXPECT_EQ(orva_read_db_record(h_, number, &r), ORVA_OK);
    return r;
}

RunResult run_sim(const std::vector<std::string> &args)
{
    std::vector<std::string> argv{ORVA_SIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    simtest::Result r = simtest::run_program(argv);
    RunResult result;
    result.code = r.status;
    result.out = std::move(r.out);
    result.err = std::move(r.err);
    return result;
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace orva_test
