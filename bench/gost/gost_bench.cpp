// Hashes the same pseudo-random file with GOST R 34.11-94, CryptoPro set:
// ours (the streaming path orva-ic gost uses), libgcrypt (GOSTR3411_CP, the
// same read loop, in this process) and `rhash --gost94-cryptopro` (its own
// process). The three take turns, in a rotating order; each figure is the
// best of the runs. Processor time (user + system) is the figure to compare
// on a shared machine; wall time is printed beside it.
//
// usage: bench_gost [SIZE_MIB [RUNS [DIR]]]   (defaults: 128, 5, /dev/shm)
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <gcrypt.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "gost/gost_r3411_94.h"
#include "timed_run.h"

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

double thread_cpu_seconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Peer {
    const char *name;
    bench::Timing best;  // status < 0 until a run succeeds
    std::string digest;
};

// Times fn(fd, digest) on the open file in this thread; false on failure.
template <typename Fn>
bool time_in_process(const std::string &path, Peer &peer, Fn fn) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char d[32];
    const auto wall0 = Clock::now();
    const double cpu0 = thread_cpu_seconds();
    const bool ok = fn(fd, d);
    bench::Timing t;
    t.cpu = thread_cpu_seconds() - cpu0;
    t.wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    t.status = 0;
    ::close(fd);
    if (!ok) return false;
    bench::keep_best(peer.best, t);
    peer.digest = to_hex(d, sizeof d);
    return true;
}

bool ours(int fd, unsigned char d[32]) {
    return gost_r3411_94_digest_fd(GOST_R3411_94_PARAMS_CRYPTOPRO, fd, d) == GOST_OK;
}

// libgcrypt over the same read loop as ours.
bool libgcrypt(int fd, unsigned char d[32]) {
    gcry_md_hd_t md;
    if (gcry_md_open(&md, GCRY_MD_GOSTR3411_CP, 0) != 0) return false;
    static unsigned char chunk[GOST_R3411_94_FILE_CHUNK];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        gcry_md_write(md, chunk, size_t(n));
    }
    if (ok) std::memcpy(d, gcry_md_read(md, GCRY_MD_GOSTR3411_CP), 32);
    gcry_md_close(md);
    return ok;
}

bool time_rhash(const std::string &path, const std::string &out_path, Peer &peer) {
    const bench::Timing t = bench::run({"rhash", "--gost94-cryptopro", path}, ".", out_path);
    if (t.status != 0) return false;
    char text[65] = {};
    FILE *out = std::fopen(out_path.c_str(), "r");
    const bool read = out && std::fread(text, 1, 64, out) == 64;
    if (out) std::fclose(out);
    if (!read) return false;
    bench::keep_best(peer.best, t);
    peer.digest = text;
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 128;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::string dir = argc > 3 ? argv[3] : "/dev/shm";
    if (mib == 0 || runs <= 0) {
        std::fprintf(stderr, "usage: bench_gost [SIZE_MIB [RUNS [DIR]]]\n");
        return 2;
    }
    if (argc <= 3 && ::access(dir.c_str(), W_OK) != 0) {
        const char *tmp = std::getenv("TMPDIR");
        dir = tmp && *tmp ? tmp : "/tmp";
    }
    if (!gcry_check_version(GCRYPT_VERSION)) {
        std::fprintf(stderr, "bench_gost: libgcrypt is older than the headers\n");
        return 1;
    }
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    if (std::system("command -v rhash >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "bench_gost: rhash is not installed\n");
        return 1;
    }

    TempFile file, rhash_out;
    const size_t bytes = mib << 20;
    if (!make_file(file, dir, bytes)) {
        std::fprintf(stderr, "bench_gost: cannot write %zu MiB under %s: %s\n", mib, dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    rhash_out.path = file.path + ".rhash";
    std::printf("GOST R 34.11-94 (CryptoPro set), %zu MiB of pseudo-random data in %s, best of %d\n", mib,
                file.path.c_str(), runs);

    Peer peers[3] = {{"orva", {}, {}}, {"libgcrypt", {}, {}}, {"rhash", {}, {}}};
    for (int i = 0; i < runs; ++i) {
        for (int k = 0; k < 3; ++k) {
            const int which = (i + k) % 3;
            bool ok = false;
            if (which == 0) ok = time_in_process(file.path, peers[0], ours);
            if (which == 1) ok = time_in_process(file.path, peers[1], libgcrypt);
            if (which == 2) ok = time_rhash(file.path, rhash_out.path, peers[2]);
            if (!ok) {
                std::fprintf(stderr, "bench_gost: %s failed\n", peers[which].name);
                return 1;
            }
        }
    }

    const double size = double(mib);
    for (const Peer &p : peers) {
        std::printf("  %-10s %7.1f MiB/s   processor %6.3f s   wall %6.3f s   %s\n", p.name, size / p.best.cpu,
                    p.best.cpu, p.best.wall, p.digest.c_str());
    }
    if (peers[1].digest != peers[0].digest || peers[2].digest != peers[0].digest) {
        std::printf("  DIGESTS DIFFER\n");
        return 1;
    }
    std::printf("  digests agree\n");
    std::printf("  orva / rhash:     %.2f processor, %.2f wall\n", peers[2].best.cpu / peers[0].best.cpu,
                peers[2].best.wall / peers[0].best.wall);
    std::printf("  orva / libgcrypt: %.2f processor, %.2f wall\n", peers[1].best.cpu / peers[0].best.cpu,
                peers[1].best.wall / peers[0].best.wall);
    return 0;
}
