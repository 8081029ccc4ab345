// Attacks on the boot-time check, one scenario per row of a table: a
// simulated computer is approved as the reference in a simulated module,
// then changed the way an attacker with the disk in hand (or a damaged
// module or kernel picture) would change it, and `orva-ic check` runs the
// same check as the program. Every row asserts the exit status (3: the
// check failed), the sections that must fail with the line that says why,
// that the check ended within a time limit, that no disk image changed, and
// that no loop device or mount of the check stays behind.
//
// Adding a row: give it a name, the blocks to store (kDisks, kFiles,
// kRegistry, kRegistryKey), the computer at the check (empty: the approved
// one; build it from the pieces below), an optional tamper function run on
// the scene after that computer is built, the exit status, the sections
// with one line each (the plain text `orva-ic check --json` shows), and,
// when the approved computer is not reference(), that one; a row that
// stores reference data of its own (a list with other flags, partitions out
// of control) gives an approve function too.
//
// A registered virtual-disk image needs a loop device the check can bind:
// such a row lends the computer two of the real system's as its loop0 and
// loop1 (scene::lend_loop_devices), and the computer describes what the
// kernel shows of the image once attached. Rows marked without_openat2 run the
// check as on a kernel without openat2 (the without_openat2 wrapper).
#include "process.h"
#include "sim_root.h"

#include <gost/gost_r3411_94.h>
#include <orva.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kOrvaIc = ORVA_IC_PATH;
const std::string kOrvaSim = ORVA_SIM_PATH;
const std::string kWithoutOpenat2 = WITHOUT_OPENAT2_PATH;

// A check that runs longer than this is taken as hanging.
constexpr std::chrono::milliseconds kTimeLimit = std::chrono::seconds(30);

const std::string kSysUuid = "5e1d2c3b-4a59-4687-9a0b-1c2d3e4f5a6b";
const std::string kDataUuid = "6f2e3d4c-5b6a-4798-8b1c-2d3e4f5a6b7c";
const std::string kOtherUuid = "7a3f4e5d-6c7b-48a9-9c2d-3e4f5a6b7c8d";

// Section titles and the registry directory's report name.
const std::string kDisksSection = "Контроль дисков";
const std::string kFilesSection = "Контроль целостности объектов ФС";
const std::string kRegistrySection = "Контроль целостности реестра";
const std::string kRegistryDir = "ATK-SYS-" + kSysUuid;

// Blocks stored in the module.
enum : unsigned { kDisks = 1, kFiles = 2, kRegistry = 4, kRegistryKey = 8 /* the key Run, not one value */ };

// Block offsets of a module of the default size.
constexpr uint32_t kDisksBlock = 15360;
constexpr uint32_t kRegistryBlock = 30720;
constexpr uint32_t kFilesBlock = 30720 + 512000;

// ---- Pieces of the computers ------------------------------------------

std::string machine()
{
    return "cmdline \"BOOT_IMAGE=/vmlinuz ro quiet orva\"\n"
           "bios vendor=\"AMI\" version=1.2 date=05/16/2014 segment=0xE000 seed=attack release=4.6\n"
           "smbios entry=sm version=2.7\n"
           "cpu socket=CPU0 manufacturer=Intel version=\"Core i5\" speed=3200\n"
           "pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601\n";
}

// The protected Windows volume: its registry (the value Updater of Run),
// /Windows/win.ini and the directory /Windows/Temp. `files` adds volume
// lines before the Windows directory, `windows` lines inside it (hives,
// profiles), `after` volume lines after it (they replace its files).
struct windows_parts {
    std::string uuid = kSysUuid;
    std::string files;
    std::string windows;
    std::string after;
    std::string updater = "C:\\\\updater.exe";
    std::string part = "1 start=1M";
    std::string fs = "ext4 uuid=" + kSysUuid;
};

std::string windows_volume(const windows_parts &w)
{
    return "  part " + w.part + " size=14M\n"
           "    fs " + (w.uuid == kSysUuid ? w.fs : "ext4 uuid=" + w.uuid) + "\n"
           "      file /Windows/win.ini content=alpha\n"
           "      file /Windows/Temp/keep.txt content=keep\n" + w.files +
           "      windows /Windows\n"
           "        hive SOFTWARE\n"
           "          key Run\n"
           "            value Updater sz \"" + w.updater + "\"\n" + w.windows + w.after;
}

std::string windows_volume(const std::string &uuid = kSysUuid, const std::string &files = "")
{
    windows_parts w;
    w.uuid = uuid;
    w.files = files;
    return windows_volume(w);
}

// A fixed disk on the SATA controller holding `volumes`.
std::string disk(const std::string &name, const std::string &serial, const std::string &volumes,
                 const std::string &model = "ATTACK", const std::string &attrs = "")
{
    return "disk " + name + " size=32M controller=0000:00:1f.2 vendor=ATA model=" + model + " serial=\"" + serial +
           "\"" + attrs + "\n" + volumes;
}

std::string system_disk(const std::string &volumes = windows_volume(), const std::string &serial = "ATK-SYS")
{
    return disk("sda", serial, volumes);
}

// sdb: /etc/hosts on one ext4 volume.
std::string data_disk(const std::string &uuid = kDataUuid, const std::string &name = "sdb",
                      const std::string &serial = "ATK-DATA")
{
    return disk(name, serial,
                "  part 1 start=1M size=14M\n"
                "    fs ext4 uuid=" + uuid + "\n"
                "      file /etc/hosts content=\"127.0.0.1 localhost\"\n");
}

std::string reference()
{
    return machine() + system_disk() + data_disk();
}

// The reference with the Windows volume changed.
std::string with_windows(const windows_parts &w)
{
    return machine() + system_disk(windows_volume(w)) + data_disk();
}

std::string with_windows_lines(const std::string &windows, const std::string &after = "")
{
    windows_parts w;
    w.windows = windows;
    w.after = after;
    return with_windows(w);
}

std::string with_files(const std::string &files, const std::string &after = "", const std::string &windows = "")
{
    windows_parts w;
    w.files = files;
    w.windows = windows;
    w.after = after;
    return with_windows(w);
}

// The system disk with a second partition (no file system) whose first
// sectors are seeded: `disk_seed` fills the MBR's boot code and sectors
// 1-62, the others the first 63 sectors of partitions 2 and 3.
std::string partitioned(const std::string &disk_seed, const std::string &part2_seed, const std::string &part3_seed)
{
    return machine() +
           disk("sda", "ATK-SYS",
                windows_volume() + "  part 2 start=16M size=7M seed=" + part2_seed + "\n" +
                    "  part 3 start=24M size=7M seed=" + part3_seed + "\n",
                "ATTACK", disk_seed.empty() ? "" : " seed=" + disk_seed) +
           data_disk();
}

