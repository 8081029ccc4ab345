// Physical memory copied through a mapping of the memory device.
#include "ic/sys/physmem.h"

#include "ic/sys/sysroot.h"

#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

extern "C" int ic_sys_phys_copy(int fd, uint64_t address, void *buf, size_t size)
{
    if (fd < 0 || (size && !buf))
        return IC_SYS_EINVAL;
    if (size == 0)
        return IC_SYS_OK;
    // off_t must hold the last byte of the range.
    if (address > uint64_t(INT64_MAX) - size)
        return IC_SYS_EIO;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return IC_SYS_EIO;
    if (S_ISREG(st.st_mode) && address + size > uint64_t(st.st_size))
        return IC_SYS_EIO;
    const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
    const uint64_t base = address & ~(page - 1);
    const size_t span = size_t(address - base) + size;
    void *map = mmap(nullptr, span, PROT_READ, MAP_SHARED, fd, off_t(base));
    if (map == MAP_FAILED)
        return IC_SYS_EIO;
    std::memcpy(buf, static_cast<const char *>(map) + (address - base), size);
    munmap(map, span);
    return IC_SYS_OK;
}
