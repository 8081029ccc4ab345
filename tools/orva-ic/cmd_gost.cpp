// orva-ic gost: GOST R 34.11-94 digests of files, in rhash's line form.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "commands.h"
#include "gost/gost_r3411_94.h"
#include "ic/util/unique_fd.h"

namespace orva_ic {
namespace {

// Digest of one file, or of standard input for "-"; errno is kept on failure.
int digest_path(const char *path, int param_set, unsigned char digest[GOST_R3411_94_DIGEST_SIZE]) {
    if (!std::strcmp(path, "-")) return gost_r3411_94_digest_fd(param_set, STDIN_FILENO, digest);
    const ic_util::unique_fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return GOST_E_IO;
    return gost_r3411_94_digest_fd(param_set, fd.get(), digest);
}

}  // namespace

int cmd_gost(int argc, char **argv) {
    int param_set = GOST_R3411_94_PARAMS_CRYPTOPRO;
    int first = 0;
    for (; first < argc; ++first) {
        const char *arg = argv[first];
        if (!std::strcmp(arg, "--")) {
            ++first;
            break;
        }
        if (arg[0] != '-' || !std::strcmp(arg, "-")) break;
        if (!std::strcmp(arg, "--test-params")) {
            param_set = GOST_R3411_94_PARAMS_TEST;
        } else {
            std::fprintf(stderr, "orva-ic gost: unknown option '%s'\n", arg);
            return usage_error(nullptr);
        }
    }
    if (first >= argc) return usage_error("gost: no files given");

    int status = kExitOk;
    for (int i = first; i < argc; ++i) {
        const char *path = argv[i];
        unsigned char digest[GOST_R3411_94_DIGEST_SIZE];
        if (digest_path(path, param_set, digest) != GOST_OK) {
            std::fprintf(stderr, "orva-ic gost: %s: %s\n", path, std::strerror(errno));
            status = kExitFailure;
            continue;
        }
        std::printf("%s  %s\n", hex(digest, sizeof digest).c_str(), std::strcmp(path, "-") ? path : "(stdin)");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "orva-ic gost: cannot write the output: %s\n", std::strerror(errno));
        status = kExitFailure;
    }
    return status;
}

}  // namespace orva_ic
