// File-system signature of a device that udev has not processed (no udev
// daemon), read with libblkid as udev's own probe does.
#include "fs_internal.h"

#include "ic/sys/sysroot.h"

#include <blkid.h>
#include <climits>
#include <cstring>

namespace ic_fs {

int probe_fs(const char *devnode, char **type, char **uuid)
{
    *type = *uuid = nullptr;
    char host[PATH_MAX];
    if (ic_sys_host_path(devnode, host, sizeof host) != 0)
        return FS_ERR_IO;
    blkid_probe pr = blkid_new_probe_from_filename(host);
    if (!pr)
        return FS_ERR_IO;
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID);
    int rc = blkid_do_safeprobe(pr);
    int result = rc == 0 ? int(FS_OK) : rc == 1 ? int(IC_SYS_ENOENT) : int(FS_ERR_IO);
    const char *value = nullptr;
    if (result == FS_OK && blkid_probe_lookup_value(pr, "TYPE", &value, nullptr) == 0 && value) {
        *type = strdup(value);
        if (blkid_probe_lookup_value(pr, "UUID", &value, nullptr) == 0 && value)
            *uuid = strdup(value);
        if (!*type) {
            std::free(*uuid);
            *uuid = nullptr;
            result = FS_ERR_NOMEM;
        }
    } else if (result == FS_OK) {
        result = int(IC_SYS_ENOENT);
    }
    blkid_free_probe(pr);
    return result;
}

} // namespace ic_fs
