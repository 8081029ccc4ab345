// The boot-time check of a large simulated computer through `orva-ic check`,
// with one worker (ORVA_IC_WORKERS=1) and with every processor, section by
// section, next to the pure hashing of the bytes it hashes (`orva-ic gost`,
// one thread, and `rhash --gost94-cryptopro`, over the same files of the
// same volume) and the hardware scan (`orva-ic hw`), in one run, with the
// peak memory of both checks.
//
// The computer: the hardware of the demo computer and one disk whose ext4
// volume holds FILES files of MIB MiB in all under /data (twenty
// directories; four put under control with a per-file listing, the others
// with one hash each, all with contents and attributes) and a Windows
// directory whose SOFTWARE hive has HIVE_KEYS keys, 1000 of them (with
// their values) under control. Its hardware, partition tables, files and
// registry are stored with `orva-ic module approve` into a simulated module
// in a temporary directory. Every program that reads the volume mounts it
// afresh, as the check does, so each reads through the loop device with the
// backing file in the page cache. The programs take turns; each figure is
// the best of the runs (memory: the largest). On a machine under other load
// the processor times compare best, and the wall times of the best run.
//
// usage: bench_check [FILES [MIB [RUNS [DIR]]]]   (root: loop devices, mounts)
//   defaults: 20000 files, 1024 MiB, best of 1 run, $TMPDIR or /tmp;
//   ORVA_BENCH_CHECK_FILES, ORVA_BENCH_CHECK_MIB and
//   ORVA_BENCH_CHECK_HIVE_KEYS (default 100000) for quick runs.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

#include "ic/rcl/rcl.h"
#include "ic/reg/reg.h"
#include "simcomputer/simcomputer.h"
#include "timed_run.h"

namespace {

using bench::keep_best;
using bench::run;
using bench::Timing;

using Clock = std::chrono::steady_clock;

constexpr size_t kTopDirs = 20;   // /data/d00 ... /data/d19
constexpr size_t kListedDirs = 4; // of them with a per-file listing
constexpr size_t kControlledKeys = 1000;
const char kUuid[] = "6d1c2b3a-4e5f-4a7b-8c9d-0e1f2a3b4c5d";

// The demo computer's hardware; the disk follows.
const char kHardware[] = R"(cmdline "BOOT_IMAGE=/boot/vmlinuz root=/dev/sda1 ro quiet orva"
bios vendor="American Megatrends Inc." version="2.17.1246" date="05/16/2014" segment=0xE000 seed=orva-demo release=4.6
smbios entry=sm version=2.7
cpu socket=CPU0 manufacturer=Intel version="Intel(R) Core(TM) i5-4570 CPU @ 3.20GHz" speed=3200 max_speed=3600 cores=4 family=0xCD id=0xBFEBFBFF000306C3
memarray location=3 use=3 capacity=32G
  memory locator=DIMM0 bank="BANK 0" size=4G type=ddr3 speed=1600 manufacturer=Kingston serial=0A1B2C3D part=KHX1600C10D3
pci 0000:00:00.0 vendor=8086 device=0c00 class=060000 revision=06 subsystem=1043:8534
pci 0000:00:02.0 vendor=8086 device=0412 class=030000 revision=06 subsystem=1043:8534
pci 0000:00:14.0 vendor=8086 device=8c31 class=0c0330 revision=05 subsystem=1043:8534
pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601 revision=05 subsystem=1043:8534
usbhub 1 controller=0000:00:14.0
usb 1-1 vendor=046d product=c52b serial=LGT0001 manufacturer=Logitech product_name="USB Receiver" speed=12
monitor port=0 manufacturer=DEL product=0xA0B1 serial=0x3142354C week=20 year=2014 width=52 height=32 name="DELL U2412M"
)";

std::string load_average()
{
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// The work directory with the computer, the module and a mount point; the
// volume is unmounted and the loop devices released whatever happens.
struct Work {
    std::string dir, root, mnt;
    bool mounted = false, looped = false;
    ~Work()
    {
        if (mounted)
            umount(mnt.c_str());
        simcomputer::Error err;
        if (looped && !simcomputer::detach_loops(root, err))
            std::fprintf(stderr, "bench_check: %s\n", err.text().c_str());
        std::error_code ec;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ec);
    }
    std::string volume() const { return root + "/dev/sda1"; }
    bool mount_volume()
    {
        mounted = mount(volume().c_str(), mnt.c_str(), "ext4", MS_RDONLY, nullptr) == 0;
        if (!mounted)
            std::fprintf(stderr, "bench_check: cannot mount %s: %s\n", volume().c_str(), std::strerror(errno));
        return mounted;
    }
    void umount_volume()
    {
        if (mounted && umount(mnt.c_str()) == 0)
            mounted = false;
    }
};