// A registered virtual-disk image: the file /images/station.img on the
// Windows volume, and what the kernel shows once it is attached (the
// computer's loop0 or loop1 with one ext4 partition holding
// /data/report.txt).
const std::string kImageUuid = "8b4a5f6e-7d8c-49ba-8d3e-4f5a6b7c8d9e";
const std::string kImage = kSysUuid + ":/images/station.img:station";

std::string with_image(const std::string &report = "report", const std::string &after = "")
{
    windows_parts w;
    w.files = "      image /images/station.img size=4M\n"
              "        part 1 start=1M size=2M\n"
              "          fs vfat\n";
    w.after = after;
    std::string loops;
    for (const char *loop : {"loop0", "loop1 dev=7:16"})
        loops += std::string("loop ") + loop + " size=8M\n"
                 "  part 1 start=1M size=6M\n"
                 "    fs ext4 uuid=" + kImageUuid + "\n"
                 "      file /data/report.txt content=" + report + "\n";
    return with_windows(w) + loops;
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    return text.replace(text.find(from), from.size(), to);
}

const std::string kConfig = "/Windows/System32/config/";
const std::string kProfileList = "Microsoft\\\\Windows NT\\\\CurrentVersion\\\\ProfileList";

// A user's profile with its hive /Users/ivan/NTUSER.DAT.
const std::string kIvan = "        profile S-1-5-21-7 path=\"%systemdrive%\\\\Users\\\\ivan\"\n";

// A ProfileList entry written straight into SOFTWARE (no hive behind it).
std::string profile_entry(const std::string &name, const std::string &image_path, const std::string &attrs = "")
{
    return "        hive SOFTWARE\n"
           "          key \"" + kProfileList + "\"\n"
           "            key \"" + name + "\"" + attrs + "\n"
           "              value ProfileImagePath expand_sz \"" + image_path + "\"\n";
}

// Special files an attacker puts in place of a regular one, as a volume
// line at path: each kind and the words of its refusal.
struct special_kind {
    const char *name;
    const char *line; // "%s" is the path
    bool link;        // a link that leads out of the volume
};
const special_kind kSpecialKinds[] = {
    {"Fifo", "fifo %s", false},
    {"Socket", "socket %s", false},
    {"ZeroDevice", "device %s type=char dev=1:5", false},
    {"DiskDevice", "device %s type=block dev=8:0", false},
    {"LinkToDevZero", "symlink %s target=/dev/zero", true},
};

std::string special_line(const special_kind &k, const std::string &path)
{
    std::string line = k.line;
    line.replace(line.find("%s"), 2, path);
    return "      " + line + "\n";
}

// The report's line for a hive file (or log) refused for what it is.
std::string hive_refused(const special_kind &k, const std::string &path)
{
    return k.link ? "Путь к файлу реестра " + path + " выходит за пределы раздела Windows."
                  : "Файл реестра " + path + " не является обычным файлом.";
}

// Files a and b, and one file named a + H(a's contents) + b with b's
// contents: in the form recorded before names took their lengths, both
// feed a directory digest the same bytes. a's contents are chosen so that
// their digest makes a valid file name.
struct merged_names {
    std::string a_content;
    std::string merged; // the name, with \xHH escapes for the description
};

merged_names merge_attack()
{
    for (int i = 0;; ++i) {
        const std::string content = "alpha" + std::to_string(i);
        unsigned char d[GOST_R3411_94_DIGEST_SIZE];
        gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, content.data(), content.size(), d);
        if (std::any_of(std::begin(d), std::end(d),
                        [](unsigned char c) { return c < 0x21 || c == 0x7f || c == '/' || c == '"' || c == '\\'; }))
            continue;
        std::string name = "a";
        for (unsigned char c : d) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            name += hex;
        }
        return {content, name + "b"};
    }
}

// ---- Scenes -------------------------------------------------------------

// One row's world: the module, the computer at the check and its files.
struct scene {
    simtest::TempDir dir{"orva-attack"};
    std::string module = dir / "module";
    std::string root; // the computer's system root (loop devices attached)

    // Writes bytes into the module's integrity-data area.
    void put(uint32_t offset, const std::string &bytes) const
    {
        ASSERT_EQ(orva_init(0), ORVA_OK);
        orva_handle_t handle = nullptr;
        ASSERT_EQ(orva_open_device(0, &handle, 0), ORVA_OK);
        EXPECT_EQ(orva_save_ic_data(handle, bytes.data(), offset, uint32_t(bytes.size())), ORVA_OK);
        orva_close_device(handle);
        orva_exit(0);
    }
    // The kernel's picture of the computer, changed.
    fs::path sys_block(const std::string &name) const
    {
        return fs::canonical(root + "/sys/class/block/" + name);
    }
    // The file behind a volume's loop device (what the check reads).
    std::string volume_file(const std::string &name) const { return root + "/.loops/" + name; }

    // Loop devices of the real system made the computer's loop0 and loop1
    // (in the system root at), for the check to attach an image to: its
    // own, at indexes others do not pick first, removed with the scene. Two,
    // as the check's own mount of the image's volume may take one.
    void lend_loop_devices(const std::string &at)
    {
        const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
        ASSERT_GE(control, 0);
        int n = 4000 + getpid() % 1000 * 2;
        for (int &l : lent)
            for (; l < 0 && n < 8000; ++n)
                l = ioctl(control, LOOP_CTL_ADD, n) >= 0 ? n : -1;
        close(control);
        for (size_t i = 0; i < 2; ++i) {
            ASSERT_GE(lent[i], 0) << "no loop device could be made";
            const std::string node = at + "/dev/loop" + std::to_string(i);
            fs::remove(node);
            ASSERT_EQ(mknod(node.c_str(), S_IFBLK | 0600, makedev(7, unsigned(lent[i]))), 0) << node;
        }
    }
    // The lent loop devices taken by someone else until the scene ends:
    // bound to a file of theirs, or else held open exclusively (they look
    // free then, and cannot be bound).
    void take_lent_loop_devices(bool bound)
    {
        const std::string file = dir / "taken";
        std::ofstream(file) << std::string(1 << 20, 'T');
        const int backing = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(backing, 0);
        for (size_t i = 0; i < 2; ++i) {
            const std::string node = root + "/dev/loop" + std::to_string(i);
            taken[i] = open(node.c_str(), O_RDONLY | O_CLOEXEC | (bound ? 0 : O_EXCL));
            EXPECT_GE(taken[i], 0) << node;
            if (bound) {
                EXPECT_EQ(ioctl(taken[i], LOOP_SET_FD, backing), 0);
            }
        }
        close(backing);
    }
    ~scene()
    {
        const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
        for (size_t i = 0; i < 2; ++i) {
            if (taken[i] >= 0) {
                ioctl(taken[i], LOOP_CLR_FD, 0);
                close(taken[i]);
            }
            if (lent[i] >= 0 && (control < 0 || ioctl(control, LOOP_CTL_REMOVE, lent[i]) != 0))
                ADD_FAILURE() << "loop device " << lent[i] << " cannot be removed (still bound?)";
        }
        if (control >= 0)
            close(control);
    }
    int lent[2] = {-1, -1};  // indexes of the loop devices lent to the computer
    int taken[2] = {-1, -1}; // those devices, while taken
};

