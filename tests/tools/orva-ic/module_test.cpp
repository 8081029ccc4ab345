// orva-ic module: the demo computer's data approved into a simulated module
// and shown again; a damaged block shows as nothing stored.
#include "process.h"
#include "sim_root.h"

#include "module_init.h"

#include <orva.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using simtest::Result;

Result orva_ic(const std::vector<std::string> &args)
{
    std::vector<std::string> argv{ORVA_IC_PATH, "module"};
    argv.insert(argv.end(), args.begin(), args.end());
    return simtest::run_program(argv);
}

TEST(OrvaIcModule, ApproveAndShow)
{
    simtest::TempDir dir("orva-ic-module");
    const std::string root = simtest::build_root(dir, simtest::read_file(DEMO_DESCRIPTION));
    simtest::SysRoot sysroot(root);
    ::setenv("ORVA_SIM_DIR", (dir / "module").c_str(), 1);
    orva_sim::DeviceFile device;
    device.dev_class = 1;
    device.area_size = ORVA_IC_DATA_DEFAULT_SIZE;
    ASSERT_EQ(orva_sim::init_module(dir / "module", device, ORVA_STATE_NEW, true), orva_sim::InitResult::Ok);

    Result r = orva_ic({"show"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("hardware: nothing stored\ndisks: nothing stored\nregistry: nothing stored\nfiles: nothing "
                         "stored\n"),
              std::string::npos)
        << r.out;

    for (const char *kind : {"hw", "hd"}) {
        r = orva_ic({"approve", kind});
        EXPECT_EQ(r.status, 0) << kind << ": " << r.err;
    }
    r = orva_ic({"show", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"area_size\": 1054720"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"reg_block_size\": 512000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"class\": \"PCI\", \"flags\": 1, \"devices\": 6}"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"disks\": [\"Z3T0ABCD\", \"WD-WCC3F1234567\"]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"files\": null"), std::string::npos) << r.out;

    // A list that is not one, and a volume the computer does not have.
    const std::string junk = dir / "junk";
    { std::ofstream(junk) << "not a list"; }
    EXPECT_EQ(orva_ic({"approve", "fs", junk}).status, 1);
    EXPECT_EQ(orva_ic({"approve", "reg", "no-such-volume", "/Windows", junk}).status, 1);
    EXPECT_EQ(orva_ic({"approve", "cpu"}).status, 2);

    orva_handle_t handle = nullptr;
    ASSERT_EQ(orva_init(0), ORVA_OK);
    ASSERT_EQ(orva_open_device(0, &handle, 0), ORVA_OK);
    // The disks as the Disks page stores them with everything ticked: the
    // first disk's flags 13 (after its count and name), disk control on (the
    // last byte).
    uint8_t header[8] = {};
    ASSERT_EQ(orva_load_ic_data(handle, header, 15360, 8), ORVA_OK);
    const uint32_t payload = header[4] | header[5] << 8 | header[6] << 16 | uint32_t(header[7]) << 24;
    ASSERT_GT(payload, 16u);
    ASSERT_LE(payload, 15352u);
    std::vector<uint8_t> disks(payload);
    ASSERT_EQ(orva_load_ic_data(handle, disks.data(), 15360 + 8, payload), ORVA_OK);
    const size_t name_length = disks[2] | disks[3] << 8;
    EXPECT_EQ(std::string(disks.begin() + 4, disks.begin() + 4 + name_length), "Z3T0ABCD");
    EXPECT_EQ(disks[4 + name_length], 13);
    EXPECT_EQ(disks.back(), 1);

    // The hardware block's length grown past the block: nothing stored.
    const uint8_t length[4] = {0xF9, 0x3B, 0, 0}; // 15353
    ASSERT_EQ(orva_save_ic_data(handle, length, 4, 4), ORVA_OK);
    orva_exit(0);
    r = orva_ic({"show"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("hardware: nothing stored\ndisks: "), std::string::npos) << r.out;
    ::unsetenv("ORVA_SIM_DIR");
}

} // namespace
