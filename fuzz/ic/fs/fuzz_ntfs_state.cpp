// Fuzz target: the volume flags of an NTFS volume read from hostile bytes
// (boot sector, then the $Volume record wherever the boot sector puts it).
#include "fs_internal.h"

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int fd = memfd_create("ntfs", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) == ssize_t(size)) {
        uint16_t flags = 0;
        ic_fs::ntfs_volume_flags(fd, flags);
    }
    close(fd);
    return 0;
}
