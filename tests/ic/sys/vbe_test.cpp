// Video BIOS harness: the simulated video BIOS run from the physical-memory
// file answers VBE DDC exactly for the described ports.
#include "ic/sys/vbe.h"
#include "ic/sys/sysroot.h"

#include "sim_root.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

const char *const monitors = R"(
monitor port=0 manufacturer=DEL product=0xA0B1 serial=0x3142354C name="DELL U2412M"
monitor port=2 manufacturer=SAM product=0x0C4E serial=0x01000E00
)";

struct VbeDeleter {
    void operator()(ic_sys_vbe *v) const { ic_sys_vbe_destroy(v); }
};
using Vbe = std::unique_ptr<ic_sys_vbe, VbeDeleter>;

Vbe make_vbe(int expect = IC_SYS_OK, std::vector<std::string> *log = nullptr)
{
    ic_sys_vbe *v = nullptr;
    auto sink = [](void *ctx, const char *line) { static_cast<std::vector<std::string> *>(ctx)->push_back(line); };
    EXPECT_EQ(ic_sys_vbe_create(log ? +sink : nullptr, log, &v), expect);
    return Vbe(v);
}

class VbeTest : public ::testing::Test {
protected:
    void build(const std::string &text)
    {
        root_ = simtest::build_root(dir_, text, "root", &model_);
        sysroot_ = std::make_unique<simtest::SysRoot>(root_);
    }
    void patch_mem(uint32_t offset, const std::vector<uint8_t> &bytes)
    {
        std::fstream f(root_ + "/dev/mem", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(offset);
        f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    }

    simtest::TempDir dir_;
    std::string root_;
    simcomputer::Computer model_;
    std::unique_ptr<simtest::SysRoot> sysroot_;
};

TEST_F(VbeTest, DescribedPortsAnswerWithTheirEdidsAndOthersFail)
{
    build(monitors);
    std::vector<std::string> log;
    Vbe vbe = make_vbe(IC_SYS_OK, &log);
    ASSERT_TRUE(vbe);
    for (unsigned port = 0; port < IC_SYS_VBE_PORTS; ++port) {
        uint8_t edid[IC_SYS_VBE_EDID_SIZE];
        int rc = ic_sys_vbe_read_edid(vbe.get(), port, edid);
        const simcomputer::Monitor *m = nullptr;
        for (const auto &mon : model_.monitors)
            if (mon.port == port)
                m = &mon;
        if (m) {
            ASSERT_EQ(rc, IC_SYS_OK) << "port " << port;
            EXPECT_EQ(0, std::memcmp(edid, m->edid.data(), sizeof edid)) << "port " << port;
        } else {
            EXPECT_EQ(rc, IC_SYS_ENOENT) << "port " << port;
        }
    }
    EXPECT_FALSE(log.empty()); // register dumps reach the log function
}

TEST_F(VbeTest, RegistersOfTheDdcCalls)
{
    build(monitors);
    Vbe vbe = make_vbe();
    ASSERT_TRUE(vbe);
    struct Case {
        uint32_t eax, ebx, ecx, edx;
        uint32_t ax_after;
    } cases[] = {
        {0x4F15, 0, 0, 0, 0x004F},      // capabilities of a port with an EDID
        {0x4F15, 0, 1, 0, 0x014F},      // a port without one fails
        {0x4F15, 0, 6, 0, 0x014F},      // beyond the ports
        {0x4F15, 1, 2, 1, 0x014F},      // only block 0 exists
        {0x4F15, 2, 0, 0, 0x014F},      // another DDC sub-function
        {0x4F00, 0, 0, 0, 0x4F00},      // another VBE function: not supported (AL != 4Fh)
        {0x0003, 0, 0, 0, 0x0003},      // not VBE at all
    };
    for (const Case &c : cases) {
        ic_sys_vbe_regs regs{};
        regs.eax = c.eax;
        regs.ebx = c.ebx;
        regs.ecx = c.ecx;
        regs.edx = c.edx;
        ASSERT_EQ(ic_sys_vbe_int10(vbe.get(), &regs, nullptr, 0), IC_SYS_OK);
        EXPECT_EQ(regs.eax & 0xFFFF, c.ax_after) << std::hex << c.eax << " bl=" << c.ebx << " port=" << c.ecx;
        if (c.ax_after == 0x004F) {
            EXPECT_EQ(regs.ebx & 0x3, 0x2u); // DDC2
        }
    }
}

TEST_F(VbeTest, TheVectorTableDecidesWhereInt10Goes)
{
    build(monitors);
    // Vector 0x10 to the system BIOS, which the emulated machine does not
    // hold: the call runs into empty memory and never comes back.
    patch_mem(0x40, {0x53, 0xFF, 0x00, 0xF0});
    Vbe vbe = make_vbe();
    ASSERT_TRUE(vbe);
    uint8_t edid[IC_SYS_VBE_EDID_SIZE];
    EXPECT_EQ(ic_sys_vbe_read_edid(vbe.get(), 0, edid), IC_SYS_EIO);
}

TEST_F(VbeTest, AHandlerThatNeverReturnsIsStoppedByTheInstructionBound)
{
    build(std::string(monitors) + "videobios mode=hang\n");
    Vbe vbe = make_vbe();
    ASSERT_TRUE(vbe);
    ic_sys_vbe_set_limits(vbe.get(), 0, 200000);
    uint8_t edid[IC_SYS_VBE_EDID_SIZE];
    for (unsigned port : {0u, 1u})
        EXPECT_EQ(ic_sys_vbe_read_edid(vbe.get(), port, edid), IC_SYS_ETIMEDOUT);
}

TEST_F(VbeTest, AHandlerThatNeverReturnsIsStoppedByTheTimeout)
{
    build(std::string(monitors) + "videobios mode=hang\n");
    Vbe vbe = make_vbe();
    ASSERT_TRUE(vbe);
    ic_sys_vbe_set_limits(vbe.get(), 1, 0);
    ic_sys_vbe_regs regs{};
    regs.eax = 0x4F15;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ic_sys_vbe_int10(vbe.get(), &regs, nullptr, 0), IC_SYS_ETIMEDOUT);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(VbeTest, MachinesWithoutAVideoBiosOrMemory)
{
    // No option ROM at 0xC0000 is no video BIOS, not a failure to read.
    build(std::string(monitors) + "videobios mode=absent\n");
    EXPECT_FALSE(make_vbe(IC_SYS_ENOENT));

    patch_mem(0xC0000, {0x55, 0xAA, 0x00}); // signature but no size
    EXPECT_FALSE(make_vbe(IC_SYS_ENOENT));
    patch_mem(0xC0000, {0xFF, 0xFF, 0xFF}); // what UEFI firmware leaves there
    EXPECT_FALSE(make_vbe(IC_SYS_ENOENT));

    std::filesystem::resize_file(root_ + "/dev/mem", 0xA8000); // ends inside the video memory
    EXPECT_FALSE(make_vbe(IC_SYS_EIO));

    std::filesystem::remove(root_ + "/dev/mem");
    EXPECT_FALSE(make_vbe(IC_SYS_EIO));
}

TEST_F(VbeTest, BadArguments)
{
    build(monitors);
    Vbe vbe = make_vbe();
    ASSERT_TRUE(vbe);
    uint8_t edid[IC_SYS_VBE_EDID_SIZE];
    EXPECT_EQ(ic_sys_vbe_read_edid(nullptr, 0, edid), IC_SYS_EINVAL);
    EXPECT_EQ(ic_sys_vbe_read_edid(vbe.get(), 0, nullptr), IC_SYS_EINVAL);
    ic_sys_vbe_regs regs{};
    EXPECT_EQ(ic_sys_vbe_int10(vbe.get(), &regs, nullptr, 16), IC_SYS_EINVAL);
    EXPECT_EQ(ic_sys_vbe_create(nullptr, nullptr, nullptr), IC_SYS_EINVAL);
}

} // namespace
