// Foreign file-system table and the mount options of ufs.
#include "fs_internal.h"

#include "ic/fs/fs_foreign.h"
#include "ic/sys/sysroot.h"
#include "ic/util/le.h"
#include "ic/util/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr const char *bsd = "BSD/386, 386BSD, NetBSD, FreeBSD";
constexpr const char *bsd_guid = "516E7CB6-6ECF-11D6-8FF8-00022D09712B";

} // namespace

const fs_foreign_fs fs_foreign_table[] = {
    {0xa55c, 0x19540119, "0xa5", "ufs", "ufstype=ufs2", bsd, bsd_guid},
    {0xa55c, 0x19540119, "0xb5", "ufs", "ufstype=ufs2", bsd, bsd_guid},
    {0x1055c, 0x19540119, "0xa5", "ufs", "ufstype=ufs2", bsd, bsd_guid},
    {0x1055c, 0x19540119, "0xb5", "ufs", "ufstype=ufs2", bsd, bsd_guid},
    {0x255c, 0x11954, "0xa5", "ufs", "ufstype=44bsd", bsd, bsd_guid},
    {0x255c, 0x11954, "0xb5", "ufs", "ufstype=44bsd", bsd, bsd_guid},
    {0x255c, 0x11954, "0x82", "ufs", "ufstype=sunx86", "Solaris x86", "6A898CC3-1DD2-11B2-99A6-080020736631"},
    {0x255c, 0x11954, "0x82", "ufs", "ufstype=sunx86", "Solaris x86", "6A85CF4D-1DD2-11B2-99A6-080020736631"},
    {0x255c, 0x11954, "0x82", "ufs", "ufstype=sunx86", "Solaris x86", "6A8B642B-1DD2-11B2-99A6-080020736631"},
    {0, 0, "0x4d", "qnx4", nullptr, "QNX4.x", nullptr},
    {0, 0, "0x4e", "qnx4", nullptr, "QNX4.x 2nd part", nullptr},
    {0, 0, "0x4f", "qnx4", nullptr, "QNX4.x 3rd part", nullptr},
};
const size_t fs_foreign_table_size = sizeof fs_foreign_table / sizeof fs_foreign_table[0];

const char *fs_foreign_type_by_mbr(const char *entry_type)
{
    if (!entry_type)
        return nullptr;
    for (const fs_foreign_fs &row : fs_foreign_table)
        if (std::strcmp(row.mbr_type, entry_type) == 0)
            return row.fs_type;
    return nullptr;
}

const char *fs_foreign_mount_options(const char *devnode)
{
    using namespace ic_fs;
    if (!devnode || std::strncmp(devnode, "/dev/", 5) != 0 || std::strchr(devnode + 5, '/'))
        return nullptr;
    try {
        ic_sys_udev *raw = nullptr;
        if (ic_sys_udev_create(&raw) != 0)
            return nullptr;
        udev_ptr udev(raw);
        ic_sys_udev_device *rawdev = nullptr;
        if (ic_sys_udev_device_from_syspath(udev.get(), ("/sys/class/block/" + std::string(devnode + 5)).c_str(),
                                            &rawdev) != 0)
            return nullptr;
        udev_device_ptr dev(rawdev);
        const char *type = ic_sys_udev_device_property(dev.get(), "ID_FS_TYPE");
        const char *entry = ic_sys_udev_device_property(dev.get(), "ID_PART_ENTRY_TYPE");
        const char *table = ic_sys_udev_device_property(dev.get(), "ID_PART_TABLE_TYPE");
        if (!type || std::strcmp(type, "ufs") != 0 || !entry || !table)
            return nullptr;
        const bool dos = std::strcmp(table, "dos") == 0;
        ic_util::unique_fd fd(ic_sys_open(devnode, O_RDONLY, 0));
        if (!fd.valid())
            return nullptr;
        for (const fs_foreign_fs &row : fs_foreign_table) {
            const char *column = dos ? row.mbr_type : row.gpt_type;
            if (!column || strcasecmp(column, entry) != 0 || std::strcmp(row.fs_type, "ufs") != 0
                || (row.magic_offset == 0 && row.magic == 0))
                continue;
            uint8_t b[4];
            if (pread(fd.get(), b, sizeof b, off_t(row.magic_offset)) != ssize_t(sizeof b))
                continue;
            if (ic_le32(b) == row.magic)
                return row.options;
        }
    } catch (const std::bad_alloc &) {
    }
    return nullptr;
}
