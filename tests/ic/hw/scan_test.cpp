// Scanners on simulated computers: what each one finds, in which order,
// and how each data source fails.
#include "hw_support.h"

#include <ic/hw/hw_scan.h>

#include <gost/gost_r3411_94.h>

#include "sim_root.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace hwtest;
namespace fs = std::filesystem;

namespace {

// A computer built from a description, with ORVA_SYSROOT pointing at it.
class Computer {
public:
    explicit Computer(const std::string &text)
        : root_(simtest::build_root(dir_, text, "root", &model_)), sysroot_(root_)
    {
    }
    const std::string &root() const { return root_; }
    const simcomputer::Computer &model() const { return model_; }
    std::string at(const std::string &path) const { return root_ + path; }
    // Host path of a sysfs entry with its links resolved, and the system
    // path of a host path inside the root.
    std::string real(const std::string &path) const { return fs::canonical(at(path)).string(); }
    std::string system_path(const std::string &host) const
    {
        return host.substr(fs::canonical(root_).string().size());
    }
    void write(const std::string &path, const std::string &text) const
    {
        std::ofstream(at(path), std::ios::binary) << text;
    }
    void patch_mem(uint64_t offset, const bytes &data) const
    {
        std::fstream f(at("/dev/mem"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(offset));
        f.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
        ASSERT_TRUE(f.good());
    }
    bytes read_mem(uint64_t offset, size_t size) const
    {
        const std::string s = simtest::read_file(at("/dev/mem")).substr(offset, size);
        return bytes(s.begin(), s.end());
    }
    void truncate_mem(uint64_t size) const
    {
        ASSERT_EQ(::truncate(at("/dev/mem").c_str(), off_t(size)), 0);
    }

private:
    simtest::TempDir dir_;
    simcomputer::Computer model_;
    std::string root_;
    simtest::SysRoot sysroot_;
};

Info run_scan(int (*scan)(hw_info *), int expect = HW_OK)
{
    Info info = empty_info();
    EXPECT_EQ(scan(info.get()), expect);
    return info;
}

std::vector<std::string> all_params(const hw_info *info, uint32_t type)
{
    std::vector<std::string> out;
    for (const hw_device *d = hw_info_get_first_device(info, type); d; d = hw_info_get_next_device(info, d)) {
        out.push_back(std::string("[") + d->name + "]");
        for (const std::string &p : param_texts(d))
            out.push_back(p);
    }
    return out;
}

std::string demo_text()
{
    return simtest::read_file(DEMO_DESCRIPTION);
}

bytes gost(const uint8_t *data, size_t size)
{
    bytes d(GOST_R3411_94_DIGEST_SIZE);
    EXPECT_EQ(gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, data, size, d.data()), GOST_OK);
    return d;
}

TEST(HwScanPci, FunctionsInAddressOrderWithTheLowClassBits)
{
    Computer c("pci 0000:01:00.0 vendor=10ec device=8168 class=020000 bridge=0000:00:1c.0\n"
               "pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601\n"
               "pci 0000:00:1c.0 vendor=8086 device=8c10 class=060400\n"
               "pci 0001:00:00.0 vendor=1af4 device=1045 class=ffff00\n");
    // Entries that are not PCI addresses are not functions.
    fs::create_directory(c.at("/sys/bus/pci/devices/slots"));
    fs::create_directory(c.at("/sys/bus/pci/devices/0000:00:20.0"));
    fs::create_directory(c.at("/sys/bus/pci/devices/0000:00:1f.8"));
    auto info = run_scan(scan_pci);
    EXPECT_EQ(all_params(info.get(), HW_CLASS_PCI),
              (std::vector<std::string>{
                  "[0000:00:1c.0]", "vendor_id=8086", "device_id=8c10", "class=0400",
                  "[0000:00:1f.2]", "vendor_id=8086", "device_id=8c02", "class=0601",
                  "[0000:01:00.0]", "vendor_id=10ec", "device_id=8168", "class=0000",
                  "[0001:00:00.0]", "vendor_id=1af4", "device_id=1045", "class=ff00",
              }));
}

TEST(HwScanPci, MissingAttributeAndMissingListing)
{
    for (const char *attr : {"vendor", "device", "class"}) {
        Computer c("pci 0000:00:02.0 vendor=8086 device=0412 class=030000\n");
        fs::remove(c.real("/sys/bus/pci/devices/0000:00:02.0") + "/" + attr);
        run_scan(scan_pci, HW_ERR_NO_ATTR);
    }
    Computer c("pci 0000:00:02.0 vendor=8086 device=0412 class=030000\n");
    std::ofstream(c.real("/sys/bus/pci/devices/0000:00:02.0") + "/vendor") << "none\n";
    run_scan(scan_pci, HW_ERR_IO); // not a number
    fs::remove_all(c.at("/sys/bus/pci"));
    run_scan(scan_pci, HW_ERR_IO);
}

TEST(HwScanUsb, DevicesWithoutRootHubsAndInterfacesSortedWithoutTheUsbPrefix)
{
    Computer c("usbhub 1\nusbhub 2\n"
               "usb 2-1 vendor=0781 product=5567 serial=SN2 interfaces=2\n"
               "usb 1-1 vendor=05e3 product=0610\n"
               "usb 1-1.2 vendor=046d product=c52b serial=LGT\n"
               "usb 1-10 vendor=1234 product=5678 serial=\"\"\n");
    auto info = run_scan(scan_usb);
    EXPECT_EQ(all_params(info.get(), HW_CLASS_USB),
              (std::vector<std::string>{
                  "[1-1]", "id_vendor=05e3", "id_product=0610", "serial=n/a",
                  "[1-1.2]", "id_vendor=046d", "id_product=c52b", "serial=LGT",
                  "[1-10]", "id_vendor=1234", "id_product=5678", "serial=n/a",
                  "[2-1]", "id_vendor=0781", "id_product=5567", "serial=SN2",
              }));
}

TEST(HwScanUsb, NoUsbSupportAndMissingIdentifiers)
{
    {
        Computer c("pci 0000:00:02.0 vendor=8086 device=0412 class=030000\n");
        ASSERT_FALSE(fs::exists(c.at("/sys/bus/usb/devices")));
        auto info = run_scan(scan_usb);
        EXPECT_EQ(info->count[HW_CLASS_USB], 0u);
        // A file where the directory should be is no USB support either.
        fs::create_directories(c.at("/sys/bus/usb"));
        c.write("/sys/bus/usb/devices", "");
        run_scan(scan_usb);
    }
    for (const char *attr : {"idVendor", "idProduct"}) {
        Computer c("usb 1-1 vendor=0781 product=5567\n");
        fs::remove(c.real("/sys/bus/usb/devices/1-1") + "/" + attr);
        run_scan(scan_usb, HW_ERR_NO_ATTR);
    }
}

const char *const firmware = R"(
bios vendor="American Megatrends Inc." version=2.17 date=05/16/2014 segment=0xE000
cpu version="Core i5" speed=3200
cpu populated=no
memarray use=4
  memory locator=VRAM size=1G
memarray
  memory locator=DIMM0 bank="BANK 0" size=4G
  memory size=512K
  memory bank="BANK 2" size=none
  memory locator=DIMM3 size=unknown
  memory size=0x8200
)";

