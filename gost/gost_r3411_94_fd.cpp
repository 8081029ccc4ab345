// Streaming digest of a file descriptor.
#include <cerrno>
#include <unistd.h>

#include "gost/gost_r3411_94.h"

extern "C" int gost_r3411_94_digest_fd(int param_set, int fd,
                                       unsigned char digest[GOST_R3411_94_DIGEST_SIZE]) {
    if (fd < 0 || !digest) return GOST_E_INVALID;
    gost_r3411_94_ctx ctx;
    int rc = gost_r3411_94_init(&ctx, param_set);
    if (rc != GOST_OK) return rc;
    unsigned char chunk[GOST_R3411_94_FILE_CHUNK];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return GOST_E_IO;
        }
        gost_r3411_94_update(&ctx, chunk, size_t(n));
    }
    return gost_r3411_94_final(&ctx, digest);
}
