// Whole block devices of /sys/block and their media kind.
#include "ic/sys/block.h"
#include "ic/sys/sysroot.h"
#include "udev_impl.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <new>

namespace {

constexpr const char *block_dir = "/sys/block";
constexpr unsigned floppy_major = 2;

// Leaves out "." and "..".
int skip_dots(const struct dirent *e)
{
    const char *n = e->d_name;
    return !(n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')));
}

struct dirents {
    struct dirent **list = nullptr;
    int count = 0;
    ~dirents()
    {
        for (int i = 0; i < count; ++i)
            std::free(list[i]);
        std::free(list);
    }
};

bool is(const char *value, const char *expected)
{
    return value && std::strcmp(value, expected) == 0;
}

} // namespace

extern "C" {

int ic_sys_block_disks(ic_sys_udev_list **list)
{
    if (!list)
        return IC_SYS_EINVAL;
    *list = nullptr;
    dirents entries;
    entries.count = ic_sys_scandir(block_dir, &entries.list, skip_dots, alphasort);
    if (entries.count < 0) {
        entries.count = 0;
        return IC_SYS_EIO;
    }
    try {
        auto l = std::make_unique<ic_sys_udev_list>();
        for (int i = 0; i < entries.count; ++i) {
            std::string path = std::string(block_dir) + "/" + entries.list[i]->d_name;
            char resolved[PATH_MAX];
            if (!ic_sys_realpath(path.c_str(), resolved) || std::strstr(resolved, "/virtual/"))
                continue;
            l->syspaths.push_back(std::move(path));
        }
        *list = l.release();
        return IC_SYS_OK;
    } catch (const std::bad_alloc &) {
        return IC_SYS_ENOMEM;
    }
}

int ic_sys_block_media(ic_sys_udev_device *device)
{
    unsigned major = 0, minor = 0;
    if (ic_sys_udev_device_devnum(device, &major, &minor) == IC_SYS_OK && major == floppy_major)
        return IC_SYS_MEDIA_FLOPPY;
    if (is(ic_sys_udev_device_property(device, "ID_CDROM"), "1"))
        return IC_SYS_MEDIA_OPTICAL;
    if (is(ic_sys_udev_device_sysattr(device, "removable"), "1"))
        return IC_SYS_MEDIA_REMOVABLE;
    return IC_SYS_MEDIA_FIXED;
}

} // extern "C"
