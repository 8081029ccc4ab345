// Writes a large hive (hundreds of thousands of keys, a few values each,
// "ri" lists above 1000 subkeys) and walks every key and value of it with
// `orva-ic reg dump` and with `hivexml`, alternately, best of N each; prints
// the wall-clock and processor times (user + system, which other load on the
// machine disturbs less) and their ratios (ours / hivexml's).
//
// usage: bench_reg [KEYS [RUNS [DIR]]]   (defaults: 300000, 3, /dev/shm)
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench_hive.h"

namespace {

using Clock = std::chrono::steady_clock;
struct Times {
    double wall = -1, cpu = -1; // seconds; -1 when the program failed
};

// Times of the program with its output to /dev/null.
Times time_run(const std::vector<std::string> &args) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        std::vector<char *> argv;
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    Times t;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return t;
    t.wall = std::chrono::duration<double>(Clock::now() - start).count();
    t.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return t;
}

}  // namespace

int main(int argc, char **argv) {
    const size_t keys = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 300000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string dir = argc > 3 ? argv[3] : "/dev/shm";
    std::string path = dir + "/reg-bench.XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        std::perror("mkstemp");
        return 1;
    }
    const std::vector<uint8_t> bytes = simcomputer::write_regf(bench_reg::make_hive(keys));
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        ok = n > 0;
        done += ok ? size_t(n) : 0;
    }
    ::close(fd);
    if (!ok) {
        std::perror("write");
        ::unlink(path.c_str());
        return 1;
    }
    std::printf("hive: %zu keys below 3 levels, %zu values, %.1f MiB\n", keys, 4 * keys, bytes.size() / 1048576.0);
    Times ours{1e9, 1e9}, peer{1e9, 1e9};
    for (int i = 0; i < runs; ++i) {
        const Times a = time_run({ORVA_IC_PATH, "reg", "dump", path});
        const Times b = time_run({"hivexml", path});
        if (a.wall < 0 || b.wall < 0) {
            std::fprintf(stderr, "bench_reg: %s failed\n", a.wall < 0 ? "orva-ic reg dump" : "hivexml");
            ::unlink(path.c_str());
            return 1;
        }
        ours = {std::min(ours.wall, a.wall), std::min(ours.cpu, a.cpu)};
        peer = {std::min(peer.wall, b.wall), std::min(peer.cpu, b.cpu)};
    }
    ::unlink(path.c_str());
    std::printf("orva-ic reg dump: %.3f s wall, %.3f s processor (best of %d)\n", ours.wall, ours.cpu, runs);
    std::printf("hivexml:          %.3f s wall, %.3f s processor (best of %d)\n", peer.wall, peer.cpu, runs);
    std::printf("ratio ours/hivexml: %.2f wall, %.2f processor (target <= 0.70)\n", ours.wall / peer.wall,
                ours.cpu / peer.cpu);
    return 0;
}