size_t env_or(const char *name, int argc, char **argv, int index, size_t fallback)
{
    if (argc > index)
        return std::strtoul(argv[index], nullptr, 10);
    const char *v = std::getenv(name);
    return v && *v ? std::strtoul(v, nullptr, 10) : fallback;
}

// files paths below /data with their sizes, mib MiB in all, spread over two
// orders of magnitude.
std::vector<std::pair<std::string, uint64_t>> data_files(size_t files, size_t mib)
{
    std::mt19937_64 rng(20000);
    std::vector<double> weight(files);
    double sum = 0;
    for (double &w : weight)
        sum += w = std::exp(std::uniform_real_distribution<double>(0, 4.6)(rng));
    const double scale = double(mib << 20) / sum;
    const size_t per_top = (files + kTopDirs - 1) / kTopDirs;
    std::vector<std::pair<std::string, uint64_t>> out;
    for (size_t i = 0; i < files; ++i) {
        char path[80];
        std::snprintf(path, sizeof path, "/data/d%02zu/s%zu/f%05zu", i / per_top, i % per_top / 100, i);
        out.emplace_back(path, uint64_t(weight[i] * scale));
    }
    return out;
}

std::string key_path(size_t group, size_t service, size_t leaf)
{
    return "Bench\\Group" + std::to_string(group) + "\\Service" + std::to_string(service) + "\\Parameters" +
           std::to_string(leaf);
}

// A Windows installation whose SOFTWARE hive has `keys` service-like keys
// three levels below Bench, four values each; the paths of every
// (keys / 1000)-th of them go to controlled.
simcomputer::Windows windows(size_t keys, std::vector<std::string> &controlled)
{
    simcomputer::Windows w = simcomputer::Windows::with_defaults("/Windows");
    simcomputer::RegKey &bench = w.hive("SOFTWARE").root.child(u"Bench");
    const size_t step = std::max<size_t>(1, keys / kControlledKeys);
    size_t made = 0;
    for (size_t a = 0; made < keys; ++a) {
        simcomputer::RegKey group;
        group.name = simcomputer::utf16("Group" + std::to_string(a));
        for (size_t b = 0; b < 100 && made < keys; ++b) {
            simcomputer::RegKey service;
            service.name = simcomputer::utf16("Service" + std::to_string(b));
            service.class_name = u"Class";
            for (size_t c = 0; c < 30 && made < keys; ++c, ++made) {
                simcomputer::RegKey leaf;
                leaf.name = simcomputer::utf16("Parameters" + std::to_string(c));
                const uint32_t n = uint32_t(made);
                leaf.values.push_back({u"Start", {}, 4, simcomputer::reg_dword(n % 5), {}});
                leaf.values.push_back({u"Type", {}, 4, simcomputer::reg_dword(16), {}});
                leaf.values.push_back(
                    {u"ImagePath", {}, 2,
                     simcomputer::reg_sz(simcomputer::utf16("system32\\drivers\\d" + std::to_string(n) + ".sys")), {}});
                leaf.values.push_back({u"Blob", {}, 3, std::vector<uint8_t>(24 + n % 40, uint8_t(n)), {}});
                service.subkeys.push_back(std::move(leaf));
                if (made % step == 0 && controlled.size() < kControlledKeys)
                    controlled.push_back("\\REGISTRY\\MACHINE\\SOFTWARE\\" + key_path(a, b, c));
            }
            group.subkeys.push_back(std::move(service));
        }
        bench.subkeys.push_back(std::move(group));
    }
    return w;
}

// The registry check list of the controlled keys (whole keys with their
// values, as the registry page adds them) of the Windows directory at dir.
bool write_registry_list(const std::string &dir, const std::vector<std::string> &keys, const std::string &file)
{
    reg *space = nullptr;
    rcl *list = nullptr;
    bool ok = create_winreg(dir.c_str(), &space) == REG_OK && rcl_create(&list) == REG_OK;
    for (size_t i = 0; ok && i < keys.size(); ++i) {
        ok = rcl_add_key_u8(list, space, keys[i].c_str(), 0x7F, nullptr) == REG_OK;
        if (!ok)
            std::fprintf(stderr, "bench_check: cannot add %s\n", keys[i].c_str());
    }
    uint8_t *data = nullptr;
    uint32_t size = 0;
    ok = ok && rcl_write_to_mem(list, &data, &size) == REG_OK;
    if (ok) {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char *>(data), size);
        ok = bool(out.flush());
    }
    std::free(data);
    rcl_destroy(list);
    reg_destroy(space);
    return ok;
}

