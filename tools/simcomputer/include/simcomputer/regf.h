// Registry hive files (REGF) and Windows directories written from a model:
// the generator's own writer, for simulated computers, tests and benchmarks.
#ifndef SIMCOMPUTER_REGF_H
#define SIMCOMPUTER_REGF_H

#include <cstdint>
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
    uint64_t timestamp = 133000000000000000ull; // FILETIME, 2022-06-17
    bool symlink = false;
    // Security descriptor; nullopt: no security record.
    std::optional<std::vector<uint8_t>> security = default_security();
    RegList list = RegList::auto_;
    RegList sublist = RegList::auto_; // the lists below an "ri"
    unsigned ri_chunk = 0;            // keys per sub-list of an "ri" (0: 500)
    std::vector<RegValue> values;
    std::vector<RegKey> subkeys;

    // The subkey called name (compared case-insensitively for ASCII), made
    // when missing; path components are separated by backslashes.
    RegKey &child(const std::u16string &path);
    RegValue &value(const std::u16string &name); // made when missing
    static std::vector<uint8_t> default_security();
};

struct RegHive {
    RegKey root;
    uint32_t major = 1, minor = 5;
    unsigned ri_threshold = 1000;
    std::u16string file_name; // stored in the base block
};

// The hive file's bytes.
std::vector<uint8_t> write_regf(const RegHive &hive);

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