void must_run(const std::vector<std::string> &args)
{
    const simtest::Result r = simtest::run_program(args);
    ASSERT_EQ(r.status, 0) << args[0] << " " << args[1] << ": " << r.out << r.err;
}

std::string le32(uint32_t v)
{
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// Tampering, after the computer at the check is built.
void damage_data(scene &s, uint32_t block) { s.put(block + 8, "\xff\xff\xff\xff"); }
void damage_disks_block(scene &s) { damage_data(s, kDisksBlock); }
void damage_disks_header(scene &s) { s.put(kDisksBlock, le32(15361)); }
void damage_files_block(scene &s) { damage_data(s, kFilesBlock); }
void damage_files_header(scene &s) { s.put(kFilesBlock, le32(0x7fffffff)); }
void damage_registry_block(scene &s) { damage_data(s, kRegistryBlock); }
void damage_registry_header(scene &s) { s.put(kRegistryBlock, le32(0x7fffffff)); }
void no_block_directory(scene &s) { fs::rename(s.root + "/sys/class/block", s.root + "/sys/class/block.gone"); }
void dangling_block_link(scene &s) { fs::create_symlink("../../devices/nowhere/sdz", s.root + "/sys/class/block/sdz"); }
void partition_mark_lost(scene &s) { fs::remove(s.sys_block("sda1") / "partition"); }
void partition_without_node(scene &s)
{
    std::ofstream(s.sys_block("sdb1") / "uevent", std::ios::trunc) << "MAJOR=8\nMINOR=17\nDEVTYPE=partition\n";
}
void udev_record_of_sda_gone(scene &s) { fs::remove(s.root + "/run/udev/data/b8:0"); }
// Registry control on, the Windows directory's path gone.
void registry_path_cleared(scene &s)
{
    ASSERT_EQ(simtest::run_program({kOrvaIc, "module", "approve", "reg", kSysUuid, "", s.dir / "registry.rcl"}).status, 0);
}

// debugfs commands run on an ext volume's file.
void debugfs(const scene &s, const std::string &volume, const std::string &commands)
{
    const simtest::Result r =
        simtest::run_program({"sh", "-c", "printf '" + commands + "' | debugfs -w -f - " + s.volume_file(volume)});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
}

// The size of a file of an ext volume set (its blocks stay as they are:
// what lies beyond them reads as zeros).
void hosts_of_one_tib(scene &s) { debugfs(s, "sdb1", "sif /etc/hosts size " + std::to_string(1ull << 40) + "\\n"); }
void hosts_grown_by_4_gib(scene &s)
{
    debugfs(s, "sdb1", "sif /etc/hosts size " + std::to_string((1ull << 32) + 19) + "\\n");
}
void software_of_one_tib(scene &s)
{
    debugfs(s, "sda1", "sif /Windows/System32/config/SOFTWARE size " + std::to_string(1ull << 40) + "\\n");
}
void keep_of_one_tib(scene &s)
{
    debugfs(s, "sda1", "sif /Windows/Temp/keep.txt size " + std::to_string(1ull << 40) + "\\n");
}
void new_file_of_one_tib(scene &s)
{
    debugfs(s, "sda1", "sif /Windows/Temp/huge.bin size " + std::to_string(1ull << 40) + "\\n");
}

// A transaction in the journal of the Windows volume that was not written
// home: mounting the volume would replay it onto the disk.
void journal_pending(scene &s)
{
    std::ifstream volume(s.volume_file("sda1"), std::ios::binary);
    char sb[32];
    volume.seekg(1024);
    ASSERT_TRUE(volume.read(sb, sizeof sb));
    const uint32_t blocks = uint8_t(sb[4]) | uint8_t(sb[5]) << 8 | uint8_t(sb[6]) << 16 | uint32_t(uint8_t(sb[7])) << 24;
    const std::string block = s.dir / "block";
    std::ofstream(block) << std::string(size_t(1024) << uint8_t(sb[24]), 'J');
    debugfs(s, "sda1", "jo\\njw -b " + std::to_string(blocks - 1) + " " + block + "\\njc\\n");
    const simtest::Result r = simtest::run_program({"dumpe2fs", "-h", s.volume_file("sda1")});
    ASSERT_NE(r.out.find("needs_recovery"), std::string::npos) << r.out;
}

// An orphan list on the Windows volume: a mount that may write cleans it up.
void orphan_pending(scene &s) { debugfs(s, "sda1", "ssv last_orphan 11\\n"); }

// ---- Reference data of rows of their own -------------------------------

// The registry list: the value Updater of Run, or with whole_key the key
// Run itself with everything below it.
void approve_registry(const scene &s, bool whole_key)
{
    // The registry list is taken from the volume mounted read-only.
    const std::string volume = s.dir / "volume", list = s.dir / "registry.rcl";
    fs::create_directory(volume);
    const std::string node = std::string(getenv("ORVA_SYSROOT")) + "/dev/sda1";
    ASSERT_EQ(mount(node.c_str(), volume.c_str(), "ext4", MS_RDONLY | MS_NODEV | MS_NOSUID | MS_NOEXEC, nullptr), 0)
        << node;
    const std::string run = "\\REGISTRY\\MACHINE\\SOFTWARE\\Run";
    const simtest::Result r = simtest::run_program(
        whole_key ? std::vector<std::string>{kOrvaIc, "rcl", "add", list, volume + "/Windows", "key", run}
                  : std::vector<std::string>{kOrvaIc, "rcl", "add", list, volume + "/Windows", "value", run, "Updater"});
    umount2(volume.c_str(), 0);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    must_run({kOrvaIc, "module", "approve", "reg", kSysUuid, "/Windows", list});
}

// A file list of the given objects (volume, path, flags) stored in the module.
void approve_files(const scene &s, const std::vector<std::vector<std::string>> &objects)
{
    const std::string list = s.dir / "files.icl";
    for (const std::vector<std::string> &o : objects) {
        std::vector<std::string> args = {kOrvaIc, "fs", "add", "--list", list, o[0], o[1]};
        if (o.size() > 2)
            args.insert(args.end(), {"--flags", o[2]});
        must_run(args);
    }
    must_run({kOrvaIc, "module", "approve", "fs", list});
}

void approve_hd_but_partition_2(scene &) { must_run({kOrvaIc, "module", "approve", "hd", "--except", "ATK-SYS:2"}); }
void approve_d_names_only(scene &s) { approve_files(s, {{kSysUuid, "/d", "0"}}); }
void approve_d_contents(scene &s) { approve_files(s, {{kSysUuid, "/d", "4"}}); }
void approve_etc_attributes(scene &s) { approve_files(s, {{kDataUuid, "/etc", "8"}}); }
void approve_hosts_attributes(scene &s) { approve_files(s, {{kDataUuid, "/etc/hosts", "8"}}); }
// The image's file recorded and the image registered: both attach it.
void approve_image_file(scene &s)
{
    s.lend_loop_devices(getenv("ORVA_SYSROOT"));
    if (::testing::Test::HasFatalFailure())
        return;
    const std::string list = s.dir / "files.icl";
    must_run({kOrvaIc, "fs", "add", "--list", list, "image:station:1", "/data/report.txt", "--image", kImage});
    must_run({kOrvaIc, "module", "approve", "fs", list, "--image", kImage});
}
// At the check: the lent loop devices, free, bound or held.
void lend_loop_devices(scene &s) { s.lend_loop_devices(s.root); }
void lend_bound_loop_devices(scene &s)
{
    s.lend_loop_devices(s.root);
    if (!::testing::Test::HasFatalFailure())
        s.take_lent_loop_devices(true);
}
void lend_held_loop_devices(scene &s)
{
    s.lend_loop_devices(s.root);
    if (!::testing::Test::HasFatalFailure())
        s.take_lent_loop_devices(false);
}
void approve_win_ini_on_disk(scene &s) { approve_files(s, {{"disk:ATK-SYS:1", "/Windows/win.ini"}}); }

// /d (names only) and /d/ab (contents and attributes) of the Windows
// volume, recorded by the program before directory hashes took name
// lengths and sizes were kept whole.
const char kListRecordedBefore[] =
    "0100000007004154" "4b2d535953010002000000010002002f6400000000a9044cb7ce0525853200a960e9af5a52d9938ad8887aaa1a61c4"
    "dd35b6662c14000005002f642f61620c00fe1a466c224c06e7d0796ca2e0a6d5613bdaa2f0fea52d967b90fb1a38797ddfa481000000"
    "0000000100000000e10b5e";

void approve_list_recorded_before(scene &s)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < sizeof kListRecordedBefore - 1; i += 2)
        bytes += char(std::stoi(std::string(kListRecordedBefore + i, 2), nullptr, 16));
    const std::string list = s.dir / "files.icl";
    std::ofstream(list, std::ios::binary) << bytes;
    must_run({kOrvaIc, "module", "approve", "fs", list});
}

