// A hive file from outside: open it, walk every key, read every value, class
// name and security descriptor.  Nothing may crash, hang or read out of
// bounds; every failure is a code.
#include "reg_walk.h"

#include <ic/util/log.h>

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (ic_log_set_default_level(IC_LOG_FATAL), true);
    (void)quiet;
    const int fd = memfd_create("hive", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    if (done == size) {
        std::vector<regtest::Key> keys;
        regtest::walk_file("/proc/self/fd/" + std::to_string(fd), &keys);
    }
    close(fd);
    return 0;
}
