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
// kRegistry), the computer at the check (empty: the approved one;
// build it from the pieces below), an optional tamper function run on the
// scene after that computer is built, the exit status, the sections with
// one line each (the plain text `orva-ic check --json` shows), and, when
// the approved computer is not reference(), that one.
#include "process.h"
#include "sim_root.h"

#include <orva.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kOrvaIc = ORVA_IC_PATH;
const std::string kOrvaSim = ORVA_SIM_PATH;

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
enum : unsigned { kDisks = 1, kFiles = 2, kRegistry = 4 };

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
// /Windows/win.ini and the directory /Windows/Temp; `files` adds lines.
std::string windows_volume(const std::string &uuid = kSysUuid, const std::string &files = "",
                           const std::string &updater = "C:\\\\updater.exe", const std::string &part = "1 start=1M")
{
    return "  part " + part + " size=14M\n"
           "    fs ext4 uuid=" + uuid + "\n"
           "      file /Windows/win.ini content=alpha\n"
           "      file /Windows/Temp/keep.txt content=keep\n" + files +
           "      windows /Windows\n"
           "        hive SOFTWARE\n"
           "          key Run\n"
           "            value Updater sz \"" + updater + "\"\n";
}

// A fixed disk on the SATA controller holding `volumes`.
std::string disk(const std::string &name, const std::string &serial, const std::string &volumes,
                 const std::string &model = "ATTACK")
{
    return "disk " + name + " size=32M controller=0000:00:1f.2 vendor=ATA model=" + model + " serial=\"" + serial +
           "\"\n" + volumes;
}

std::string system_disk(const std::string &volumes = windows_volume(), const std::string &serial = "ATK-SYS")
{
    return disk("sda", serial, volumes);
}

// sdb: /etc/hosts on one ext4 volume. (Virtual-disk images are not
// attached in a simulated computer: it has no loop devices of its own.)
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
};

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
void no_block_directory(scene &s) { fs::rename(s.root + "/sys/class/block", s.root + "/sys/class/block.gone"); }
void dangling_block_link(scene &s) { fs::create_symlink("../../devices/nowhere/sdz", s.root + "/sys/class/block/sdz"); }
void partition_mark_lost(scene &s) { fs::remove(s.sys_block("sda1") / "partition"); }
void partition_without_node(scene &s)
{
    std::ofstream(s.sys_block("sdb1") / "uevent", std::ios::trunc) << "MAJOR=8\nMINOR=17\nDEVTYPE=partition\n";
}
// Registry control on, the Windows directory's path gone.
void registry_path_cleared(scene &s)
{
    ASSERT_EQ(simtest::run_program({kOrvaIc, "module", "approve", "reg", kSysUuid, "", s.dir / "registry.rcl"}).status, 0);
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
};

std::ostream &operator<<(std::ostream &out, const scenario &s)
{
    return out << s.name;
}