TEST(HwScanDmi, MemorySlotsProcessorsAndBios)
{
    Computer c(firmware);
    auto info = run_scan(scan_dmi);
    // Video memory is not system memory; slots without locators are named
    // by their position in the array.
    EXPECT_EQ(all_params(info.get(), HW_CLASS_MEMORY),
              (std::vector<std::string>{"[BANK 0 (DIMM0)]", "size=4096 Mb", "[1]", "size=512 Kb",
                                        "[BANK 2]", "size=Not installed", "[DIMM3]", "size=Unknown",
                                        "[4]", "size=512 Kb"}));
    // An empty socket is counted like the others.
    EXPECT_EQ(all_params(info.get(), HW_CLASS_CPU),
              (std::vector<std::string>{"[CPU-0]", "model=Core i5", "speed=3200 MHz", "[CPU-1]",
                                        "model=n/a", "speed=0 MHz"}));

    ASSERT_EQ(info->count[HW_CLASS_BIOS], 1u);
    const hw_device *bios = hw_info_get_first_device(info.get(), HW_CLASS_BIOS);
    const std::vector<std::string> texts = param_texts(bios);
    ASSERT_EQ(texts.size(), 3u + 128);
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 3),
              (std::vector<std::string>{"vendor=American Megatrends Inc.", "version=2.17", "date=05/16/2014"}));
    // Each KiB of E0000-FFFFF hashed by itself.
    const std::string mem = simtest::read_file(c.at("/dev/mem"));
    for (unsigned i = 0; i < 128; ++i) {
        const hw_param *p = hw_device_get_param_by_name(bios, ("hash" + std::to_string(i)).c_str());
        ASSERT_TRUE(p);
        const bytes expect = gost(reinterpret_cast<const uint8_t *>(mem.data()) + 0xE0000 + 1024 * i, 1024);
        EXPECT_EQ(bytes(hw_param_barray(p), hw_param_barray(p) + HW_HASH_SIZE), expect) << i;
    }
    EXPECT_STREQ(hw_device_get_param_by_name(bios, "hash127")->title, "ffc00 (127K)");
}

