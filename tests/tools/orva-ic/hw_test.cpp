// orva-ic hw as a program on simulated computers: the listing in text and
// JSON, byte images, differences, errors.
#include "peers.h"
#include "process.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kOrvaIc = ORVA_IC_PATH;

using simtest::Result;

using simtest::lines;

class OrvaIcHw : public ::testing::Test {
protected:
    // Builds a computer and points ORVA_SYSROOT at it.
    void computer(const std::string &text)
    {
        sysroot_.reset();
        root_ = simtest::build_root(dir_, text, "root" + std::to_string(++roots_), &model_);
        sysroot_ = std::make_unique<simtest::SysRoot>(root_);
    }

    // Runs orva-ic hw with stdout and stderr captured.
    Result run(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{kOrvaIc, "hw"};
        argv.insert(argv.end(), args.begin(), args.end());
        return simtest::run_program(argv);
    }

    // jq over a JSON text; the lines it prints.
    std::vector<std::string> jq(const std::string &json, const std::string &filter)
    {
        int status;
        std::string out;
        auto result = simtest::jq(json, filter, dir_ / "in.json", status, out);
        EXPECT_EQ(status, 0) << out;
        return result;
    }

    std::string demo() const { return simtest::read_file(DEMO_DESCRIPTION); }

    simtest::TempDir dir_;
    std::string root_;
    simcomputer::Computer model_;
    std::unique_ptr<simtest::SysRoot> sysroot_;
    int roots_ = 0;
};

// The devices the description of a computer names, as "CLASS name" in the
// inventory's order.
std::vector<std::string> described(const simcomputer::Computer &m, const std::vector<std::string> &monitor_names)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < m.cpus.size(); ++i)
        out.push_back("CPU CPU-" + std::to_string(i));
    out.push_back("BIOS System bios");
    for (const auto &array : m.memory_arrays)
        if (array.location == 3 && array.use == 3)
            for (const auto &d : array.devices)
                out.push_back("MEMORY " + d.bank + " (" + d.locator + ")");
    std::vector<const simcomputer::BlockDevice *> blocks;
    for (const auto &b : m.blocks)
        if (!b.is_virtual && (b.kind == simcomputer::BlockKind::cdrom || !b.removable))
            blocks.push_back(&b);
    std::sort(blocks.begin(), blocks.end(), [](auto *a, auto *b) { return a->name < b->name; });
    unsigned hdd = 0, cd = 0;
    for (const auto *b : blocks)
        out.push_back(b->kind == simcomputer::BlockKind::cdrom ? "MEDIA cd" + std::to_string(cd++)
                                                               : "MEDIA hdd" + std::to_string(hdd++));
    std::vector<std::string> pci;
    for (const auto &f : m.pci)
        pci.push_back("PCI " + f.address());
    std::sort(pci.begin(), pci.end());
    out.insert(out.end(), pci.begin(), pci.end());
    std::vector<std::string> usb;
    for (const auto &u : m.usb)
        usb.push_back("USB " + u.name);
    std::sort(usb.begin(), usb.end());
    out.insert(out.end(), usb.begin(), usb.end());
    for (size_t i = 0; i < m.monitors.size(); ++i)
        out.push_back("MONITOR Port " + std::to_string(m.monitors[i].port) + " (" + monitor_names[i] + ")");
    return out;
}

TEST_F(OrvaIcHw, JsonListsExactlyTheDescribedDevicesWithTheCoreNames)
{
    if (!simtest::have("jq"))
        GTEST_SKIP() << "jq is not installed";
    computer(demo());
    const Result r = run({"--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // The demo's monitors: a name descriptor, and a manufacturer code.
    EXPECT_EQ(jq(r.out, ".classes[] | .name as $c | .devices[] | $c + \" \" + .name"),
              described(model_, {"DELL U2412M", "SAM:4e0c"}));
    EXPECT_EQ(jq(r.out, ".classes[] | \"\\(.code) \\(.name) \\(.checked)\""),
              (std::vector<std::string>{"0 CPU false", "1 BIOS false", "2 MEMORY false", "3 MEDIA false",
                                        "4 PCI false", "5 USB false", "6 MONITOR false"}));
    EXPECT_EQ(jq(r.out, ".classes[] | .name + \": \" + (.devices[0].params[0:4] | map(.name + \"/\" + .kind) | join(\" \"))"),
              (std::vector<std::string>{
                  "CPU: model/string speed/uint16",
                  "BIOS: vendor/string version/string date/string hash0/bytes",
                  "MEMORY: size/uint16",
                  "MEDIA: vendor/string model/string revision/string serial/string",
                  "PCI: vendor_id/uint16 device_id/uint16 class/uint16",
                  "USB: id_vendor/uint16 id_product/uint16 serial/string",
                  "MONITOR: edid_hash/bytes",
              }));
    EXPECT_EQ(jq(r.out, ".classes[4].devices[4].params[] | \"\\(.value) \\(.text) \\(.title)\""),
              (std::vector<std::string>{"32902 8086 Vendor", "35842 8c02 Device", "1537 0601 Class"}));
    EXPECT_EQ(jq(r.out, ".classes[1].devices[0].params | length"), (std::vector<std::string>{"131"}));
    EXPECT_EQ(jq(r.out, ".classes[6].devices[].params[0].value | length"), (std::vector<std::string>{"64", "64"}));
}

TEST_F(OrvaIcHw, TextListing)
{
    computer(demo());
    const Result r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    for (const char *line : {"CPU (2)", "  CPU-0", "    Speed: 3200 MHz", "MEMORY (2)", "  BANK 1 (DIMM1)",
                             "    Size: Not installed", "    e0000 (00K): {", "MEDIA (3)", "    Serial: Z3T0ABCD",
                             "PCI (6)", "  0000:00:1f.2", "    Class: 0601", "USB (2)", "MONITOR (2)",
                             "  Port 2 (SAM:4e0c)"}) {
        const std::string want = line;
        EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const std::string &l) { return l.rfind(want, 0) == 0; }))
            << want;
    }
}