std::vector<scenario> scenarios()
{
    const std::string not_found = kRegistryDir + " - раздел не найден";
    const std::string ambiguous = kRegistryDir + " - раздел не определен однозначно";
    const std::string no_disk_list = "Ошибка получения списка разделов дисков.";
    const std::string clone = windows_volume(kSysUuid, "", "C:\\\\evil.exe");
    const std::string second_clone = windows_volume(kSysUuid, "", "C:\\\\evil.exe", "2 start=16M");
    const std::string hostile_name = "<font color=green>x.txt - ОК";
    return {
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
        // A changed clone on another disk is told apart by the stored disk.
        {"RegistryCloneElsewhereIgnored", kRegistry,
         machine() + disk("sda", "ATK-EVIL", clone) + disk("sdb", "ATK-SYS", windows_volume()) +
             data_disk(kDataUuid, "sdc"),
         nullptr, 0, {{kRegistrySection, "Результат проверки: контроль пройден"}}},
        {"FilesPartitionDeleted", kFiles, machine() + disk("sda", "ATK-SYS", "") + data_disk(), nullptr, 3,
         {{kFilesSection, "- раздел не найден"}}},
        {"FilesDiskSerialTwice", kFiles, reference() + disk("sdc", "ATK-SYS", windows_volume(kOtherUuid), "OTHER"),
         nullptr, 3,
         {{kFilesSection, "- диск не определен однозначно"}}},
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
        {"NoBlockDirectory", kFiles | kRegistry, "", no_block_directory, 3,
         {{kFilesSection, no_disk_list}, {kRegistrySection, no_disk_list}}},
        {"DanglingBlockLink", kFiles | kRegistry, "", dangling_block_link, 3,
         {{kFilesSection, no_disk_list}, {kRegistrySection, no_disk_list}}},
        {"PartitionWithoutNode", kFiles | kRegistry, "", partition_without_node, 3,
         {{kFilesSection, no_disk_list}, {kRegistrySection, no_disk_list}}},
        {"RegistryPathCleared", kRegistry, "", registry_path_cleared, 3,
         {{kRegistrySection, "-ошибка построения дерева реестра."}}},

        // Names from the disk are shown as they are, never as markup.
        {"HostileNewFileName", kFiles, machine() + system_disk(windows_volume(kSysUuid,
             "      file \"/Windows/Temp/" + hostile_name + "\" content=x\n")) + data_disk(),
         nullptr, 3, {{kFilesSection, "./" + hostile_name + " - Новый файл;"}}},
        {"HostileDirectoryName", kFiles, machine() + system_disk(windows_volume(kSysUuid,
             "      file \"/Windows/Temp/<b>&amp;/evil.txt\" content=x\n")) + data_disk(),
         nullptr, 3, {{kFilesSection, "./<b>&amp;/evil.txt - Новый файл;"}}},
    };
}

// ---- Running ------------------------------------------------------------

void must_run(const std::vector<std::string> &args)
{
    const simtest::Result r = simtest::run_program(args);
    ASSERT_EQ(r.status, 0) << args[0] << " " << args[1] << ": " << r.out << r.err;
}

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
// devices.
std::vector<std::string> left_behind(pid_t check, const std::string &root)
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
        if (std::getline(backing, file) && ours(file, ""))
            found.push_back(e.path().filename().string() + " bound to " + file);
    }
    std::ifstream mounts("/proc/self/mounts");
    for (std::string line; std::getline(mounts, line);)
        if (line.rfind(root, 0) == 0 || ours(line, " "))
            found.push_back("mounted: " + line);
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
    if (stored & kFiles) {
        const std::string list = s.dir / "files.icl";
        must_run({kOrvaIc, "fs", "add", "--list", list, kSysUuid, "/Windows/win.ini"});
        must_run({kOrvaIc, "fs", "add", "--list", list, kSysUuid, "/Windows/Temp"});
        must_run({kOrvaIc, "fs", "add", "--list", list, kDataUuid, "/etc/hosts"});
        must_run({kOrvaIc, "module", "approve", "fs", list});
    }
    if (stored & kRegistry) {
        // The registry list is taken from the volume mounted read-only.
        const std::string volume = s.dir / "volume", list = s.dir / "registry.rcl";
        fs::create_directory(volume);
        const std::string node = std::string(getenv("ORVA_SYSROOT")) + "/dev/sda1";
        ASSERT_EQ(mount(node.c_str(), volume.c_str(), "ext4", MS_RDONLY | MS_NODEV | MS_NOSUID | MS_NOEXEC, nullptr),
                  0)
            << node;
        const simtest::Result r = simtest::run_program(
            {kOrvaIc, "rcl", "add", list, volume + "/Windows", "value", "\\REGISTRY\\MACHINE\\SOFTWARE\\Run", "Updater"});
        umount2(volume.c_str(), 0);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        must_run({kOrvaIc, "module", "approve", "reg", kSysUuid, "/Windows", list});
    }
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
    const simtest::Result r = simtest::run_program({kOrvaIc, "check", "--json"}, "/dev/null", "", kTimeLimit);
    ASSERT_FALSE(r.timed_out) << "the check did not end within the time limit";
    EXPECT_EQ(disk_digests(s.root), before) << "the check wrote to a disk";
    EXPECT_EQ(left_behind(r.pid, s.root), std::vector<std::string>());
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
}

INSTANTIATE_TEST_SUITE_P(Rows, Attack, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<scenario> &info) { return info.param.name; });

} // namespace
