// The scanners against other readers of the same data: lspci (this machine
// and a simulated one), dmidecode (SMBIOS of simulated computers) and
// edid-decode (monitor names).
#include "hw_support.h"

#include <ic/hw/hw_scan.h>

#include "peers.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace hwtest;

namespace {

// Unsets ORVA_SYSROOT for the lifetime of the object: the real system.
class RealSystem {
public:
    RealSystem()
    {
        if (const char *old = std::getenv("ORVA_SYSROOT"))
            old_ = old;
        unsetenv("ORVA_SYSROOT");
    }
    ~RealSystem()
    {
        if (old_)
            setenv("ORVA_SYSROOT", old_->c_str(), 1);
    }

private:
    std::optional<std::string> old_;
};

// lspci -vmmn records as "address vendor:device class" lines, the class
// being the low 16 bits of the class code (sub-class, programming
// interface).
std::vector<std::string> lspci_functions(const std::string &options)
{
    int status;
    const std::string out = simtest::run("lspci -vmmnD " + options, status);
    EXPECT_EQ(status, 0) << out;
    std::vector<std::string> lines;
    std::istringstream in(out + "\n");
    std::map<std::string, std::string> rec;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            if (!rec.empty()) {
                const unsigned cls = unsigned(std::stoul(rec["Class"], nullptr, 16));
                const unsigned progif = rec.count("ProgIf") ? unsigned(std::stoul(rec["ProgIf"], nullptr, 16)) : 0;
                char low[8];
                std::snprintf(low, sizeof low, "%04x", ((cls & 0xFF) << 8) | progif);
                lines.push_back(rec["Slot"] + " " + rec["Vendor"] + ":" + rec["Device"] + " " + low);
            }
            rec.clear();
            continue;
        }
        const size_t tab = line.find(":\t");
        if (tab != std::string::npos)
            rec[line.substr(0, tab)] = line.substr(tab + 2);
    }
    return lines;
}

std::vector<std::string> our_functions(const hw_info *info)
{
    std::vector<std::string> lines;
    for (const hw_device *d = hw_info_get_first_device(info, HW_CLASS_PCI); d; d = hw_info_get_next_device(info, d))
        lines.push_back(std::string(d->name) + " " + hw_device_get_param_by_name(d, "vendor_id")->text + ":" +
                        hw_device_get_param_by_name(d, "device_id")->text + " " +
                        hw_device_get_param_by_name(d, "class")->text);
    return lines;
}

TEST(HwPeers, PciScanOfThisMachineMatchesLspci)
{
    if (!simtest::have("lspci"))
        GTEST_SKIP() << "lspci (pciutils) is not installed";
    RealSystem real;
    struct stat st;
    if (stat("/sys/bus/pci/devices", &st) != 0)
        GTEST_SKIP() << "this machine has no PCI bus in sysfs";
    Info info = empty_info();
    ASSERT_EQ(scan_pci(info.get()), HW_OK);
    const std::vector<std::string> ours = our_functions(info.get());
    EXPECT_FALSE(ours.empty());
    EXPECT_EQ(ours, lspci_functions(""));
}

TEST(HwPeers, PciScanOfTheDemoComputerMatchesLspci)
{
    if (!simtest::have("lspci"))
        GTEST_SKIP() << "lspci (pciutils) is not installed";
    simtest::TempDir dir;
    const std::string root = simtest::build_root(dir, simtest::read_file(DEMO_DESCRIPTION));
    simtest::SysRoot sysroot(root);
    Info info = empty_info();
    ASSERT_EQ(scan_pci(info.get()), HW_OK);
    const std::vector<std::string> ours = our_functions(info.get());
    EXPECT_EQ(ours.size(), 6u);
    EXPECT_EQ(ours, lspci_functions("-A linux-sysfs -O sysfs.path=" + root + "/sys/bus/pci"));
}

