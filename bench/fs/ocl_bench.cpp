// Records and checks one generated tree with content hashes and attributes,
// by `orva-ic ocl` and by AIDE (p+u+g+s+m+gost), and hashes the same files
// with `orva-ic gost`, in one run with the page cache warm; prints wall and
// CPU times (each program's own, from wait4), peak memory and the ratios.
//
// usage: bench_fs_ocl [FILES [MIB [RUNS [DIR]]]]
//   defaults: 20000 files, 1024 MiB, best of 1 run, $TMPDIR or /tmp;
//   the environment variables ORVA_BENCH_FS_FILES and ORVA_BENCH_FS_MIB
//   give the first two as well (for quick runs).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "timed_run.h"

namespace {

using bench::keep_best;
using bench::run;
using bench::Timing;

struct Tree {
    std::string dir;
    ~Tree()
    {
        std::error_code ec;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ec);
    }
};

bool write_all(int fd, const char *p, size_t n)
{
    while (n) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

// files files of pseudo-random bytes, mib MiB in all, in three levels of
// directories; their paths relative to the root go to paths.
bool make_tree(const std::string &root, size_t files, size_t mib, std::vector<std::string> &paths)
{
    std::mt19937_64 rng(20000);
    // Sizes spread over two orders of magnitude, scaled to the total.
    std::vector<double> weight(files);
    double sum = 0;
    for (double &w : weight)
        sum += w = std::exp(std::uniform_real_distribution<double>(0, 4.6)(rng));
    const double scale = double(mib << 20) / sum;
    std::vector<char> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); i += 8) {
        const uint64_t v = rng();
        std::memcpy(&chunk[i], &v, 8);
    }
    const size_t per_dir = 100, per_top = 10;
    for (size_t i = 0; i < files; ++i) {
        char rel[64];
        std::snprintf(rel, sizeof rel, "d%02zu/s%zu/t%zu/f%05zu", i / (per_dir * per_top * 5), i / (per_dir * 5) % per_top,
                      i / per_dir % 5, i);
        const std::string path = root + "/" + rel;
        std::error_code ec; // a failure shows in the open below
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        size_t left = size_t(weight[i] * scale);
        size_t offset = size_t(rng() % chunk.size());
        bool ok = fd >= 0;
        while (ok && left) {
            const size_t n = std::min(left, chunk.size() - offset);
            ok = write_all(fd, chunk.data() + offset, n);
            left -= n;
            offset = 0;
        }
        if (fd < 0 || close(fd) != 0 || !ok) {
            std::fprintf(stderr, "bench_fs_ocl: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
        paths.push_back(rel);
    }
    return true;
}

size_t env_or(const char *name, int argc, char **argv, int index, size_t fallback)
{
    if (argc > index)
        return std::strtoul(argv[index], nullptr, 10);
    const char *v = std::getenv(name);
    return v && *v ? std::strtoul(v, nullptr, 10) : fallback;
}

} // namespace

int main(int argc, char **argv)
{
    const size_t files = env_or("ORVA_BENCH_FS_FILES", argc, argv, 1, 20000);
    const size_t mib = env_or("ORVA_BENCH_FS_MIB", argc, argv, 2, 1024);
    const int runs = argc > 3 ? std::atoi(argv[3]) : 1;
    const char *tmp = std::getenv("TMPDIR");
    std::string base = argc > 4 ? argv[4] : tmp && *tmp ? tmp : "/tmp";
    if (files == 0 || mib == 0 || runs <= 0) {
        std::fprintf(stderr, "usage: bench_fs_ocl [FILES [MIB [RUNS [DIR]]]]\n");
        return 2;
    }
    if (std::system("command -v aide >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "bench_fs_ocl: aide is not installed (scripts/setup.sh installs it)\n");
        return 1;
    }

    Tree work;
    std::string tmpl = base + "/bench-fs-ocl.XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        std::fprintf(stderr, "bench_fs_ocl: cannot create a directory under %s\n", base.c_str());
        return 1;
    }
    work.dir = tmpl;
    const std::string root = work.dir + "/tree", list = work.dir + "/list.bin", conf = work.dir + "/aide.conf";
    std::printf("generating %zu files, %zu MiB under %s ...\n", files, mib, root.c_str());
    std::fflush(stdout);
    std::vector<std::string> paths;
    if (!make_tree(root, files, mib, paths))
        return 1;
    {
        FILE *f = std::fopen(conf.c_str(), "w");
        std::fprintf(f,
                     "database_in=file:%s/aide.db\ndatabase_out=file:%s/aide.db.new\ngzip_dbout=no\n"
                     "%s p+u+g+s+m+gost\n",
                     work.dir.c_str(), work.dir.c_str(), root.c_str());
        std::fclose(f);
    }

    const std::string orva_ic = ORVA_IC_PATH;
    std::vector<std::string> gost_args = {orva_ic, "gost"};
    gost_args.insert(gost_args.end(), paths.begin(), paths.end());
    // Warm the page cache (and check that every file reads).
    if (run(gost_args, root).status != 0) {
        std::fprintf(stderr, "bench_fs_ocl: orva-ic gost failed\n");
        return 1;
    }

    Timing gost, record, check, aide_init, aide_check;
    for (int r = 0; r < runs; ++r) {
        keep_best(gost, run(gost_args, root));
        std::filesystem::remove(list);
        keep_best(record, run({orva_ic, "ocl", "add", root, "/", "--flags", "15", "--list", list}, work.dir));
        keep_best(check, run({orva_ic, "ocl", "check", root, "--list", list}, work.dir));
        keep_best(aide_init, run({"aide", "--init", "-c", conf}, work.dir));
        std::filesystem::rename(work.dir + "/aide.db.new", work.dir + "/aide.db");
        keep_best(aide_check, run({"aide", "--check", "-c", conf}, work.dir));
    }
    struct stat st{};
    stat(list.c_str(), &st);

    std::printf("%zu files, %zu MiB, 3 directory levels; best of %d; CPU = the program's user + system time\n", files,
                mib, runs);
    std::printf("  %-34s %9s %9s %10s %7s\n", "", "wall s", "CPU s", "peak RSS", "status");
    const struct {
        const char *name;
        const Timing &t;
    } rows[] = {
        {"orva-ic gost (pure hashing)", gost},          {"orva-ic ocl add (record, flags 15)", record},
        {"orva-ic ocl check", check},                   {"aide --init (p+u+g+s+m+gost)", aide_init},
        {"aide --check", aide_check},
    };
    for (const auto &r : rows)
        std::printf("  %-34s %9.3f %9.3f %7ld KiB %7d\n", r.name, r.t.wall, r.t.cpu, r.t.rss_kib, r.t.status);
    std::printf("  list image: %lld bytes\n", static_cast<long long>(st.st_size));
    std::printf("ratios (wall, CPU), targets in brackets:\n");
    std::printf("  record / aide --init     %5.2f  %5.2f   [<= 0.50]\n", record.wall / aide_init.wall,
                record.cpu / aide_init.cpu);
    std::printf("  check  / aide --check    %5.2f  %5.2f   [<= 0.50]\n", check.wall / aide_check.wall,
                check.cpu / aide_check.cpu);
    std::printf("  check  / pure hashing    %5.2f  %5.2f   [<= 1.10]\n", check.wall / gost.wall, check.cpu / gost.cpu);
    const bool ok = gost.status == 0 && record.status == 0 && check.status == 0 && aide_init.status == 0 &&
                    aide_check.status == 0;
    if (!ok)
        std::printf("a program failed or found differences (see status)\n");
    return ok ? 0 : 1;
}