TEST(HwScanDmi, WithoutBiosStructureTheLastSegmentIsHashed)
{
    Computer c("cpu version=X speed=1\n");
    auto info = run_scan(scan_dmi);
    const hw_device *bios = hw_info_get_first_device(info.get(), HW_CLASS_BIOS);
    ASSERT_TRUE(bios);
    const std::vector<std::string> texts = param_texts(bios);
    ASSERT_EQ(texts.size(), 3u + 64);
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 3),
              (std::vector<std::string>{"vendor=-", "version=-", "date=-"}));
    EXPECT_STREQ(hw_device_get_param_by_name(bios, "hash0")->title, "f0000 (00K)");
    EXPECT_EQ(info->count[HW_CLASS_MEMORY], 0u);
}

TEST(HwScanDmi, EveryEntryPointKindGivesTheSameInventory)
{
    // The BIOS digests differ: the legacy entry point lies in the image.
    auto summary = [](const hw_info *info) {
        std::vector<std::string> out = all_params(info, HW_CLASS_CPU);
        for (const std::string &p : all_params(info, HW_CLASS_MEMORY))
            out.push_back(p);
        const std::vector<std::string> bios = all_params(info, HW_CLASS_BIOS);
        out.insert(out.end(), bios.begin(), bios.begin() + std::min<size_t>(bios.size(), 4));
        return out;
    };
    std::vector<std::string> reference;
    for (const char *entry : {"smbios entry=sm version=2.4\n", "smbios entry=legacy\n", "smbios entry=efi\n",
                              "smbios entry=efi entry_addr=0x7FF00000 table_addr=0x7FF01000\n",
                              "smbios entry=sm table_addr=0x100000\n",
                              // Only the 64-bit entry point, in the legacy area or named by EFI.
                              "smbios entry=sm3\n", "smbios entry=efi3 version=3.2\n",
                              "smbios entry=efi3 table_addr=0x100000000\n"}) {
        Computer c(std::string(firmware) + entry);
        auto info = run_scan(scan_dmi);
        if (reference.empty()) {
            reference = summary(info.get());
            EXPECT_EQ(reference.size(), 2u * 3 + 5 * 2 + 4);
        }
        EXPECT_EQ(summary(info.get()), reference) << entry;
    }
}

