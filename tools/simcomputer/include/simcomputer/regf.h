// Registry hive files (REGF) and Windows directories written from a model:
// the generator's own writer, for simulated computers, tests and benchmarks.
#ifndef SIMCOMPUTER_REGF_H
#define SIMCOMPUTER_REGF_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace simcomputer {

// How a key's subkey list is stored.  auto_: "lf" in version 1.3 hives,
// "lh" from 1.4, an "ri" over such lists above ri_threshold subkeys.
enum class RegList { auto_, li, lf, lh, ri };

enum class RegNameForm { auto_, narrow, wide }; // auto_: 8-bit when every unit < 256

struct RegValue {
    std::u16string name;
    RegNameForm form = RegNameForm::auto_;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    // The record's data-size field as written, with the data inline in the
    // offset field (first 4 bytes of data): for broken records in tests.
    std::optional<uint32_t> raw_size;
};

struct RegKey {
    std::u16string name;
    RegNameForm form = RegNameForm::auto_;
    std::optional<std::u16string> class_name;
    static constexpr uint64_t kDefaultTimestamp = 133000000000000000ull; // FILETIME, 2022-06-17
    uint64_t timestamp = kDefaultTimestamp;
    bool symlink = false;
    // Security descriptor; nullopt: no security record.
    std::optional<std::vector<uint8_t>> security = default_security();
    RegList list = RegList::auto_;
    RegList sublist = RegList::auto_; // the lists below an "ri"
    unsigned ri_chunk = 0;            // keys per sub-list of an "ri" (0: 500)
    std::vector<RegValue> values;
    std::vector<RegKey> subkeys;
    // No path names it: its name is taken whole (backslashes too) and it
    // stands beside a key whose name differs only in case, as in a hive
    // that was written by hand.
    bool literal = false;

    // The subkey called name (compared case-insensitively for ASCII; literal
    // keys aside), made when missing; path components are separated by
    // backslashes.
    RegKey &child(const std::u16string &path);
    RegKey *find(const std::u16string &path);    // null when missing
    const RegKey *find(const std::u16string &path) const;
    RegValue &value(const std::u16string &name); // made when missing
    bool remove(const std::u16string &path);     // a subkey and its tree; false when missing
    bool remove_value(const std::u16string &name);
    static std::vector<uint8_t> default_security();
};

// Transaction logs beside a hive file.  old_: a dirty-page bitmap
// ("DIRT") in NAME.LOG1 and NAME.LOG2, as Windows Vista and 7 write them;
// old_single: the same in one NAME.LOG (Windows XP); new_: log entries
// ("HvLE") in NAME.LOG1 and NAME.LOG2 (Windows 8.1 on).
enum class RegLogFormat { none, old_, old_single, new_ };

// A check of a log entry that fails: the Marvin32 hash of its pages, the
// hash of its header, its signature, or a hive bins size that is not a
// multiple of 4096.  Replay stops before such an entry.
enum class RegLogDamage { none, hash1, hash2, signature, bins_size };

// One write of the hive that its logs record.
struct RegLogEntry {
    RegKey root;       // the hive's keys once the write is applied
    uint64_t time = 0; // when it was written (FILETIME); 0: an hour per entry after the base block's time
    unsigned file = 1; // 1: NAME.LOG1 (NAME.LOG in the single-log form), 2: NAME.LOG2
    // A write of an earlier round: changes on the base, numbered before it;
    // it never applies.  New format: stale entries in a file follow its
    // current ones (remnants); old format: a log holds current writes or
    // stale ones, and a stale log carries an earlier last-written time.
    bool stale = false;
    RegLogDamage damage = RegLogDamage::none; // new format only
};

struct RegLogs {
    RegLogFormat format = RegLogFormat::none;
    std::vector<RegLogEntry> entries; // in the order they were written
    // The base file's sequence numbers differ, so Windows replays the logs.
    // Default: dirty when a current entry exists.
    std::optional<bool> dirty;
    // The base block was torn while the write began: its primary sequence
    // number is new, its checksum the old one.  A log's copy repairs it.
    bool torn = false;
    bool empty_files = false; // a log without entries is a 0-byte file (else there is none)
};

struct RegHive {
    RegKey root;
    uint32_t major = 1, minor = 5;
    unsigned ri_threshold = 1000;
    std::u16string file_name; // stored in the base block
    // Base block: both sequence numbers of the last complete write, the
    // last-written time (0: the root key's timestamp), and whether the
    // first hive bin repeats that time, as Windows writes it.
    uint32_t sequence = 1;
    uint64_t written = 0;
    bool bin_written = false;
    // With logs, root is the base: what the hive file holds.
    RegLogs logs;
};

// The hive file's bytes: the base, dirty when its logs say so.
std::vector<uint8_t> write_regf(const RegHive &hive);

// The hive's logs: (suffix, bytes), the suffix ".LOG1", ".LOG2" or ".LOG"
// to append to the hive file's name.  The hive and its logs must pass
// regf_log_error.
std::vector<std::pair<std::string, std::vector<uint8_t>>> write_regf_logs(const RegHive &hive);

// What Windows loads: the base with the writes of the logs that apply, as
// a clean hive without logs whose hive bins are byte for byte those that
// replaying the logs gives.  Nothing for a dirty hive that no log recovers.
std::optional<RegHive> final_state(const RegHive &hive);

// Why the logs of the hive cannot be written as described; empty when they can.
std::string regf_log_error(const RegHive &hive);

// Appends a write to the hive's logs: entry (its file, staleness, damage,
// time) with the state before it (the last entry of its kind, or the base)
// as change leaves it, the keys it changed stamped with its time.
RegLogEntry &add_log_entry(RegHive &hive, RegLogEntry entry, const std::function<void(RegKey &)> &change);

// Marvin32 of data with the seed, as the log entries' hashes use it.
uint64_t marvin32(uint64_t seed, const uint8_t *data, size_t size);

// Value data helpers.
std::vector<uint8_t> reg_sz(const std::u16string &s); // UTF-16LE with the terminating unit
std::vector<uint8_t> reg_dword(uint32_t v);
std::vector<uint8_t> reg_qword(uint64_t v);
std::vector<uint8_t> reg_multi_sz(const std::vector<std::u16string> &strings);
std::u16string utf16(const std::string &utf8);

// A Windows installation: its standard hives and user profiles.
struct RegProfile {
    std::string sid;
    std::string image_path; // ProfileImagePath, "%systemdrive%\Users\name"
    RegHive hive;           // its ntuser.dat
};

struct Windows {
    std::string dir = "/Windows"; // path of the Windows directory on its volume
    // Hive name ("SYSTEM", "SOFTWARE", "SECURITY", "SAM", "DEFAULT") and its
    // contents; the defaults hold what the system needs to start.
    std::vector<std::pair<std::string, RegHive>> hives;
    std::vector<RegProfile> profiles;
    bool profile_list = true; // write the profiles into SOFTWARE's ProfileList

    RegHive &hive(const std::string &name);
    static Windows with_defaults(const std::string &dir);
};

// Files of the installation, paths relative to the volume's root
// ("Windows/System32/config/SYSTEM", "Users/ivan/NTUSER.DAT").
std::vector<std::pair<std::string, std::vector<uint8_t>>> windows_files(const Windows &w);

// Writes the files below root (the volume's root directory).  False with
// message set on failure.
bool write_windows(const Windows &w, const std::string &root, std::string &message);

} // namespace simcomputer

#endif
