// Reading a half-written hive through its transaction log against reading
// the same hive clean: `orva-ic reg dump` walks every key and value (with
// value digests) of both, alternately, best of N each.  The dirty copy has
// PAGES pages of its bins stale (zeroed) and a newer-format log of one entry
// per page that brings them back; both dumps must print the same keys.
//
// usage: bench_reg_log [KEYS [PAGES [RUNS [DIR]]]]   (defaults: 280000, 10000, 3, /dev/shm)
#include "bench_hive.h"
#include "log_build.h"
#include "timed_run.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool write_all(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

std::string read_all(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The dump without the line that tells what the logs did.
std::string keys_only(const std::string &dump)
{
    return dump.rfind("# ", 0) == 0 ? dump.substr(dump.find('\n') + 1) : dump;
}

} // namespace

int main(int argc, char **argv)
{
    const size_t keys = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 280000;
    const size_t pages = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    std::string dir = (argc > 4 ? argv[4] : "/dev/shm") + std::string("/reg-log-bench.XXXXXX");
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string clean = dir + "/CLEAN", dirty = dir + "/DIRTY", log = dir + "/DIRTY.LOG1";
    const std::vector<uint8_t> hive = simcomputer::write_regf(bench_reg::make_hive(keys));
    const uint32_t bins = regtest::get32(hive, 40), bin_pages = bins / 4096;
    const size_t stale = std::min<size_t>(pages, bin_pages);
    // Stale pages spread over the whole hive; one log entry brings back each.
    std::vector<uint8_t> old = regtest::with_sequence(hive, 8, 7);
    std::vector<uint8_t> entries = regtest::log_base(hive, 6, 7);
    for (size_t i = 0; i < stale; ++i) {
        const uint32_t at = uint32_t(i * bin_pages / stale) * 4096;
        const std::vector<uint8_t> page(hive.begin() + 4096 + at, hive.begin() + 4096 + at + 4096);
        std::fill(old.begin() + 4096 + at, old.begin() + 4096 + at + 4096, 0);
        const std::vector<uint8_t> e = regtest::log_entry({uint32_t(7 + i), bins, {{at, page}}});
        entries.insert(entries.end(), e.begin(), e.end());
    }
    int status = 1;
    if (write_all(clean, hive) && write_all(dirty, old) && write_all(log, entries)) {
        std::printf("hive: %.1f MiB, %zu keys; log: %zu entries of one page, %.1f MiB\n", hive.size() / 1048576.0,
                    keys, stale, entries.size() / 1048576.0);
        const std::string out_clean = dir + "/clean.txt", out_dirty = dir + "/dirty.txt";
        bench::Timing best_clean{1e9, 1e9}, best_dirty{1e9, 1e9};
        bool ok = true;
        for (int i = 0; ok && i < runs; ++i) {
            const bench::Timing a = bench::run({ORVA_IC_PATH, "reg", "dump", clean}, ".", out_clean);
            const bench::Timing b = bench::run({ORVA_IC_PATH, "reg", "dump", dirty}, ".", out_dirty);
            ok = a.status == 0 && b.status == 0;
            best_clean = {std::min(best_clean.wall, a.wall), std::min(best_clean.cpu, a.cpu)};
            best_dirty = {std::min(best_dirty.wall, b.wall), std::min(best_dirty.cpu, b.cpu)};
        }
        const std::string dump_dirty = read_all(out_dirty);
        if (!ok) {
            std::fprintf(stderr, "bench_reg_log: orva-ic reg dump failed\n");
        } else if (keys_only(dump_dirty) != read_all(out_clean)) {
            std::fprintf(stderr, "bench_reg_log: the dirty hive does not read as the clean one\n");
        } else {
            std::printf("%s", dump_dirty.substr(0, dump_dirty.find('\n') + 1).c_str());
            std::printf("clean: %.3f s wall, %.3f s processor (best of %d)\n", best_clean.wall, best_clean.cpu, runs);
            std::printf("dirty: %.3f s wall, %.3f s processor (best of %d)\n", best_dirty.wall, best_dirty.cpu, runs);
            std::printf("ratio dirty/clean: %.3f wall, %.3f processor (target <= 1.30)\n",
                        best_dirty.wall / best_clean.wall, best_dirty.cpu / best_clean.cpu);
            status = 0;
        }
        unlink(out_clean.c_str());
        unlink(out_dirty.c_str());
    }
    unlink(clean.c_str());
    unlink(dirty.c_str());
    unlink(log.c_str());
    rmdir(dir.c_str());
    return status;
}
