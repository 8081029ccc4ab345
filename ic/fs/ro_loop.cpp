// Read-only loop devices over the volumes mounted for reading: whatever the
// file-system driver does (a journal replay, a log reset, a flag it sets),
// the block layer refuses to write the volume.
#include "fs_internal.h"

#include "ic/util/log.h"
#include "ic/util/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using ic_util::unique_fd;

constexpr int kAttempts = 16;

// Binds source to the loop device read-only with auto-clear: 0, EBUSY when
// someone else took the device first, or another errno.  Reads go straight
// to the source (direct I/O) where the kernel can: no second copy of every
// block through the source's page cache.
int bind(int loop, int source, unsigned block_size)
{
    struct loop_config config;
    std::memset(&config, 0, sizeof config);
    config.fd = unsigned(source);
    config.block_size = block_size;
    config.info.lo_flags = LO_FLAGS_READ_ONLY | LO_FLAGS_AUTOCLEAR | LO_FLAGS_DIRECT_IO;
    if (ioctl(loop, LOOP_CONFIGURE, &config) == 0)
        return 0;
    if (errno == EINVAL) {
        config.info.lo_flags &= ~unsigned(LO_FLAGS_DIRECT_IO);
        if (ioctl(loop, LOOP_CONFIGURE, &config) == 0)
            return 0;
    }
    if (errno != EINVAL && errno != ENOTTY)
        return errno;
    // Kernels before LOOP_CONFIGURE: the descriptor's read-only mode makes
    // the device read-only.
    if (ioctl(loop, LOOP_SET_FD, source) != 0)
        return errno;
    struct loop_info64 info;
    std::memset(&info, 0, sizeof info);
    info.lo_flags = LO_FLAGS_AUTOCLEAR;
    if (ioctl(loop, LOOP_SET_STATUS64, &info) != 0) {
        const int err = errno;
        ioctl(loop, LOOP_CLR_FD, 0);
        return err;
    }
    return 0;
}

} // namespace

namespace ic_fs {

int ro_loop_open(const char *source, std::string &device, int &fd)
{
    unique_fd src(open(source, O_RDONLY | O_CLOEXEC));
    if (!src.valid()) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "open '%s': error_code = %d\n", source, errno);
        return FS_ERR_IO;
    }
    int block_size = 0;
    if (ioctl(src.get(), BLKSSZGET, &block_size) != 0)
        block_size = 0;
    unique_fd control(open("/dev/loop-control", O_RDWR | O_CLOEXEC));
    if (!control.valid()) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "open '/dev/loop-control': error_code = %d\n", errno);
        return FS_ERR_IO;
    }
    int err = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int n = ioctl(control.get(), LOOP_CTL_GET_FREE);
        if (n < 0) {
            err = errno;
            break;
        }
        const std::string node = "/dev/loop" + std::to_string(n);
        unique_fd loop(open(node.c_str(), O_RDONLY | O_CLOEXEC));
        if (!loop.valid()) {
            err = errno;
            break;
        }
        err = bind(loop.get(), src.get(), unsigned(block_size));
        if (err == EBUSY)
            continue;
        if (err != 0)
            break;
        device = node;
        fd = loop.release();
        return FS_OK;
    }
    IC_LOG(ic_log_fs, IC_LOG_ERROR, "read-only loop device over '%s': error_code = %d\n", source, err);
    return FS_ERR_IO;
}

} // namespace ic_fs