// dmidecode's size text of a memory device as our size text.
std::string size_text(const std::string &dmidecode)
{
    if (dmidecode == "No Module Installed")
        return "Not installed";
    if (dmidecode == "Unknown")
        return "Unknown";
    std::istringstream in(dmidecode);
    unsigned long n;
    std::string unit;
    in >> n >> unit;
    if (unit == "kB")
        return std::to_string(n) + " Kb";
    if (unit == "MB")
        return std::to_string(n) + " Mb";
    if (unit == "GB")
        return std::to_string(n * 1024) + " Mb";
    return "?" + dmidecode;
}

std::string field(const simtest::DmiRecord &r, const std::string &key)
{
    auto it = r.fields.find(key);
    return it == r.fields.end() || it->second == "Not Specified" ? std::string() : it->second;
}

TEST(HwPeers, DmiScanMatchesDmidecode)
{
    if (!simtest::have("dmidecode"))
        GTEST_SKIP() << "dmidecode is not installed";
    const std::string firmware = R"(
bios vendor="Phoenix Technologies LTD" version=6.00 date=07/29/2019 segment=0xE800
cpu version="Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz" speed=2400
cpu version="Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz" speed=2000
memarray capacity=64G
  memory locator=DIMM_A1 bank="NODE 0 CHANNEL 0" size=16G
  memory locator=DIMM_A2 size=512K
  memory bank="NODE 0 CHANNEL 1" size=none
  memory size=unknown
  memory locator=DIMM_B1 bank=B size=1536M
)";
    for (const std::string &text :
         {simtest::read_file(DEMO_DESCRIPTION), firmware + "smbios entry=legacy\n", firmware + "smbios entry=efi\n",
          // Firmware with only the 64-bit entry point, in the legacy area or named by EFI.
          firmware + "smbios entry=sm3\n", firmware + "smbios entry=efi3 version=3.3 table_addr=0x100000000\n"}) {
        SCOPED_TRACE(text.substr(std::min(text.size(), text.rfind("smbios"))));
        simtest::TempDir dir;
        simcomputer::Computer model;
        const std::string root = simtest::build_root(dir, text, "root", &model);
        simcomputer::MemoryImage image;
        simcomputer::Error err;
        ASSERT_TRUE(simcomputer::make_memory_image(model, image, err)) << err.text();
        const std::vector<uint8_t> dump = simtest::dmidecode_dump(root + "/dev/mem", image.smbios_entry);
        ASSERT_FALSE(dump.empty());
        std::ofstream(dir / "dmi.bin", std::ios::binary)
            .write(reinterpret_cast<const char *>(dump.data()), std::streamsize(dump.size()));
        int status;
        const std::string out = simtest::run("dmidecode --from-dump " + (dir / "dmi.bin"), status);
        ASSERT_EQ(status, 0) << out;

        simtest::SysRoot sysroot(root);
        Info info = empty_info();
        ASSERT_EQ(scan_dmi(info.get()), HW_OK);

        std::vector<std::string> cpus, memory, bios;
        unsigned position = 0;
        for (const simtest::DmiRecord &r : simtest::parse_dmidecode(out)) {
            if (r.title == "Processor Information") {
                cpus.push_back("[CPU-" + std::to_string(cpus.size() / 3) + "]");
                cpus.push_back("model=" + field(r, "Version"));
                cpus.push_back("speed=" + field(r, "Current Speed"));
            } else if (r.title == "Memory Device") {
                const std::string bank = field(r, "Bank Locator"), locator = field(r, "Locator");
                const std::string name = !bank.empty() && !locator.empty() ? bank + " (" + locator + ")"
                                         : !bank.empty()                     ? bank
                                         : !locator.empty()                  ? locator
                                                                             : std::to_string(position);
                ++position;
                memory.push_back("[" + name + "]");
                memory.push_back("size=" + size_text(field(r, "Size")));
            } else if (r.title == "BIOS Information") {
                bios = {"[System bios]", "vendor=" + field(r, "Vendor"), "version=" + field(r, "Version"),
                        "date=" + field(r, "Release Date")};
                const unsigned address = unsigned(std::stoul(field(r, "Address"), nullptr, 16));
                const unsigned kib = unsigned(std::stoul(field(r, "Runtime Size")));
                char title[32];
                std::snprintf(title, sizeof title, "hash%u", kib - 1);
                bios.push_back(title);
                std::snprintf(title, sizeof title, "%04x (%02uK)", address + 1024 * (kib - 1), kib - 1);
                bios.push_back(title);
            }
        }
        auto texts = [&](uint32_t type) {
            std::vector<std::string> out;
            for (const hw_device *d = hw_info_get_first_device(info.get(), type); d;
                 d = hw_info_get_next_device(info.get(), d)) {
                out.push_back(std::string("[") + d->name + "]");
                for (const std::string &p : param_texts(d))
                    if (p.compare(0, 4, "hash") != 0)
                        out.push_back(p);
            }
            return out;
        };
        EXPECT_EQ(texts(HW_CLASS_CPU), cpus);
        EXPECT_EQ(texts(HW_CLASS_MEMORY), memory);
        std::vector<std::string> our_bios = texts(HW_CLASS_BIOS);
        const hw_device *b = hw_info_get_first_device(info.get(), HW_CLASS_BIOS);
        ASSERT_TRUE(b);
        const hw_param *last = nullptr;
        for (const hw_param *p = hw_device_get_first_param(b); p; p = hw_device_get_next_param(b, p))
            last = p;
        our_bios.push_back(last->name);
        our_bios.push_back(last->title);
        EXPECT_EQ(our_bios, bios);
    }
}