TEST_F(OrvaIcHw, TwoScansSaveTheSameImageAndCompareEqual)
{
    computer(demo());
    const std::string a = dir_ / "a.bin", b = dir_ / "b.bin";
    ASSERT_EQ(run({"--save", a}).status, 0);
    ASSERT_EQ(run({"--save", b}).status, 0);
    const std::string image = simtest::read_file(a);
    EXPECT_GT(image.size(), 2u + 64 * 32);
    EXPECT_EQ(simtest::read_file(b), image);
    const Result r = run({"--diff", a});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "no differences\n");
    // Saving replaces the file as a whole; no temporary files stay behind.
    ASSERT_EQ(run({"--save", a}).status, 0);
    EXPECT_EQ(simtest::read_file(a), image);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()),
              std::ptrdiff_t(2 + roots_)); // a, b, roots
}

TEST_F(OrvaIcHw, SavingToAFifoWritesThroughItAndLeavesItThere)
{
    // The same path as a device such as /dev/null: never renamed over.
    computer(demo());
    const std::string file = dir_ / "a.bin", fifo = dir_ / "fifo";
    ASSERT_EQ(run({"--save", file}).status, 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Held open for reading here, so the writer never waits; the image fits
    // the pipe's buffer.
    const int held = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(held, 0);
    const Result r = run({"--save", fifo});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string received(1 << 16, '\0');
    const ssize_t n = read(held, received.data(), received.size());
    close(held);
    received.resize(n > 0 ? size_t(n) : 0);
    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(received, simtest::read_file(file));
}

TEST_F(OrvaIcHw, DiffNamesWhatChanged)
{
    computer(demo());
    const std::string saved = dir_ / "saved.bin";
    ASSERT_EQ(run({"--save", saved}).status, 0);
    // Another graphics class, an unplugged receiver, another card slot.
    std::ofstream(fs::canonical(root_ + "/sys/bus/pci/devices/0000:00:02.0") / "class") << "0x038000\n";
    fs::remove(root_ + "/sys/bus/usb/devices/1-1");
    fs::rename(root_ + "/sys/bus/pci/devices/0000:01:00.0", root_ + "/sys/bus/pci/devices/0000:02:00.0");
    const Result r = run({"--diff", saved});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"PCI 0000:00:02.0: changed", "    Class: 0000 -> 8000",
                                                      "PCI 0000:01:00.0: removed", "PCI 0000:02:00.0: new",
                                                      "USB 1-1: removed"}));
}

TEST_F(OrvaIcHw, Failures)
{
    computer(demo());
    const std::string garbage = dir_ / "garbage.bin";
    std::ofstream(garbage) << "not an inventory";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"--diff", dir_ / "missing.bin"}, 1, "missing.bin: No such file or directory"},
        {{"--diff", dir_.path()}, 1, "Is a directory"},
        {{"--diff", garbage}, 1, "not a hardware inventory image"},
        {{"--save", dir_ / "no/such/dir/x.bin"}, 1, "No such file or directory"},
        {{"--json", "--save", dir_ / "x.bin"}, 2, "exclude each other"},
        {{"--save"}, 2, "take a file name"},
        {{"--bogus"}, 2, "unknown argument '--bogus'"},
    };
    for (const Case &c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(dir_ / "x.bin"));

    // A computer without SMBIOS cannot be inventoried.
    std::string text = demo();
    const std::string sm = "smbios entry=sm";
    ASSERT_NE(text.find(sm), std::string::npos);
    computer(text.replace(text.find(sm), sm.size(), "smbios entry=none"));
    const std::string image = dir_ / "none.bin";
    const Result r = run({"--save", image});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no SMBIOS entry point (code 4)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(image));
}

} // namespace