// ---- The table ----------------------------------------------------------

struct expectation {
    std::string section; // title
    std::string line;    // one of its plain lines, exactly
};

struct scenario {
    std::string name;
    unsigned stored;
    std::string computer; // at the check; empty: the approved one
    void (*tamper)(scene &);
    int exit;
    std::vector<expectation> sections; // failed (exit 3) or passed (exit 0)
    std::string approved = reference(); // the computer approved as the reference
    void (*approve)(scene &) = nullptr; // reference data of its own, after `stored`
    bool without_openat2 = false;       // the check as on a kernel without openat2
};

std::ostream &operator<<(std::ostream &out, const scenario &s)
{
    return out << s.name;
}

// A special file in place of a controlled file, of a file in a controlled
// directory, of each hive, of a hive's log, of a registered image and of a
// user's hive.
void add_special_file_rows(std::vector<scenario> &rows)
{
    const char *const hives[] = {"SOFTWARE", "SYSTEM", "SAM", "SECURITY", "DEFAULT"};
    const std::string dirty_system = "        hive SYSTEM log=new\n"
                                     "          entry\n"
                                     "            key Marker\n";
    size_t i = 0;
    for (const special_kind &k : kSpecialKinds) {
        const std::string name = k.name;
        const std::string hive = kConfig + hives[i++];
        const std::string file_result = k.link ? " - Нарушена целостность; Изменены права доступа; Изменен размер;"
                                               : " - Файл отсутствует;";
        rows.push_back({name + "InPlaceOfAControlledFile", kFiles, with_files("", special_line(k, "/Windows/win.ini")),
                        nullptr, 3, {{kFilesSection, "/Windows/win.ini" + file_result}}});
        rows.push_back({name + "InPlaceOfAFileOfAControlledDirectory", kFiles,
                        with_files("", special_line(k, "/Windows/Temp/keep.txt")), nullptr, 3,
                        {{kFilesSection, "./keep.txt" + file_result}}});
        rows.push_back({name + "InPlaceOfAHive", kRegistry, with_windows_lines("", special_line(k, hive)), nullptr, 3,
                        {{kRegistrySection, hive_refused(k, hive)}}});
        rows.push_back({name + "InPlaceOfTheLogOfADirtyHive", kRegistry,
                        with_windows_lines(dirty_system, special_line(k, kConfig + "SYSTEM.LOG1")), nullptr, 3,
                        {{kRegistrySection, hive_refused(k, kConfig + "SYSTEM.LOG1")}}});
        rows.push_back({name + "InPlaceOfARegisteredImage", 0, with_image("report", special_line(k, "/images/station.img")),
                        lend_loop_devices, 3,
                        {{kFilesSection, "Невозможно примонтировать образ."}, {kFilesSection, "- диск не найден"}},
                        with_image(), approve_image_file});
        rows.push_back({name + "InPlaceOfAUsersHive", kRegistry,
                        with_windows_lines(kIvan, special_line(k, "/Users/ivan/NTUSER.DAT")), nullptr, 3,
                        {{kRegistrySection, hive_refused(k, "/Users/ivan/NTUSER.DAT")}}});
    }
}

// Copies of the rows named, the check run as on a kernel without openat2.
void add_without_openat2_rows(std::vector<scenario> &rows, const std::vector<std::string> &names)
{
    for (const std::string &name : names) {
        const auto row = std::find_if(rows.begin(), rows.end(), [&name](const scenario &r) { return r.name == name; });
        if (row == rows.end())
            throw std::logic_error("no row " + name);
        scenario copy = *row;
        copy.name += "WithoutOpenat2";
        copy.without_openat2 = true;
        rows.push_back(copy);
    }
}