// The sections of `orva-ic check --json`: the time before the first section
// (loading the stored data, the hardware scan, the partition tables, the
// registry name space) and each section's.
struct CheckTimes {
    double preparing = -1;
    std::vector<std::pair<std::string, double>> sections;
    std::string failed; // titles of failed sections
};

// The JSON string starting at the quote at `at`, unescaped well enough for
// titles; `at` moves past it.
std::string json_string_at(const std::string &text, size_t &at)
{
    std::string out;
    for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size())
            ++at;
        out += text[at];
    }
    ++at;
    return out;
}

CheckTimes parse_check(const std::string &json_file)
{
    std::ifstream in(json_file);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    CheckTimes times;
    size_t at = text.find("\"preparing_seconds\": ");
    if (at != std::string::npos)
        times.preparing = std::strtod(text.c_str() + at + 21, nullptr);
    // Strings inside the report lines have their quotes escaped, so these
    // keys match only as keys.
    while ((at = text.find("{\"title\": \"", at)) != std::string::npos) {
        at += 10;
        const std::string title = json_string_at(text, at);
        if (text.compare(at, 18, ", \"passed\": false,") == 0)
            times.failed += (times.failed.empty() ? "" : ", ") + title;
        const size_t s = text.find("\"seconds\": ", at);
        if (s == std::string::npos)
            break;
        times.sections.emplace_back(title, std::strtod(text.c_str() + s + 11, nullptr));
        at = s;
    }
    return times;
}

const char *section_name(const std::string &title)
{
    static const std::pair<const char *, const char *> names[] = {
        {"Контроль оборудования", "hardware section"},
        {"Контроль дисков", "disks section"},
        {"Контроль целостности объектов ФС", "files section"},
        {"Контроль целостности реестра", "registry section"},
        {"Контроль загрузочного носителя", "boot medium section"},
    };
    for (const auto &n : names)
        if (title == n.first)
            return n.second;
    return title.c_str();
}

