// Hashes the same pseudo-random file with our GOST R 34.11-94 (CryptoPro set,
// through the streaming path orva-ic uses) and with `rhash --gost94-cryptopro`,
// alternately, best of N each, and prints the throughputs and their ratio.
//
// usage: bench_gost [SIZE_MIB [RUNS [DIR]]]   (defaults: 256, 3, /dev/shm)
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "gost/gost_r3411_94.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TempFile {
    std::string path;
    ~TempFile() {
        if (!path.empty()) ::unlink(path.c_str());
    }
};

std::string to_hex(const unsigned char *p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

bool write_all(int fd, const unsigned char *p, size_t n) {
    while (n) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

bool make_file(TempFile &file, const std::string &dir, size_t bytes) {
    std::string tmpl = dir + "/gost-bench.XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    file.path = tmpl;
    std::mt19937_64 rng(0x3411'1994);
    std::vector<unsigned char> chunk(1 << 20);
    bool ok = true;
    for (size_t done = 0; ok && done < bytes; done += chunk.size()) {
        for (size_t i = 0; i < chunk.size(); i += 8) {
            const uint64_t v = rng();
            std::memcpy(&chunk[i], &v, 8);
        }
        ok = write_all(fd, chunk.data(), std::min(chunk.size(), bytes - done));
    }
    return ::close(fd) == 0 && ok;
}

// Seconds for our digest of the file, or a negative value on failure.
double time_ours(const std::string &path, std::string &digest) {
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    unsigned char d[GOST_R3411_94_DIGEST_SIZE];
    const int rc = gost_r3411_94_digest_fd(GOST_R3411_94_PARAMS_CRYPTOPRO, fd, d);
    ::close(fd);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (rc != GOST_OK) return -1;
    digest = to_hex(d, sizeof d);
    return s;
}

// Seconds for `rhash --gost94-cryptopro path` (process start included).
double time_rhash(const std::string &path, std::string &digest) {
    int out[2];
    if (::pipe(out) != 0) return -1;
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execlp("rhash", "rhash", "--gost94-cryptopro", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(buf, size_t(n));
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.size() < 64) return -1;
    digest = text.substr(0, 64);
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string dir = argc > 3 ? argv[3] : "/dev/shm";
    if (mib == 0 || runs <= 0) {
        std::fprintf(stderr, "usage: bench_gost [SIZE_MIB [RUNS [DIR]]]\n");
        return 2;
    }
    if (argc <= 3 && ::access(dir.c_str(), W_OK) != 0) {
        const char *tmp = std::getenv("TMPDIR");
        dir = tmp && *tmp ? tmp : "/tmp";
    }

    TempFile file;
    const size_t bytes = mib << 20;
    if (!make_file(file, dir, bytes)) {
        std::fprintf(stderr, "bench_gost: cannot write %zu MiB under %s: %s\n", mib, dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    const bool have_rhash = std::system("command -v rhash >/dev/null 2>&1") == 0;
    std::printf("GOST R 34.11-94 (CryptoPro set), %zu MiB of pseudo-random data in %s, best of %d\n", mib,
                file.path.c_str(), runs);

    double best_ours = 0, best_rhash = 0;
    std::string ours_digest, rhash_digest;
    for (int i = 0; i < runs; ++i) {
        std::string d;
        const double t = time_ours(file.path, d);
        if (t < 0) {
            std::fprintf(stderr, "bench_gost: our hash failed: %s\n", std::strerror(errno));
            return 1;
        }
        if (best_ours == 0 || t < best_ours) best_ours = t;
        ours_digest = d;
        if (!have_rhash) continue;
        const double r = time_rhash(file.path, d);
        if (r < 0) {
            std::fprintf(stderr, "bench_gost: rhash failed\n");
            return 1;
        }
        if (best_rhash == 0 || r < best_rhash) best_rhash = r;
        rhash_digest = d;
    }

    const double size_mib = double(mib);
    std::printf("  orva gost:  %8.1f MiB/s  (%.3f s)  %s\n", size_mib / best_ours, best_ours, ours_digest.c_str());
    if (!have_rhash) {
        std::printf("  rhash is not installed: no peer figure\n");
        return 0;
    }
    std::printf("  rhash:      %8.1f MiB/s  (%.3f s)  %s\n", size_mib / best_rhash, best_rhash,
                rhash_digest.c_str());
    if (ours_digest != rhash_digest) {
        std::printf("  DIGESTS DIFFER\n");
        return 1;
    }
    std::printf("  digests agree; ratio orva/rhash: %.2f\n", best_rhash / best_ours);
    return 0;
}