std::vector<scenario> scenarios()
{
    const std::string not_found = kRegistryDir + " - раздел не найден";
    const std::string ambiguous = kRegistryDir + " - раздел не определен однозначно";
    const std::string no_disk_list = "Ошибка получения списка разделов дисков.";
    const std::string tree_error = "-ошибка построения дерева реестра.";
    windows_parts evil;
    evil.updater = "C:\\\\evil.exe";
    const std::string clone = windows_volume(evil);
    windows_parts second = evil;
    second.part = "2 start=16M";
    const std::string second_clone = windows_volume(second);
    const std::string hostile_name = "<font color=green>x.txt - ОК";
    const std::string evil_profile = "        profile S-1-5-21-8 path=\"%systemdrive%\\\\Users\\\\evil\"\n"
                                     "          key \"Software\\\\Evil\"\n";
    const std::string name_taken = "Профиль \\REGISTRY\\USER\\%1 не подключен: это имя в реестре уже занято или недопустимо.";
    auto taken = [&name_taken](const std::string &name) {
        std::string line = name_taken;
        return line.replace(line.find("%1"), 2, name);
    };
    const merged_names merge = merge_attack();
    const std::string d_ab_c = "      file /d/ab content=X\n      file /d/c content=Y\n";
    windows_parts ntfs;
    ntfs.fs = "ntfs uuid=0123456789ABCDEF";
    windows_parts ntfs_dirty = ntfs;
    ntfs_dirty.fs += " dirty=yes";
    windows_parts hibernated = ntfs;
    hibernated.files = "      file /hiberfil.sys content=\"HIBR\\x00\\x00\\x00\\x00\"\n";
    windows_parts ext3;
    ext3.fs = "ext3 uuid=" + kSysUuid;
    windows_parts moved = evil;
    moved.uuid = kOtherUuid;

    std::vector<scenario> rows = {
        // A volume under control that is gone, or that is not one.
        {"RegistryVolumeReformatted", kRegistry, machine() + system_disk(windows_volume(kOtherUuid)) + data_disk(),
         nullptr, 3, {{kRegistrySection, not_found}}},
        {"RegistryDiskUnplugged", kRegistry, machine() + data_disk(), nullptr, 3, {{kRegistrySection, not_found}}},
        {"RegistryVolumeOnAnotherDisk", kRegistry,
         machine() + system_disk(windows_volume(kOtherUuid)) + data_disk() + disk("sdc", "ATK-USB", windows_volume()),
         nullptr, 3, {{kRegistrySection, not_found}}},
        {"RegistryVolumeClonedOnItsDisk", kRegistry,
         machine() + system_disk(windows_volume() + second_clone) + data_disk(), nullptr, 3,
         {{kRegistrySection, ambiguous}}},
        {"RegistryDiskSerialTwice", kRegistry,
         machine() + system_disk() + data_disk() + disk("sdc", "ATK-SYS", clone, "OTHER"),
         nullptr, 3, {{kRegistrySection, ambiguous}}},
        // The Windows volume's UUID changed, a copy of it as a logical
        // volume of that name in a group named as the disk.
        {"RegistryVolumeMovedToALogicalVolume", kRegistry,
         machine() + system_disk(windows_volume(moved)) + data_disk() + "lvm ATK-SYS\n  lv " + kSysUuid + " size=14M\n" +
             windows_volume().substr(windows_volume().find("    fs ")),
         nullptr, 3, {{kRegistrySection, ambiguous}}},
        // A changed clone on another disk is told apart by the stored disk.
        {"RegistryCloneElsewhereIgnored", kRegistry,
         machine() + disk("sda", "ATK-EVIL", clone) + disk("sdb", "ATK-SYS", windows_volume()) +
             data_disk(kDataUuid, "sdc"),
         nullptr, 0, {{kRegistrySection, "Результат проверки: контроль пройден"}}},
        {"FilesPartitionDeleted", kFiles, machine() + disk("sda", "ATK-SYS", "") + data_disk(), nullptr, 3,
         {{kFilesSection, "- раздел не найден"}}},
        {"FilesDiskSerialChanged", kFiles, machine() + system_disk(windows_volume(), "ATK-NEW") + data_disk(), nullptr,
         3, {{kFilesSection, "- диск не найден"}}},
        {"FilesDiskSerialTwice", kFiles, reference() + disk("sdc", "ATK-SYS", windows_volume(kOtherUuid), "OTHER"),
         nullptr, 3,
         {{kFilesSection, "- диск не определен однозначно"}}},
        // A disk whose serial cannot be read is no disk under control (and
        // what the core says of it stays out of the report).
        {"SystemDiskSerialUnreadable", kRegistry | kFiles, "", udev_record_of_sda_gone, 3,
         {{kRegistrySection, not_found}, {kFilesSection, "- диск не найден"}}},
        // A partition whose kernel attributes are incomplete is still one.
        {"PartitionMarkLost", kFiles, "", partition_mark_lost, 0, {{kFilesSection, "/Windows/win.ini - ОК"}}},

        // Stored data that cannot be read, a disk list that cannot be built.
        {"DisksBlockDamaged", kDisks, "", damage_disks_block, 3,
         {{kDisksSection, "Ошибка при восстановлении списка дисков."}}},
        {"DisksBlockHeaderDamaged", kDisks, "", damage_disks_header, 3,
         {{kDisksSection, "Ошибка при восстановлении списка дисков."}}},
        {"FilesBlockDamaged", kFiles, "", damage_files_block, 3,
         {{kFilesSection, "Ошибка при восстановлении списка контроля целостности файлов."}}},
        {"FilesBlockHeaderDamaged", kFiles, "", damage_files_header, 3,
         {{kFilesSection, "Ошибка при восстановлении списка контроля целостности файлов."}}},
        {"RegistryBlockDamaged", kRegistry, "", damage_registry_block, 3,
         {{kRegistrySection, "Ошибка при восстановлении списка контроля целостности реестра."}}},
        {"RegistryBlockHeaderDamaged", kRegistry, "", damage_registry_header, 3,
         {{kRegistrySection, "Ошибка при восстановлении списка контроля целостности реестра."}}},
        {"NoBlockDirectory", kFiles | kRegistry, "", no_block_directory, 3,
         {{kFilesSection, no_disk_list}, {kRegistrySection, no_disk_list}}},
        {"DanglingBlockLink", kFiles | kRegistry, "", dangling_block_link, 3,
         {{kFilesSection, no_disk_list}, {kRegistrySection, no_disk_list}}},
        {"PartitionWithoutNode", kFiles | kRegistry, "", partition_without_node, 3,
         {{kFilesSection, no_disk_list}, {kRegistrySection, no_disk_list}}},
        {"RegistryPathCleared", kRegistry, "", registry_path_cleared, 3, {{kRegistrySection, tree_error}}},

        // Paths from the disk that lead out of the Windows volume.
        {"ProfilePathClimbsOut", kRegistry,
         with_windows_lines(profile_entry("S-1-5-21-9", "%systemdrive%\\\\..\\\\x")), nullptr, 3,
         {{kRegistrySection, "Путь к профилю S-1-5-21-9 (%systemdrive%\\..\\x) выходит за пределы раздела Windows."}}},
        {"ProfilePathClimbsOutOfTheWindowsDirectory", kRegistry,
         with_windows_lines(profile_entry("S-1-5-21-9", "%systemroot%\\\\..\\\\..\\\\x")), nullptr, 3,
         {{kRegistrySection,
           "Путь к профилю S-1-5-21-9 (%systemroot%\\..\\..\\x) выходит за пределы раздела Windows."}}},
        {"UsersHiveLinkedOutByARelativePath", kRegistry,
         with_windows_lines(kIvan, "      symlink /Users/ivan/NTUSER.DAT target=../../../../dev/zero\n"), nullptr, 3,
         {{kRegistrySection, "Путь к файлу реестра /Users/ivan/NTUSER.DAT выходит за пределы раздела Windows."}}},
        {"ProfileDirectoryLinkedToProc", kRegistry,
         with_windows_lines(kIvan, "      symlink /Users target=/proc/self/root\n"), nullptr, 3,
         {{kRegistrySection,
           "Путь к профилю S-1-5-21-7 (%systemdrive%\\Users\\ivan) выходит за пределы раздела Windows."}}},
        {"WindowsDirectoryLinkedToAnotherVolume", kRegistry,
         with_windows_lines("", "      symlink /Windows target=../sdb1/Windows\n"), nullptr, 3,
         {{kRegistrySection, "Путь к файлу реестра /Windows/System32/Config/Software выходит за пределы раздела Windows."}}},
        {"HiveDirectoryLinkedToTheHost", kRegistry,
         with_windows_lines("", "      symlink /Windows/System32/config target=/etc\n"), nullptr, 3,
         {{kRegistrySection, "Путь к файлу реестра /Windows/System32/Config/System выходит за пределы раздела Windows."}}},
        {"ControlledDirectoryLinkedToProc", kFiles, with_files("", "      symlink /Windows/Temp target=/proc/self\n"),
         nullptr, 3, {{kFilesSection, "./Windows/Temp - Каталог отсутствует;"}}},

        // The registry name space: names that are taken, the control set
        // Windows boots.
        {"ProfileNamedAsTheDefaultUser", kRegistry,
         with_windows_lines("        profile .DEFAULT path=\"%systemdrive%\\\\Users\\\\evil\"\n"), nullptr, 3,
         {{kRegistrySection, taken(".DEFAULT")}}},
        {"ProfileSidTwiceInOtherCase", kRegistry,
         with_windows_lines("        profile S-1-5-18 path=\"%systemdrive%\\\\Users\\\\system\"\n" + evil_profile +
                            profile_entry("s-1-5-18", "%systemdrive%\\\\Users\\\\evil", " literal=yes")),
         nullptr, 3, {{kRegistrySection, taken("S-1-5-18")}}},
        {"ProfileNameWithABackslash", kRegistry,
         with_windows_lines(evil_profile + profile_entry(".DEFAULT\\\\Software", "%systemdrive%\\\\Users\\\\evil",
                                                         " literal=yes")),
         nullptr, 3, {{kRegistrySection, taken(".DEFAULT\\Software")}}},
        // Windows boots ControlSet002 (Default); Current still names 001.
        {"DefaultControlSetNotCurrent", kRegistry,
         with_windows_lines("        hive SYSTEM\n"
                            "          key Select\n"
                            "            value Default dword 2\n"
                            "          key \"ControlSet002\\\\Control\\\\IDConfigDB\"\n"
                            "            value CurrentConfig dword 1\n"),
         nullptr, 3,
         {{kRegistrySection, "Набор параметров Select\\Current (ControlSet001) отличается от загружаемого Windows "
                             "Select\\Default (ControlSet002)."}}},
        {"DefaultControlSetAsAString", kRegistry,
         with_windows_lines("        hive SYSTEM\n"
                            "          key Select\n"
                            "            value Default sz 1\n"),
         nullptr, 3, {{kRegistrySection, tree_error}}},
        {"DefaultControlSetMissing", kRegistry,
         with_windows_lines("        hive SYSTEM\n"
                            "          key Select\n"
                            "            value Default dword 9\n"),
         nullptr, 3, {{kRegistrySection, tree_error}}},

        // The checked disk is never written: a journal that needs replay
        // makes the volume one that cannot be mounted; a Windows volume
        // not shut down or hibernated is read as it was left, and said so.
        {"JournalPendingOnTheFilesVolume", kFiles, "", journal_pending, 3,
         {{kFilesSection, "- ошибка при монтировании раздела: 1."}}},
        {"JournalPendingOnTheRegistryVolume", kRegistry, "", journal_pending, 3,
         {{kRegistrySection, kRegistryDir + " - ошибка при монтировании раздела: 1."}}},
        {"JournalPendingOnExt3", kRegistry, "", journal_pending, 3,
         {{kRegistrySection, kRegistryDir + " - ошибка при монтировании раздела: 1."}}, with_windows(ext3)},
        // Orphans the mount would clean up stay as they are.
        {"OrphanListOnTheWindowsVolumeLeftAlone", kFiles, "", orphan_pending, 0,
         {{kFilesSection, "/Windows/win.ini - ОК"}}},
        {"NtfsNotShutDown", 0, with_windows(ntfs_dirty), nullptr, 0,
         {{kFilesSection, "- раздел не был корректно отключен, смонтирован только для чтения;"}}, with_windows(ntfs),
         approve_win_ini_on_disk},
        {"NtfsHibernated", 0, "", nullptr, 0,
         {{kFilesSection, "- Windows в режиме гибернации, раздел смонтирован только для чтения;"}},
         with_windows(hibernated), approve_win_ini_on_disk},

        // Partitions out of control: their boot sectors do not count, the
        // MBR and the partitions under control do.
        {"PartitionOutOfControlChangesItsBootSectors", 0, partitioned("", "changed", "three"), nullptr, 0,
         {{kDisksSection, "- ОК"}}, partitioned("", "two", "three"), approve_hd_but_partition_2},
        {"MbrChangedBesideAPartitionOutOfControl", 0, partitioned("changed", "two", "three"), nullptr, 3,
         {{kDisksSection, "Диск был модифицирован: MBR модифицирована; сектора изменены;"}},
         partitioned("", "two", "three"), approve_hd_but_partition_2},
        {"PartitionUnderControlBesideOneOutOfControl", 0, partitioned("", "two", "changed"), nullptr, 3,
         {{kDisksSection, "Диск был модифицирован: структура изменена;"}}, partitioned("", "two", "three"),
         approve_hd_but_partition_2},
        // Its place in the partition table is the MBR's.
        {"PartitionOutOfControlResized", 0,
         replaced(partitioned("", "two", "three"), "part 2 start=16M size=7M", "part 2 start=16M size=6M"), nullptr, 3,
         {{kDisksSection, "Диск был модифицирован: MBR модифицирована; структура изменена;"}},
         partitioned("", "two", "three"), approve_hd_but_partition_2},

        // A directory under one digest: names that fed the same bytes.
        {"DirectoryNamesShiftedBetweenEntries", 0, with_files("      file /d/a content=X\n      file /d/bc content=Y\n"),
         nullptr, 3, {{kFilesSection, "./d - Целостность каталога нарушена;"}}, with_files(d_ab_c),
         approve_d_names_only},
        {"DirectoryFilesMergedIntoOneNamedWithADigest", 0,
         with_files("      file \"/d/" + merge.merged + "\" content=B\n"), nullptr, 3,
         {{kFilesSection, "./d - Целостность каталога нарушена;"}},
         with_files("      file /d/a content=" + merge.a_content + "\n      file /d/b content=B\n"), approve_d_contents},
        // A list recorded before still verifies as it did, and still
        // catches a change.
        {"ListRecordedBeforeVerifies", 0, "", nullptr, 0, {{kFilesSection, "/d/ab - ОК"}}, with_files(d_ab_c),
         approve_list_recorded_before},
        {"ListRecordedBeforeCatchesAChange", 0, with_files("      file /d/ab content=Z\n      file /d/c content=Y\n"),
         nullptr, 3, {{kFilesSection, "/d/ab - Нарушена целостность;"}}, with_files(d_ab_c),
         approve_list_recorded_before},

        // Sizes known from the list: a changed one is reported without
        // reading the file, and kept whole.
        {"HugeSparseControlledFile", kFiles, "", hosts_of_one_tib, 3,
         {{kFilesSection, "/etc/hosts - Нарушена целостность; Изменен размер;"}}},
        {"HugeSparseFileOfAControlledDirectory", kFiles, "", keep_of_one_tib, 3,
         {{kFilesSection, "./keep.txt - Нарушена целостность; Изменен размер;"}}},
        {"HugeSparseNewFileInAControlledDirectory", kFiles, with_files("      file /Windows/Temp/huge.bin content=x\n"),
         new_file_of_one_tib, 3, {{kFilesSection, "./huge.bin - Новый файл;"}}},
        // A hive's size beyond its bins is not read.
        {"HugeSparseHive", kRegistry, "", software_of_one_tib, 0,
         {{kRegistrySection, "Результат проверки: контроль пройден"}}},
        {"FileGrownBy4GiBUnderAttributes", 0, "", hosts_grown_by_4_gib, 3,
         {{kFilesSection, "/etc/hosts - Изменен размер;"}}, reference(), approve_hosts_attributes},
        {"FileGrownBy4GiBInADirectoryUnderAttributes", 0, "", hosts_grown_by_4_gib, 3,
         {{kFilesSection, "./etc - Целостность каталога нарушена;"}}, reference(), approve_etc_attributes},

        // Names from the disk are shown as they are, never as markup.
        {"HostileNewFileName", kFiles, machine() + system_disk(windows_volume(kSysUuid,
             "      file \"/Windows/Temp/" + hostile_name + "\" content=x\n")) + data_disk(),
         nullptr, 3, {{kFilesSection, "./" + hostile_name + " - Новый файл;"}}},
        {"HostileDirectoryName", kFiles, machine() + system_disk(windows_volume(kSysUuid,
             "      file \"/Windows/Temp/<b>&amp;/evil.txt\" content=x\n")) + data_disk(),
         nullptr, 3, {{kFilesSection, "./<b>&amp;/evil.txt - Новый файл;"}}},
        {"HostileRegistryNames", kRegistryKey,
         with_windows_lines("        hive SOFTWARE\n"
                            "          key Run\n"
                            "            value \"<font color=green>Evil\" sz x\n"
                            "            key \"<b>k\"\n" +
                            profile_entry("<i>S-1-5-21-9", "%systemdrive%\\\\..\\\\x")),
         nullptr, 3,
         {{kRegistrySection, "\\<font color=green>Evil (VALUE_NEW)"},
          {kRegistrySection, "\\<b>k (KEY_NEW)"},
          {kRegistrySection, "Путь к профилю <i>S-1-5-21-9 (%systemdrive%\\..\\x) выходит за пределы раздела Windows."}}},
        // Characters that would break a line, turn the text around or hide
        // are shown as their codes.
        {"ControlCharactersInNames", kFiles | kRegistryKey,
         with_files("      file \"/Windows/Temp/\\x1b[8mx\\xe2\\x80\\xaetxt.exe\" content=x\n", "",
                    "        hive SOFTWARE\n"
                    "          key Run\n"
                    "            value \"Evil\\x0d\\xe2\\x80\\xa8OK\" sz x\n"),
         nullptr, 3,
         {{kFilesSection, "./\\x1b[8mx\\u202etxt.exe - Новый файл;"},
          {kRegistrySection, "\\Evil\\x0d\\u2028OK (VALUE_NEW)"}}},

        // A registered image is let go after every check, passed or failed:
        // its loop device is free and its host volume unmounted (the check
        // could not attach it otherwise, as it did when it was recorded).
        {"ImageLetGoAfterAPassingCheck", 0, "", lend_loop_devices, 0,
         {{kFilesSection, "/data/report.txt - ОК"}}, with_image(), approve_image_file},
        {"ImageLetGoAfterAFailingCheck", 0, with_image("changed"), lend_loop_devices, 3,
         {{kFilesSection, "/data/report.txt - Нарушена целостность; Изменен размер;"}}, with_image(),
         approve_image_file},
        // No loop device free for it, or none that can be bound once its
        // host volume is mounted and the image opened: the volume is let
        // go as well.
        {"ImageWithoutAFreeLoopDevice", 0, "", lend_bound_loop_devices, 3,
         {{kFilesSection, "Невозможно примонтировать образ."}, {kFilesSection, "- диск не найден"}}, with_image(),
         approve_image_file},
        {"ImageLoopDevicesHeldByAnother", 0, "", lend_held_loop_devices, 3,
         {{kFilesSection, "Невозможно примонтировать образ."}, {kFilesSection, "- диск не найден"}}, with_image(),
         approve_image_file},
    };
    add_special_file_rows(rows);
    // Kernels without openat2 resolve paths one component at a time: links
    // are refused there too, with the same lines.
    add_without_openat2_rows(rows, {"ControlledDirectoryLinkedToProc", "HiveDirectoryLinkedToTheHost",
                                    "ProfileDirectoryLinkedToProc", "WindowsDirectoryLinkedToAnotherVolume",
                                    "UsersHiveLinkedOutByARelativePath", "LinkToDevZeroInPlaceOfAControlledFile",
                                    "LinkToDevZeroInPlaceOfAHive", "FifoInPlaceOfAHive"});
    return rows;
}