bool ok_step(const char *what, const Timing &t)
{
    if (t.status == 0)
        return true;
    std::fprintf(stderr, "bench_check: %s failed (status %d)\n", what, t.status);
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const size_t files = env_or("ORVA_BENCH_CHECK_FILES", argc, argv, 1, 20000);
    const size_t mib = env_or("ORVA_BENCH_CHECK_MIB", argc, argv, 2, 1024);
    const int runs = argc > 3 ? std::atoi(argv[3]) : 1;
    const size_t hive_keys = env_or("ORVA_BENCH_CHECK_HIVE_KEYS", 0, argv, 1, 100000);
    const char *tmp = std::getenv("TMPDIR");
    const std::string base = argc > 4 ? argv[4] : tmp && *tmp ? tmp : "/tmp";
    if (files < kTopDirs || mib == 0 || runs <= 0 || hive_keys < kControlledKeys) {
        std::fprintf(stderr, "usage: bench_check [FILES [MIB [RUNS [DIR]]]]  (FILES >= 20; HIVE_KEYS >= 1000)\n");
        return 2;
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_check: needs root (loop devices behind the volume, mounts)\n");
        return 1;
    }
    if (std::system("command -v rhash >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "bench_check: rhash is not installed (scripts/setup.sh installs it)\n");
        return 1;
    }
    const std::string load_before = load_average();

    Work work;
    std::string tmpl = base + "/bench-check.XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        std::fprintf(stderr, "bench_check: cannot create a directory under %s\n", base.c_str());
        return 1;
    }
    work.dir = tmpl;
    work.root = work.dir + "/computer";
    work.mnt = work.dir + "/mnt";
    const std::string module = work.dir + "/module", log = work.dir + "/setup.log";
    std::filesystem::create_directory(work.mnt);

    // The computer.
    const auto data = data_files(files, mib);
    std::vector<std::string> controlled;
    const simcomputer::Windows win = windows(hive_keys, controlled);
    const auto win_files = simcomputer::windows_files(win);
    uint64_t bytes = 0, hive_bytes = 0;
    for (const auto &f : data)
        bytes += (f.second + 4095) / 4096 * 4096;
    for (const auto &f : win_files)
        hive_bytes += f.second.size();
    // Room for the file system's own structures and its journal.
    const uint64_t part_mib = (bytes + hive_bytes) / (1 << 20) * 21 / 20 + 192;
    std::string text = kHardware;
    text += "disk sda size=" + std::to_string(part_mib + 2) +
            "M controller=0000:00:1f.2 vendor=ATA model=ST500DM002-1BD142 revision=KC45 serial=Z3T0BENCH "
            "seed=bench-mbr\n  part 1 start=1M size=" +
            std::to_string(part_mib) + "M type=7 boot=yes\n    fs ext4 label=SYSTEM uuid=" + kUuid + "\n";
    simcomputer::Computer computer;
    simcomputer::Error err;
    if (!simcomputer::parse(text, computer, err)) {
        std::fprintf(stderr, "bench_check: %s\n", err.text().c_str());
        return 1;
    }
    std::vector<simcomputer::FsEntry> &entries = computer.blocks[0].partitions[0].fs->entries;
    for (const auto &f : data) {
        simcomputer::FsEntry e;
        e.path = f.first;
        e.size = f.second;
        entries.push_back(std::move(e));
    }
    for (const auto &f : win_files) {
        simcomputer::FsEntry e;
        e.path = "/" + f.first;
        e.content = std::string(f.second.begin(), f.second.end());
        entries.push_back(std::move(e));
    }
    std::printf("building the computer: %zu files, %zu MiB under /data, SOFTWARE hive of %zu keys (%.1f MiB of "
                "hives), a %llu MiB volume, in %s ...\n",
                files, mib, hive_keys, hive_bytes / 1048576.0, static_cast<unsigned long long>(part_mib),
                work.dir.c_str());
    std::fflush(stdout);
    auto step_start = Clock::now();
    if (!simcomputer::build(computer, work.root, err) || !(work.looped = simcomputer::attach_loops(work.root, err))) {
        std::fprintf(stderr, "bench_check: %s\n", err.text().c_str());
        return 1;
    }
    std::printf("  built in %.1f s\n", std::chrono::duration<double>(Clock::now() - step_start).count());

    // The module and its reference data.
    setenv("ORVA_SIM_DIR", module.c_str(), 1);
    setenv("ORVA_SYSROOT", work.root.c_str(), 1);
    const std::string orva_ic = ORVA_IC_PATH, sim = ORVA_SIM_PATH;
    const std::string file_list = work.dir + "/files.icl", reg_list = work.dir + "/registry.rcl";
    std::printf("storing the reference with orva-ic module approve ...\n");
    std::fflush(stdout);
    step_start = Clock::now();
    bool ok = ok_step("orva-sim init", run({sim, "init", "--class", "1"}, ".", "/dev/null", log)) &&
              ok_step("orva-sim format", run({sim, "format"}, ".", "/dev/null", log)) &&
              ok_step("module approve hw", run({orva_ic, "module", "approve", "hw"}, ".", log, log)) &&
              ok_step("module approve hd", run({orva_ic, "module", "approve", "hd"}, ".", log, log));
    for (size_t d = 0; ok && d < kTopDirs; ++d) {
        char dir[40];
        std::snprintf(dir, sizeof dir, "/data/d%02zu", d);
        // Per-file listing or one hash; subdirectories, contents, attributes.
        const char *flags = d < kListedDirs ? "15" : "14";
        ok = ok_step("fs add", run({orva_ic, "fs", "add", "--list", file_list, kUuid, dir, "--flags", flags}, ".",
                                   log, log));
    }
    ok = ok && ok_step("module approve fs", run({orva_ic, "module", "approve", "fs", file_list}, ".", log, log));
    ok = ok && work.mount_volume();
    ok = ok && write_registry_list(work.mnt + "/Windows", controlled, reg_list);
    work.umount_volume();
    ok = ok && ok_step("module approve reg",
                       run({orva_ic, "module", "approve", "reg", kUuid, "/Windows", reg_list}, ".", log, log));
    if (!ok) {
        std::ifstream in(log);
        std::fprintf(stderr, "%s", std::string(std::istreambuf_iterator<char>(in), {}).c_str());
        return 1;
    }
    std::printf("  stored in %.1f s:\n", std::chrono::duration<double>(Clock::now() - step_start).count());
    {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);)
            if (line.find("stored") != std::string::npos)
                std::printf("    %s\n", line.c_str());
    }

    // The check once to warm the caches (and to see that it passes).
    const std::string report = work.dir + "/check.json";
    const Timing first = run({orva_ic, "check", "--json"}, ".", report, log);
    const CheckTimes first_times = parse_check(report);
    // The disk section runs when the stored partition tables say so.
    if (first.status != 0 || first_times.sections.size() < 4) {
        std::fprintf(stderr, "bench_check: the check did not pass on the computer it was approved on (status %d, "
                             "%zu sections, failed: %s); its report:\n",
                     first.status, first_times.sections.size(), first_times.failed.c_str());
        std::ifstream in(report);
        std::fprintf(stderr, "%s", std::string(std::istreambuf_iterator<char>(in), {}).c_str());
        return 1;
    }

    std::vector<std::string> gost_args = {orva_ic, "gost"};
    for (const auto &f : data)
        gost_args.push_back(f.first.substr(1));
    cpu_set_t cpus;
    const int cores = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
    Timing one, all, hw, gost, rhash;
    CheckTimes one_times, all_times;
    // One check with ORVA_IC_WORKERS set to workers (0: unset, every core).
    auto check = [&](unsigned workers, Timing &best, CheckTimes &times) {
        if (workers)
            setenv("ORVA_IC_WORKERS", std::to_string(workers).c_str(), 1);
        else
            unsetenv("ORVA_IC_WORKERS");
        const Timing c = run({orva_ic, "check", "--json"}, ".", report, log);
        unsetenv("ORVA_IC_WORKERS");
        if (best.status < 0 || c.wall < best.wall)
            times = parse_check(report);
        keep_best(best, c);
    };
    for (int r = 0; r < runs && ok; ++r) {
        check(1, one, one_times);
        check(0, all, all_times);
        keep_best(hw, run({orva_ic, "hw", "--save", "/dev/null"}));
        ok = work.mount_volume();
        keep_best(gost, run(gost_args, work.mnt));
        work.umount_volume();
        ok = ok && work.mount_volume();
        keep_best(rhash, run({"rhash", "--gost94-cryptopro", "-r", "data"}, work.mnt));
        work.umount_volume();
    }
    if (!ok)
        return 1;

    std::printf("\n%zu files, %zu MiB (%zu directories under control, %zu of them listed per file); SOFTWARE hive "
                "of %zu keys, %zu under control;\nbest of %d; %d processors; load average before %s, after %s; CPU = "
                "the program's user + system time\n",
                files, mib, kTopDirs, kListedDirs, hive_keys, controlled.size(), runs, cores, load_before.c_str(),
                load_average().c_str());
    std::printf("  %-46s %9s %9s %10s %7s\n", "", "wall s", "CPU s", "peak KiB", "status");
    auto row = [](const char *what, const Timing &t) {
        std::printf("  %-46s %9.3f %9.3f %10ld %7d\n", what, t.wall, t.cpu, t.rss_kib, t.status);
    };
    auto sections = [](const CheckTimes &times) {
        std::printf("    %-44s %9.3f\n", "before the sections", times.preparing);
        for (const auto &s : times.sections)
            std::printf("    %-44s %9.3f\n", section_name(s.first), s.second);
    };
    row("orva-ic check, 1 worker (whole run)", one);
    sections(one_times);
    const std::string all_title = "orva-ic check, " + std::to_string(cores) + " workers (whole run)";
    row(all_title.c_str(), all);
    sections(all_times);
    row("orva-ic hw (hardware scan)", hw);
    row("orva-ic gost (the same files, pure hashing)", gost);
    row("rhash --gost94-cryptopro -r (the same files)", rhash);
    auto files_section = [](const CheckTimes &times) {
        for (const auto &s : times.sections)
            if (std::strcmp(section_name(s.first), "files section") == 0)
                return s.second;
        return 0.0;
    };
    std::printf("ratios (wall, CPU), targets in brackets:\n");
    std::printf("  check, 1 worker / pure hashing            %5.2f  %5.2f   [<= 1.10]\n", one.wall / gost.wall,
                one.cpu / gost.cpu);
    std::printf("  check, %2d workers / pure hashing          %5.2f  %5.2f   [<= 0.60]\n", cores,
                all.wall / gost.wall, all.cpu / gost.cpu);
    std::printf("  files section, 1 worker / pure hashing    %5.2f\n", files_section(one_times) / gost.wall);
    std::printf("  files section, %2d workers / pure hashing  %5.2f\n", cores, files_section(all_times) / gost.wall);
    std::printf("  peak memory, %2d workers / 1 worker        %5.2f          [<= 2.00]\n", cores,
                double(all.rss_kib) / double(one.rss_kib));
    std::printf("  orva-ic gost / rhash                      %5.2f  %5.2f\n", gost.wall / rhash.wall,
                gost.cpu / rhash.cpu);
    ok = one.status == 0 && all.status == 0 && hw.status == 0 && gost.status == 0 && rhash.status == 0;
    if (!ok)
        std::printf("a program failed or the check did not pass (see status)\n");
    return ok ? 0 : 1;
}