// What edid-decode calls the monitor: the display product name, else the
// manufacturer code with the product code's two bytes.
std::string edid_decode_name(const std::string &path)
{
    int status;
    const std::string out = simtest::run("edid-decode " + path, status);
    const std::string name_key = "Display Product Name: '";
    size_t at = out.find(name_key);
    if (at != std::string::npos) {
        at += name_key.size();
        return out.substr(at, out.find('\'', at) - at);
    }
    const size_t m = out.find("Manufacturer: "), model = out.find("Model: ");
    if (m == std::string::npos || model == std::string::npos)
        return "(edid-decode gave neither)";
    const unsigned product = unsigned(std::stoul(out.substr(model + 7)));
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ":%02x%02x", product & 0xFF, product >> 8);
    return out.substr(m + 14, 3) + suffix;
}

TEST(HwPeers, MonitorNamesMatchEdidDecode)
{
    if (!simtest::have("edid-decode"))
        GTEST_SKIP() << "edid-decode is not installed";
    const simcomputer::EdidSpec monitors[] = {
        {"DEL", 0xA0B1, 0x3142354C, 20, 2014, 52, 32, "DELL U2412M", ""},
        {"ABC", 0x1234, 7, 1, 2000, 40, 30, "THIRTEEN CHAR", "SN12345"},
        {"SAM", 0x0C4E, 0x01000E00, 8, 2016, 48, 27, "", ""},
        {"AAA", 0x1234, 0, 1, 2020, 30, 20, "", "S1"},
        {"ZYX", 0xFF00, 1, 1, 2020, 30, 20, "X", ""},
    };
    simtest::TempDir dir;
    for (const simcomputer::EdidSpec &monitor : monitors) {
        const auto edid = simcomputer::make_edid(monitor);
        const std::string path = dir / "edid.bin";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(edid.data()), 128);
        char name[14];
        hw_edid_monitor_name(edid.data(), name);
        EXPECT_EQ(name, edid_decode_name(path)) << monitor.manufacturer;
    }

    // The names the monitor scanner gives on the demo computer.
    const std::string root = simtest::build_root(dir, simtest::read_file(DEMO_DESCRIPTION), "demo");
    simtest::SysRoot sysroot(root);
    Info info = empty_info();
    ASSERT_EQ(scan_monitor(info.get()), HW_OK);
    simcomputer::Computer model;
    simcomputer::Error err;
    ASSERT_TRUE(simcomputer::parse_file(DEMO_DESCRIPTION, model, err));
    std::vector<std::string> expect;
    for (const simcomputer::Monitor &m : model.monitors) {
        const std::string path = dir / ("port" + std::to_string(m.port));
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(m.edid.data()), 128);
        expect.push_back("Port " + std::to_string(m.port) + " (" + edid_decode_name(path) + ")");
    }
    EXPECT_EQ(device_names(info.get(), HW_CLASS_MONITOR), expect);
}

} // namespace