// ---- Running ------------------------------------------------------------

// SHA-256 of a file's data extents with their places and its size: a
// write anywhere, also into a hole, changes it.
std::string digest_of(const std::string &path)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "unreadable";
    const off_t end = lseek(fd, 0, SEEK_END);
    std::vector<char> buf(1 << 20);
    for (off_t at = 0; at < end;) {
        const off_t data = lseek(fd, at, SEEK_DATA);
        if (data < 0)
            break;
        const off_t hole = lseek(fd, data, SEEK_HOLE);
        hash.addData(QByteArray::number(qint64(data)) + ':');
        for (off_t p = data; p < hole;) {
            const ssize_t n = pread(fd, buf.data(), size_t(std::min<off_t>(off_t(buf.size()), hole - p)), p);
            if (n <= 0)
                break;
            hash.addData(QByteArrayView(buf.data(), n));
            p += n;
        }
        at = hole;
    }
    close(fd);
    hash.addData(QByteArray::number(qint64(end)));
    return hash.result().toHex().toStdString();
}

// Digests of every regular file below the computer's /dev and its loop
// store: the disks and volumes the check reads.
std::map<std::string, std::string> disk_digests(const std::string &root)
{
    std::map<std::string, std::string> digests;
    for (const char *sub : {"/dev", "/.loops"}) {
        if (!fs::exists(root + sub))
            continue;
        for (const fs::directory_entry &e : fs::recursive_directory_iterator(root + sub))
            if (e.is_regular_file() && !e.is_symlink())
                digests[e.path().string()] = digest_of(e.path().string());
    }
    return digests;
}

