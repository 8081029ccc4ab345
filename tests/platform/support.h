// Test fixtures for the simulated module: a fresh state directory per test,
// record builders and a runner for orva-sim.
#ifndef ORVA_TESTS_PLATFORM_SUPPORT_H
#define ORVA_TESTS_PLATFORM_SUPPORT_H

#include "orva.h"
#include "temp_dir.h"
#include "tmid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orva_test {

// A temporary state directory, exported as ORVA_SIM_DIR while it lives.
class StateDir {
public:
    StateDir();
    ~StateDir();
    StateDir(const StateDir &) = delete;
    StateDir &operator=(const StateDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    simtest::TempDir dir_;
    std::string path_;
};

// Writes a fresh module (class, state, area size) into the directory.
void init_module(const std::string &dir, uint32_t dev_class = 1, uint32_t state = ORVA_STATE_NEW,
                 uint32_t area_size = ORVA_IC_DATA_DEFAULT_SIZE);

orva_tmid make_tmid(uint64_t serial, uint8_t family = 0x0c);
void set_name(char field[ORVA_NAME_SIZE], const char *name);
// The default groups as a freshly started program writes them.
orva_db_record default_group(uint32_t dev_class, const char *name, uint8_t admin);

// A module opened for the test, with ORVA_SIM_DIR pointing at it.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Format, open the database and add ADMINS (1), EVERYONE (2) and
    // SUPERVISOR (3) as the program does.
    void format_defaults();
    // Adds a user of a group with an identifier and password; returns its number.
    uint16_t add_user(const char *name, uint16_t group_no, const orva_tmid &tmid, const char *password);
    orva_xid_t xid(const orva_tmid &tmid, const char *password);
    orva_db_record record(uint16_t number);
    void reopen();

    StateDir dir_;
    orva_handle_t h_ = nullptr;
};

struct RunResult {
    int code = -1;
    std::string out, err;
};

// Runs orva-sim with the arguments in the current environment.
RunResult run_sim(const std::vector<std::string> &args);

// Reads or writes a whole file.
std::vector<uint8_t> read_file(const std::string &path);
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace orva_test

#endif
