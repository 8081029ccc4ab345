// A disk's vendor, model, revision and serial as the system's tools show
// them, from the udev records real udev writes for each transport.
#include "ic/sys/block.h"
#include "ic/sys/udev.h"
#include "ic/sys/udev_ptr.h"

#include "sim_root.h"

#include <gtest/gtest.h>
#include <string>

namespace {

const char *const description = R"(
pci 0000:00:1f.2 vendor=8086 device=2922 class=010601
pci 0000:00:05.0 vendor=1af4 device=1001 class=010000
pci 0000:00:06.0 vendor=1b36 device=0010 class=010802
pci 0000:00:07.0 vendor=1b36 device=000d class=0c0330
usb 2-1 vendor=0781 product=5567 serial=4C530001 interface_class=08
disk sda size=1M controller=0000:00:1f.2 model="WDC WD10EZEX-08M2NA0" revision=01.01A01 serial=WD-WCC3F1234567
cdrom sr0 controller=0000:00:1f.2 vendor=HL-DT-ST model="DVDRAM GH24NSD1" revision=LG00 serial=K8VE1234567
disk sdb size=1M controller=2-1 vendor=SanDisk model="Cruzer Blade" revision=1.00
disk vda size=1M controller=0000:00:05.0 serial=VIRTIO-7
disk nvme0n1 size=1M dev=259:0 controller=0000:00:06.0 model="Samsung SSD 970 EVO 1TB" revision=2B2QEXE7 serial=S467NX0M
disk sdc size=1M controller=0000:00:1f.2 model=X serial=Y
  prop ID_MODEL_ENC=Bad\x00Model\x0a\xff\x5cx41\x41 ID_VENDOR_ENC=\x20\x20
)";

struct Expected {
    const char *device, *vendor, *model, *revision, *serial;
};

TEST(BlockIdentity, AsLsblkShowsEachTransport)
{
    simtest::TempDir dir;
    const std::string root = simtest::build_root(dir, description);
    simtest::SysRoot sysroot(root);
    ic_sys_udev *raw = nullptr;
    ASSERT_EQ(ic_sys_udev_create(&raw), IC_SYS_OK);
    ic_sys::udev_ptr udev(raw);
    const Expected cases[] = {
        // ATA: no ID_VENDOR (the SCSI attribute says ATA), the model's blanks back.
        {"sda", "ATA", "WDC WD10EZEX-08M2NA0", "01.01A01", "WD-WCC3F1234567"},
        // ATAPI: the drive's own inquiry vendor.
        {"sr0", "HL-DT-ST", "DVDRAM GH24NSD1", "LG00", "K8VE1234567"},
        {"sdb", "SanDisk", "Cruzer Blade", "1.00", "4C530001"},
        // virtio: only ID_SERIAL; the vendor is the virtio device's.
        {"vda", "0x1af4", "", "", "VIRTIO-7"},
        // NVMe: ID_MODEL keeps its blanks and has no escaped form.
        {"nvme0n1", "", "Samsung SSD 970 EVO 1TB", "2B2QEXE7", "S467NX0M"},
        // Escapes of control characters and of bytes above 0x7e stay as
        // written, a decoded backslash starts no escape; a blank-only vendor
        // falls back.
        {"sdc", "ATA", "Bad\\x00Model\\x0a\\xff\\x41A", "", "Y"},
    };
    for (const Expected &e : cases) {
        SCOPED_TRACE(e.device);
        ic_sys_udev_device *d = nullptr;
        ASSERT_EQ(ic_sys_udev_device_from_syspath(raw, (std::string("/sys/block/") + e.device).c_str(), &d), IC_SYS_OK);
        ic_sys::device_ptr dev(d);
        ic_sys_block_identity id;
        ASSERT_EQ(ic_sys_block_identity_get(d, &id), IC_SYS_OK);
        EXPECT_STREQ(id.vendor, e.vendor);
        EXPECT_STREQ(id.model, e.model);
        EXPECT_STREQ(id.revision, e.revision);
        EXPECT_STREQ(id.serial, e.serial);
        // A second call hands out the same strings.
        ic_sys_block_identity again;
        ASSERT_EQ(ic_sys_block_identity_get(d, &again), IC_SYS_OK);
        EXPECT_EQ(again.model, id.model);
    }
    EXPECT_EQ(ic_sys_block_identity_get(nullptr, nullptr), IC_SYS_EINVAL);
}

} // namespace