// Loop devices bound to files below the check's own directory
// (/tmp/fs.….PID), and mounts of that directory or of the computer's
// devices. With release, what is found is also let go (loop devices first:
// they hold files of the mounts), so that a failed row leaves nothing.
std::vector<std::string> left_behind(pid_t check, const std::string &root, bool release = false)
{
    const std::string own = "." + std::to_string(check) + "/";
    auto ours = [&own](const std::string &text, const std::string &dir) {
        const size_t at = text.find(dir + "/tmp/fs.");
        return at != std::string::npos && text.find(own, at) != std::string::npos;
    };
    std::vector<std::string> found;
    for (const fs::directory_entry &e : fs::directory_iterator("/sys/block")) {
        std::ifstream backing(e.path() / "loop/backing_file");
        std::string file;
        if (!std::getline(backing, file) || !ours(file, ""))
            continue;
        found.push_back(e.path().filename().string() + " bound to " + file);
        const int device = release ? open(("/dev/" + e.path().filename().string()).c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (device >= 0) {
            ioctl(device, LOOP_CLR_FD, 0);
            close(device);
        }
    }
    std::ifstream mounts("/proc/self/mounts");
    std::vector<std::string> targets;
    for (std::string line; std::getline(mounts, line);) {
        if (line.rfind(root, 0) != 0 && !ours(line, " "))
            continue;
        found.push_back("mounted: " + line);
        const size_t from = line.find(' ') + 1;
        targets.push_back(line.substr(from, line.find(' ', from) - from));
    }
    for (auto t = targets.rbegin(); release && t != targets.rend(); ++t)
        umount2(t->c_str(), MNT_DETACH);
    return found;
}

class loops_guard {
public:
    explicit loops_guard(std::string root) : root_(std::move(root)) {}
    ~loops_guard()
    {
        simcomputer::Error err;
        if (!simcomputer::detach_loops(root_, err))
            ADD_FAILURE() << err.text();
    }

private:
    std::string root_;
};

// Builds a computer with loop devices behind its volumes and makes it the
// system root.
std::string build_attached(const scene &s, const std::string &description, const std::string &name)
{
    const std::string root = simtest::build_root(s.dir, description, name);
    simcomputer::Error err;
    if (!simcomputer::attach_loops(root, err))
        throw std::runtime_error("loops: " + err.text());
    setenv("ORVA_SYSROOT", root.c_str(), 1);
    return root;
}

// Stores the reference data of the current computer: orva-ic as an
// administrator would use it (the registry of the Windows volume on sda1).
void approve(const scene &s, unsigned stored)
{
    if (stored & kDisks)
        must_run({kOrvaIc, "module", "approve", "hd"});
    if (stored & kFiles)
        approve_files(s, {{kSysUuid, "/Windows/win.ini"}, {kSysUuid, "/Windows/Temp"}, {kDataUuid, "/etc/hosts"}});
    if (stored & (kRegistry | kRegistryKey))
        approve_registry(s, stored & kRegistryKey);
}

class Attack : public ::testing::TestWithParam<scenario> {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: the volumes are mounted through loop devices";
        saved_root_ = getenv("ORVA_SYSROOT") ? getenv("ORVA_SYSROOT") : "";
        setenv("ORVA_SIM_DIR", scene_.module.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("ORVA_SIM_DIR");
        if (saved_root_.empty())
            unsetenv("ORVA_SYSROOT");
        else
            setenv("ORVA_SYSROOT", saved_root_.c_str(), 1);
    }

    scene scene_;
    std::string saved_root_;
};

TEST_P(Attack, CheckFailsClosed)
{
    const scenario &row = GetParam();
    scene &s = scene_;
    must_run({kOrvaSim, "init", "--class", "1"});
    {
        const std::string root = build_attached(s, row.approved, "reference");
        loops_guard loops(root);
        approve(s, row.stored);
        if (row.approve && !HasFatalFailure())
            row.approve(s);
        if (HasFatalFailure())
            return;
    }
    s.root = build_attached(s, row.computer.empty() ? row.approved : row.computer, "checked");
    loops_guard loops(s.root);
    if (row.tamper)
        row.tamper(s);
    if (HasFatalFailure())
        return;

    const auto before = disk_digests(s.root);
    std::vector<std::string> check = {kOrvaIc, "check", "--json"};
    if (row.without_openat2)
        check.insert(check.begin(), kWithoutOpenat2);
    const simtest::Result r = simtest::run_program(check, "/dev/null", "", kTimeLimit);
    // A check ended at the time limit leaves its mounts: they go too.
    const std::vector<std::string> left = left_behind(r.pid, s.root, true);
    ASSERT_FALSE(r.timed_out) << "the check did not end within the time limit";
    EXPECT_EQ(disk_digests(s.root), before) << "the check wrote to a disk";
    EXPECT_EQ(left, std::vector<std::string>());
    ASSERT_EQ(r.status, row.exit) << r.out << r.err;

    const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
    for (const expectation &e : row.sections) {
        QJsonObject section;
        for (const QJsonValue &v : report[QStringLiteral("sections")].toArray())
            if (v[QStringLiteral("title")].toString().toStdString() == e.section)
                section = v.toObject();
        ASSERT_FALSE(section.isEmpty()) << "no section " << e.section << " in " << r.out;
        EXPECT_EQ(section[QStringLiteral("passed")].toBool(), row.exit == 0) << e.section << " in " << r.out;
        EXPECT_TRUE(section[QStringLiteral("lines")].toArray().contains(QString::fromStdString(e.line)))
            << "no line \"" << e.line << "\" in " << e.section << ": " << r.out;
    }
    std::cout << "[ check    ] " << row.name << ": " << r.seconds << " s\n";
    if (getenv("ATTACK_SHOW"))
        std::cout << r.out;
}

INSTANTIATE_TEST_SUITE_P(Rows, Attack, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<scenario> &info) { return info.param.name; });

} // namespace