TEST(HwScanDmi, MissingAndMalformedSmbiosData)
{
    struct Case {
        const char *smbios;
        int expect;
    } cases[] = {
        {"smbios entry=none\n", HW_ERR_NO_SMBIOS},
        {"smbios damage=checksum\n", HW_ERR_BAD_SMBIOS},
        {"smbios entry=legacy damage=checksum\n", HW_ERR_BAD_SMBIOS},
        {"smbios entry=efi damage=checksum\n", HW_ERR_BAD_SMBIOS},
        {"smbios damage=structure\n", HW_ERR_BAD_SMBIOS},
        {"smbios damage=strings\n", HW_ERR_BAD_SMBIOS},
        {"smbios entry=sm3 damage=checksum\n", HW_ERR_BAD_SMBIOS},
        {"smbios entry=efi3 damage=checksum\n", HW_ERR_BAD_SMBIOS},
        {"smbios entry=sm3 damage=structure\n", HW_ERR_BAD_SMBIOS},
        {"smbios entry=efi3 damage=strings\n", HW_ERR_BAD_SMBIOS},
    };
    for (const Case &k : cases) {
        Computer c(std::string(firmware) + k.smbios);
        auto info = run_scan(scan_dmi, k.expect);
        for (uint32_t t = 0; t < HW_CLASS_COUNT; ++t)
            EXPECT_EQ(info->count[t], 0u) << k.smbios;
    }

    // An EFI system table without an SMBIOS line, or naming no entry point.
    Computer efi(std::string(firmware) + "smbios entry=efi\n");
    efi.write("/sys/firmware/efi/systab", "ACPI20=0xbffbe014\nSMBIOS30=0x9F000\n");
    run_scan(scan_dmi, HW_ERR_NO_SMBIOS);
    efi.write("/sys/firmware/efi/systab", "ACPI20=0xbffbe014\nSMBIOS3=0x9F000\n"); // names a 32-bit one
    run_scan(scan_dmi, HW_ERR_BAD_SMBIOS);
    efi.write("/sys/firmware/efi/systab", "ACPI=0x1\nSMBIOS=0x9F010\n");
    run_scan(scan_dmi, HW_ERR_BAD_SMBIOS);
    efi.write("/sys/firmware/efi/systab", "SMBIOS=0x7FFFFFF0\n"); // beyond the memory file
    run_scan(scan_dmi, HW_ERR_IO);
    // /proc/efi/systab is the older place.
    fs::remove(efi.at("/sys/firmware/efi/systab"));
    fs::create_directories(efi.at("/proc/efi"));
    efi.write("/proc/efi/systab", "SMBIOS=0x9F000\n");
    auto info = run_scan(scan_dmi);
    EXPECT_EQ(info->count[HW_CLASS_CPU], 2u);
}

TEST(HwScanDmi, The64BitEntryPointCountsOnlyWithoutA32BitOne)
{
    bytes entry3;
    {
        // A maximum size beyond any real table is refused before it is copied.
        Computer sm3(std::string(firmware) + "smbios entry=sm3\n");
        entry3 = sm3.read_mem(0xF0000, 24);
        bytes e = entry3;
        const uint32_t huge = HW_SMBIOS_MAX_TABLE + 1;
        for (int i = 0; i < 4; ++i)
            e[12 + i] = uint8_t(huge >> (8 * i));
        e[5] = uint8_t(e[5] + entry3[12] + entry3[13] + entry3[14] + entry3[15] - e[12] - e[13] - e[14] - e[15]);
        sm3.patch_mem(0xF0000, e);
        run_scan(scan_dmi, HW_ERR_BAD_SMBIOS);
    }
    // A broken "_SM3_" in the first paragraph, a good "_SM_" after it.
    Computer c(std::string(firmware) + "smbios entry=sm entry_addr=0xF0100\n");
    ++entry3[5];
    c.patch_mem(0xF0000, entry3);
    EXPECT_EQ(run_scan(scan_dmi)->count[HW_CLASS_CPU], 2u);
    // The EFI "SMBIOS" line wins over "SMBIOS3", whatever their order.
    fs::create_directories(c.at("/sys/firmware/efi"));
    c.write("/sys/firmware/efi/systab", "SMBIOS3=0xF0000\nSMBIOS=0xF0100\n");
    EXPECT_EQ(run_scan(scan_dmi)->count[HW_CLASS_CPU], 2u);
    c.write("/sys/firmware/efi/systab", "SMBIOS3=0xF0000\n");
    run_scan(scan_dmi, HW_ERR_BAD_SMBIOS);
}

TEST(HwScanDmi, StartSegmentZeroHashesTheSystemBiosSegment)
{
    Computer c(std::string(firmware).replace(std::string(firmware).find("segment=0xE000"), 14, "segment=0") +
               "smbios entry=efi\n");
    Info first = run_scan(scan_dmi);
    const hw_device *bios = hw_info_get_first_device(first.get(), HW_CLASS_BIOS);
    ASSERT_TRUE(bios);
    const std::vector<std::string> texts = param_texts(bios);
    ASSERT_EQ(texts.size(), 3u + 64);
    EXPECT_STREQ(hw_device_get_param_by_name(bios, "hash0")->title, "f0000 (00K)");
    const std::string mem = simtest::read_file(c.at("/dev/mem"));
    for (unsigned i = 0; i < 64; ++i) {
        const hw_param *p = hw_device_get_param_by_name(bios, ("hash" + std::to_string(i)).c_str());
        ASSERT_TRUE(p);
        EXPECT_EQ(bytes(hw_param_barray(p), hw_param_barray(p) + HW_HASH_SIZE),
                  gost(reinterpret_cast<const uint8_t *>(mem.data()) + 0xF0000 + 1024 * i, 1024))
            << i;
    }
    // Interrupt vectors and the BIOS data area change on every boot: not hashed.
    c.patch_mem(0, bytes(0x500, 0x5A));
    Info second = run_scan(scan_dmi);
    EXPECT_EQ(image_of(second.get()), image_of(first.get()));
}

TEST(HwScanDmi, AShortMemoryFileFailsWithoutFaulting)
{
    {
        Computer c(firmware);
        c.truncate_mem(0xF8000); // the legacy area is cut
        run_scan(scan_dmi, HW_ERR_IO);
        fs::remove(c.at("/dev/mem"));
        run_scan(scan_dmi, HW_ERR_IO);
    }
    {
        Computer c(std::string(firmware) + "smbios entry=efi entry_addr=0x7FF00000 table_addr=0x7FF01000\n");
        c.truncate_mem(0x7FF00000 + 0x20); // the entry point but not the table
        run_scan(scan_dmi, HW_ERR_IO);
    }
    {
        Computer c(std::string(firmware) + "smbios entry=efi\n"); // entry point and table below 0xA0000
        c.truncate_mem(0xE8000); // the BIOS image is cut
        run_scan(scan_dmi, HW_ERR_IO);
    }
}

TEST(HwScanMedia, FixedAndOpticalDrivesAndFloppiesInNameOrder)
{
    Computer c(demo_text() + "floppy fd0\n");
    auto info = run_scan(scan_media);
    // sda, sdb, sr0 and fd0; the USB stick sdc is removable, loop0 virtual.
    EXPECT_EQ(device_names(info.get(), HW_CLASS_MEDIA), (std::vector<std::string>{"fdd0", "hdd0", "hdd1", "cd0"}));
    const hw_device *sda = hw_info_get_next_device(info.get(), hw_info_get_first_device(info.get(), HW_CLASS_MEDIA));
    EXPECT_EQ(param_texts(sda), (std::vector<std::string>{"vendor=ATA", "model=ST500DM002-1BD142", "revision=KC45",
                                                          "serial=Z3T0ABCD"}));
    // The model as the drive names it, not udev's ID_MODEL with '_' for blanks.
    EXPECT_EQ(param_texts(hw_info_get_next_device(info.get(), sda)),
              (std::vector<std::string>{"vendor=ATA", "model=WDC WD10EZEX-08M2NA0", "revision=01.01A01",
                                        "serial=WD-WCC3F1234567"}));
    // The device path is udev's: the sysfs path without "/sys".
    Info again = run_scan(scan_media);
    hw_info *i = again.get();
    const std::string sda_path = c.system_path(c.real("/sys/block/sda")).substr(4);
    EXPECT_EQ(sda_path.rfind("/devices/", 0), 0u);
    hw_device *d = nullptr;
    ASSERT_EQ(create_media_device(HW_MEDIA_FIXED, "hdd0", -1, sda_path.c_str(), -1, "ATA", -1,
                                  "ST500DM002-1BD142", -1, "KC45", -1, "Z3T0ABCD", -1, &d),
              HW_OK);
    Device expect(d);
    EXPECT_EQ(hw_device_compare(hw_info_get_next_device(i, hw_info_get_first_device(i, HW_CLASS_MEDIA)), d), 0);
}

TEST(HwScanMedia, RemovableOpticalDrivesStayAndBrokenLinksAreSkipped)
{
    Computer c("disk sda size=1M vendor=ATA model=A serial=1\n"
               "cdrom sr0 removable=yes model=DVD\n"
               "disk sdb size=1M removable=yes model=Stick\n"
               "disk vda size=1M virtual=yes\n");
    fs::create_symlink("../devices/nowhere/block/sdz", c.at("/sys/block/sdz"));
    auto info = run_scan(scan_media);
    EXPECT_EQ(device_names(info.get(), HW_CLASS_MEDIA), (std::vector<std::string>{"hdd0", "cd0"}));
    fs::remove_all(c.at("/sys/block"));
    run_scan(scan_media, HW_ERR_IO);
}

TEST(HwScanMonitor, EdidNamesAndDigestsThroughTheVideoBios)
{
    Computer c(demo_text());
    auto info = run_scan(scan_monitor);
    EXPECT_EQ(device_names(info.get(), HW_CLASS_MONITOR),
              (std::vector<std::string>{"Port 0 (DELL U2412M)", "Port 2 (SAM:4e0c)"}));
    const hw_device *m = hw_info_get_first_device(info.get(), HW_CLASS_MONITOR);
    for (const simcomputer::Monitor &mon : c.model().monitors) {
        ASSERT_TRUE(m);
        const hw_param *hash = hw_device_get_param_by_name(m, "edid_hash");
        ASSERT_TRUE(hash);
        EXPECT_EQ(bytes(hw_param_barray(hash), hw_param_barray(hash) + HW_HASH_SIZE),
                  gost(mon.edid.data(), mon.edid.size()));
        m = hw_info_get_next_device(info.get(), m);
    }
}

TEST(HwScanMonitor, TheEdidNameRule)
{
    uint8_t edid[HW_EDID_SIZE] = {};
    char name[14];
    // No name descriptor: manufacturer code and bytes 10-11.
    edid[8] = 0x04, edid[9] = 0x21, edid[10] = 0x34, edid[11] = 0x12;
    hw_edid_monitor_name(edid, name);
    EXPECT_STREQ(name, "AAA:3412");
    edid[8] = 0x00, edid[9] = 0x00; // letters from zero fields
    hw_edid_monitor_name(edid, name);
    EXPECT_STREQ(name, "@@@:3412");
    // A name descriptor in the third slot, ended by a newline.
    const uint8_t descriptor[18] = {0, 0, 0, 0xFC, 0, 'P', 'a', 'n', 'e', 'l', '\n', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    std::memcpy(edid + 90, descriptor, sizeof descriptor);
    hw_edid_monitor_name(edid, name);
    EXPECT_STREQ(name, "Panel");
    // Thirteen characters without a newline.
    std::memcpy(edid + 95, "THIRTEEN CHAR", 13);
    hw_edid_monitor_name(edid, name);
    EXPECT_STREQ(name, "THIRTEEN CHAR");
    // A serial-number descriptor (0xFF) is not a name.
    edid[93] = 0xFF;
    hw_edid_monitor_name(edid, name);
    EXPECT_STREQ(name, "@@@:3412");
}

TEST(HwScanMonitor, AVideoBiosThatNeverReturnsCostsOneLimitNotOnePerPort)
{
    Computer c(demo_text() + "videobios mode=hang\n");
    hw_scan_set_monitor_limits(1, 0);
    const auto start = std::chrono::steady_clock::now();
    auto info = run_scan(scan_monitor);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    hw_scan_set_monitor_limits(0, 0); // back to the default
    EXPECT_EQ(info->count[HW_CLASS_MONITOR], 0u);
    // A 1-second limit ends a run after 1 to 2 s: six runs would take 6 s or more.
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(HwScanMonitor, WithoutVideoBiosOrMonitors)
{
    {
        // UEFI without a compatibility module: no monitors, no failure.
        Computer c("videobios mode=absent\n");
        auto info = run_scan(scan_monitor);
        EXPECT_EQ(info->count[HW_CLASS_MONITOR], 0u);
        // Physical memory that cannot be read still fails.
        fs::remove(c.at("/dev/mem"));
        run_scan(scan_monitor, HW_ERR_IO);
    }
    Computer c("pci 0000:00:02.0 vendor=8086 device=0412 class=030000\n");
    auto info = run_scan(scan_monitor);
    EXPECT_EQ(info->count[HW_CLASS_MONITOR], 0u);
}

TEST(HwScanAll, TheDemoComputer)
{
    Computer c(demo_text());
    hw_info *raw = nullptr;
    ASSERT_EQ(hw_info_get_current(&raw), HW_OK);
    Info first(raw);
    const uint32_t counts[HW_CLASS_COUNT] = {2, 1, 2, 3, 6, 2, 2};
    for (uint32_t t = 0; t < HW_CLASS_COUNT; ++t) {
        EXPECT_EQ(first->count[t], counts[t]) << hw_class_name(t);
        EXPECT_EQ(first->flags[t], 0u);
    }
    // Unchanged hardware scans the same, to the byte.
    ASSERT_EQ(hw_info_get_current(&raw), HW_OK);
    Info second(raw);
    const bytes image = image_of(first.get());
    EXPECT_EQ(image_of(second.get()), image);
    // The stored image compares equal with a new scan.
    Info stored = read_image(image);
    ASSERT_TRUE(stored);
    hw_diff *d = nullptr;
    ASSERT_EQ(hw_diff_create(stored.get(), second.get(), &d), HW_OK);
    Diff diff(d);
    EXPECT_EQ(diff->flags, 0u);
}

TEST(HwScanAll, WithoutVideoBiosTheOtherSixClassesStand)
{
    Computer c(demo_text() + "videobios mode=absent\n");
    hw_info *raw = nullptr;
    ASSERT_EQ(hw_info_get_current(&raw), HW_OK);
    Info info(raw);
    const uint32_t counts[HW_CLASS_COUNT] = {2, 1, 2, 3, 6, 2, 0};
    for (uint32_t t = 0; t < HW_CLASS_COUNT; ++t)
        EXPECT_EQ(info->count[t], counts[t]) << hw_class_name(t);
}

TEST(HwScanAll, TheFirstFailingScannerDecides)
{
    Computer c(demo_text());
    fs::remove(c.real("/sys/bus/usb/devices/1-2") + "/idProduct");
    hw_info *raw = reinterpret_cast<hw_info *>(&raw);
    hw_info *const before = raw;
    EXPECT_EQ(hw_info_get_current(&raw), HW_ERR_NO_ATTR);
    EXPECT_EQ(raw, before);
    fs::create_directories(c.at("/sys/firmware/efi"));
    c.write("/sys/firmware/efi/systab", "ACPI=0x0\n"); // the DMI scan would fail with 4
    EXPECT_EQ(hw_info_get_current(&raw), HW_ERR_NO_ATTR);
}

TEST(HwScanSupport, AttributeFiles)
{
    Computer c("");
    c.write("/attr", "0x8086\n\n");
    char buf[16];
    size_t size = sizeof buf;
    ASSERT_EQ(read_str_from_file("/attr", buf, &size), HW_OK);
    EXPECT_STREQ(buf, "0x8086");
    EXPECT_EQ(size, 6u);
    size = 4; // at most size - 1 bytes
    ASSERT_EQ(read_str_from_file("/attr", buf, &size), HW_OK);
    EXPECT_STREQ(buf, "0x8");
    size = sizeof buf;
    EXPECT_EQ(read_str_from_file("/missing", buf, &size), HW_ERR_NO_ATTR);
    EXPECT_EQ(read_str_from_file("/sys", buf, &size), HW_ERR_IO);
    size = sizeof buf;
    ASSERT_EQ(get_sysfs_attr("/", "attr", buf, &size), HW_OK);
    EXPECT_STREQ(buf, "0x8086");
    // A directory name longer than the path buffer on the stack.
    const std::string deep = "/" + std::string(100, 'd');
    fs::create_directories(c.at(deep));
    c.write(deep + "/x", "abc\n");
    size = sizeof buf;
    ASSERT_EQ(get_sysfs_attr(deep.c_str(), "x", buf, &size), HW_OK);
    EXPECT_STREQ(buf, "abc");
    unsigned value = 0;
    EXPECT_EQ(scanf_sysfs_attr("/", "attr", "%x", &value), HW_OK);
    EXPECT_EQ(value, 0x8086u);
    c.write("/empty", "");
    EXPECT_EQ(scanf_sysfs_attr("/", "empty", "%x", &value), HW_ERR_IO);
}

TEST(HwScanSupport, LoadChunkStaysInsideTheFile)
{
    Computer c("");
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 13);
    c.write("/chunk", data);
    struct Case {
        uint64_t offset;
        size_t size;
        bool ok;
    } cases[] = {{0, 10000, true}, {4095, 2, true}, {9999, 1, true}, {5000, 0, true},
                 {9999, 2, false}, {10000, 1, false}, {UINT64_MAX - 1, 4, false}};
    for (const Case &k : cases) {
        void *chunk = load_chunk("/chunk", k.offset, k.size);
        EXPECT_EQ(chunk != nullptr, k.ok) << k.offset << "+" << k.size;
        if (chunk && k.size) {
            EXPECT_EQ(std::memcmp(chunk, data.data() + k.offset, k.size), 0);
        }
        unload_chunk(chunk);
    }
    EXPECT_EQ(load_chunk("/missing", 0, 1), nullptr);
}

} // namespace
