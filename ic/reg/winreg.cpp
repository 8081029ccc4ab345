// The Windows name space of an installed system: standard hives, the
// control-set links, user profiles and the HKEY_* aliases.
//
// Files are looked up inside one directory tree only (the Windows volume):
// what leaves it, what is not a regular file, a hive left half-written that
// no log recovers, and a profile whose name is taken are not used but kept
// as problems of the name space.
#include "reg_internal.h"

#include "ic/util/unique_fd.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <strings.h>
#include <unistd.h>

namespace {

const reg_char kUserPrefix[] = {'\\', 'R', 'E', 'G', 'I', 'S', 'T', 'R', 'Y', '\\', 'U', 'S', 'E', 'R', '\\', 0};

struct builder {
    reg *space;
    int root_fd;
    std::string windows; // below root_fd, without leading or trailing '/'
    std::string drive;   // the directory above it
};

void add_problem(reg *space, int kind, const std::string &subject, const char *detail = nullptr)
{
    try {
        space->problems.push_back({kind, subject, detail ? std::string(detail) : std::string(), detail != nullptr});
    } catch (const std::bad_alloc &) {
        // The problem is lost, not the name space: the caller fails below on memory anyway.
    }
}

std::string join(const std::string &dir, const std::string &name)
{
    return dir.empty() ? name : dir + "/" + name;
}

// The file at rel (components separated by '/') below base, each component
// matched case-insensitively: its path below the root.  REG_ERR_IO when a
// component is missing, REG_ERR_OUTSIDE for "..", or a link out of the root.
int find_filename_ci(const builder &b, const std::string &base, const std::string &rel, std::string &found)
{
    std::string path = base;
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t end = rel.find('/', pos);
        if (end == std::string::npos)
            end = rel.size();
        const std::string part = rel.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return REG_ERR_OUTSIDE;
        int fd;
        int err = reg_open_below(b.root_fd, path, O_RDONLY | O_DIRECTORY, fd);
        if (err)
            return reg_below_error(err);
        ic_util::unique_fd dir(fd);
        std::string match;
        if (reg_find_name_ci(dir.get(), part, match))
            return REG_ERR_IO;
        path = join(path, match);
    }
    found = path;
    return REG_OK;
}

// The problem that a file's or log's refusal makes, or 0.
int problem_of(int rc)
{
    switch (rc) {
    case REG_ERR_DIRTY:
        return REG_PROBLEM_DIRTY;
    case REG_ERR_OUTSIDE:
        return REG_PROBLEM_OUTSIDE;
    case REG_ERR_NOT_REGULAR:
        return REG_PROBLEM_NOT_REGULAR;
    default:
        return 0;
    }
}

// Mounts the hive file at file (below the root) on point; *mounted tells
// whether it was.  A file that cannot be opened as a hive is skipped; one
// refused for a reason of its own is also a problem.
int mount_file(const builder &b, const std::string &file, const reg_char *point, bool *mounted)
{
    *mounted = false;
    reg_hive *hive;
    reg_recovery rec;
    int rc = reg_create_file_hive_at(b.root_fd, file.c_str(), 0, &hive, &rec);
    const std::string dir = file.substr(0, file.rfind('/') == std::string::npos ? 0 : file.rfind('/'));
    for (unsigned i = 0; i < rec.log_count; ++i)
        if (int kind = problem_of(rec.logs[i].status))
            add_problem(b.space, kind, "/" + join(dir, rec.logs[i].name));
    if (rc == REG_ERR_NOMEM)
        return rc;
    if (rc) {
        if (int kind = problem_of(rc))
            add_problem(b.space, kind, "/" + file);
        return REG_OK;
    }
    reg_key *key;
    rc = reg_create_key_by_abs_path(b.space, point, nullptr, REG_KEY_VOLATILE, &key);
    if (!rc) {
        rc = reg_mount_hive(b.space, point, hive);
        reg_close_key(key);
    }
    reg_close_hive(hive);
    *mounted = rc == REG_OK;
    return rc;
}

int create_link(reg *space, const char *path, const char *target)
{
    reg_key *key;
    int rc = reg_create_key_by_abs_path_u8(space, path, nullptr, REG_KEY_VOLATILE | REG_KEY_SYMLINK, &key);
    if (rc)
        return rc;
    reg_char *wide;
    rc = reg_utf8_to_utf16_alloc(target, &wide);
    if (!rc) {
        static const reg_char name[] = {'S', 'y', 'm', 'b', 'o', 'l', 'i', 'c', 'L', 'i', 'n', 'k',
                                        'V', 'a', 'l', 'u', 'e', 0};
        rc = reg_create_string_value(key, name, REG_LINK, wide, nullptr);
        reg_free_string(wide);
    }
    reg_close_key(key);
    return rc;
}

int read_dword(reg *space, const char *path, const char *name, uint32_t *number)
{
    reg_key *key;
    int rc = reg_open_key_by_abs_path_u8(space, path, 0, &key);
    if (rc)
        return rc;
    reg_value *value;
    rc = reg_open_value_u8(key, name, &value);
    if (!rc) {
        rc = reg_get_dword_value(value, number);
        reg_close_value(value);
    }
    reg_close_key(key);
    return rc;
}

std::string control_set(uint32_t n)
{
    char name[32];
    std::snprintf(name, sizeof name, "ControlSet%03u", n);
    return name;
}

// CurrentControlSet is the set the loader boots: Select\Default (Current
// when there is no Default).  A Current that names another set is a problem.
int link_control_set(reg *space)
{
    static const char select[] = "\\Registry\\Machine\\System\\Select";
    uint32_t current, chosen;
    const int has_current = read_dword(space, select, "Current", &current);
    int rc = read_dword(space, select, "Default", &chosen);
    if (rc == REG_ERR_NOT_FOUND && has_current == REG_OK) {
        chosen = current;
        rc = REG_OK;
    }
    if (rc)
        return rc;
    if (has_current == REG_OK && current != chosen)
        add_problem(space, REG_PROBLEM_CONTROL_SET, control_set(current), control_set(chosen).c_str());
    rc = create_link(space, "\\Registry\\Machine\\System\\CurrentControlSet",
                     ("\\Registry\\Machine\\System\\" + control_set(chosen)).c_str());
    uint32_t config;
    if (!rc)
        rc = read_dword(space, "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\IDConfigDB", "CurrentConfig",
                        &config);
    if (!rc) {
        char target[128];
        std::snprintf(target, sizeof target,
                      "\\Registry\\Machine\\System\\CurrentControlSet\\Hardware Profiles\\%04u", config);
        rc = create_link(space, "\\Registry\\Machine\\System\\CurrentControlSet\\Hardware Profiles\\Current",
                         target);
    }
    return rc;
}

std::string u8(const reg_char *s)
{
    char *text = nullptr;
    std::string out;
    if (reg_utf16_to_utf8_alloc(s, &text) == REG_OK)
        out = text;
    reg_free_string_u8(text);
    return out;
}

// A profile's hive file (below the root) from its ProfileImagePath.
// REG_OK, REG_ERR_IO when it is not of a form resolved or is missing,
// REG_ERR_OUTSIDE when it leaves the volume.
int profile_file(const builder &b, const std::string &image_path, std::string &file)
{
    size_t p = image_path.find_first_not_of(" \t");
    if (p == std::string::npos)
        return REG_ERR_IO;
    std::string rest = image_path.substr(p), base;
    static const char root[] = "%systemroot%\\", drv[] = "%systemdrive%\\";
    if (!strncasecmp(rest.c_str(), root, sizeof root - 1)) {
        base = b.windows;
        rest = rest.substr(sizeof root - 1);
    } else if (!strncasecmp(rest.c_str(), drv, sizeof drv - 1)) {
        base = b.drive;
        rest = rest.substr(sizeof drv - 1);
    } else {
        return REG_ERR_IO;
    }
    rest += "/ntuser.dat";
    for (char &c : rest)
        if (c == '\\')
            c = '/';
    return find_filename_ci(b, base, rest, file);
}

// One profile: its name must be one key name not taken yet below USER.
int mount_profile(const builder &b, reg_key *profile, const reg_char *sid)
{
    std::vector<reg_char> point(kUserPrefix, kUserPrefix + reg_u16strlen(kUserPrefix));
    const size_t len = reg_u16strlen(sid);
    point.insert(point.end(), sid, sid + len);
    point.push_back(0);
    const std::string where = u8(point.data());
    bool taken = len == 0;
    for (size_t i = 0; i < len && !taken; ++i)
        taken = sid[i] == '\\';
    reg_key *existing;
    if (!taken && reg_open_key_by_abs_path(b.space, point.data(), REG_OPEN_LINK, &existing) == REG_OK) {
        reg_close_key(existing);
        taken = true;
    }
    if (taken) {
        add_problem(b.space, REG_PROBLEM_NAME_TAKEN, where);
        return REG_OK;
    }
    static const reg_char image_name[] = {'P', 'r', 'o', 'f', 'i', 'l', 'e', 'I', 'm', 'a', 'g', 'e',
                                          'P', 'a', 't', 'h', 0};
    reg_char *image;
    if (reg_get_string_value(profile, image_name, REG_EXPAND_SZ, &image) != REG_OK)
        return REG_OK;
    const std::string image_path = u8(image);
    reg_free_string(image);
    std::string file;
    const int rc = profile_file(b, image_path, file);
    if (rc == REG_ERR_OUTSIDE)
        add_problem(b.space, REG_PROBLEM_OUTSIDE, image_path, u8(sid).c_str());
    if (rc)
        return REG_OK; // not resolved: skipped
    bool mounted;
    return mount_file(b, file, point.data(), &mounted);
}

int mount_profiles(const builder &b)
{
    reg_key *list;
    int rc = reg_open_key_by_abs_path_u8(
        b.space, "\\REGISTRY\\MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0, &list);
    if (rc)
        return rc;
    reg_key_enum *en;
    rc = reg_create_key_enum(list, 0, &en);
    if (rc) {
        reg_close_key(list);
        return rc;
    }
    for (;;) {
        reg_char *sid;
        reg_key *profile;
        rc = reg_get_next_enum_key(en, &sid, &profile);
        if (rc == REG_ERR_NOT_FOUND) {
            rc = REG_OK;
            break;
        }
        if (rc)
            break;
        rc = mount_profile(b, profile, sid);
        reg_free_name(sid);
        reg_close_key(profile);
        if (rc)
            break;
    }
    reg_destroy_key_enum(en);
    reg_close_key(list);
    return rc;
}

int build(const builder &b)
{
    static const char *const hives[][2] = {
        {"System32/Config/Software", "\\REGISTRY\\MACHINE\\SOFTWARE"},
        {"System32/Config/System", "\\REGISTRY\\MACHINE\\SYSTEM"},
        {"System32/Config/Security", "\\REGISTRY\\MACHINE\\SECURITY"},
        {"System32/Config/Default", "\\REGISTRY\\USER\\.DEFAULT"},
        {"System32/Config/Sam", "\\REGISTRY\\MACHINE\\SAM"},
    };
    bool refused[5] = {};
    for (size_t i = 0; i < 5; ++i) {
        const size_t problems = b.space->problems.size();
        bool mounted = false;
        std::string file;
        int rc = find_filename_ci(b, b.windows, hives[i][0], file);
        if (rc == REG_ERR_OUTSIDE) {
            add_problem(b.space, REG_PROBLEM_OUTSIDE, "/" + join(b.windows, hives[i][0]));
            refused[i] = true;
            continue;
        }
        reg_wide_ptr point;
        if (!rc) {
            reg_char *wide;
            rc = reg_utf8_to_utf16_alloc(hives[i][1], &wide);
            point.reset(wide);
        }
        if (!rc)
            rc = mount_file(b, file, point.get(), &mounted);
        if (rc)
            return rc;
        refused[i] = !mounted && b.space->problems.size() > problems;
    }
    // What depends on a hive refused for a problem is left out with it.
    int rc = REG_OK;
    if (!refused[1])
        rc = link_control_set(b.space);
    if (!rc && !refused[0])
        rc = mount_profiles(b);
    static const char *const aliases[][2] = {
        {"\\HKEY_CLASSES_ROOT", "\\REGISTRY\\MACHINE\\SOFTWARE\\Classes"},
        {"\\HKEY_LOCAL_MACHINE", "\\REGISTRY\\MACHINE"},
        {"\\HKEY_USERS", "\\REGISTRY\\USER"},
        {"\\HKEY_CURRENT_CONFIG", "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current"},
    };
    for (const auto &a : aliases)
        if (!rc)
            rc = create_link(b.space, a[0], a[1]);
    return rc;
}

std::string trimmed(const std::string &path)
{
    size_t from = path.find_first_not_of('/');
    if (from == std::string::npos)
        return std::string();
    size_t to = path.find_last_not_of('/');
    return path.substr(from, to - from + 1);
}

// Builds the name space for the Windows directory windows (below root).
int create_below(const char *root, const std::string &windows, reg **out)
{
    const size_t slash = windows.rfind('/');
    builder b{nullptr, -1, windows, slash == std::string::npos ? std::string() : windows.substr(0, slash)};
    ic_util::unique_fd root_fd(open(root, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root_fd.valid())
        return REG_ERR_IO;
    b.root_fd = root_fd.get();
    int rc = reg_create(&b.space);
    if (rc)
        return rc;
    rc = build(b);
    if (rc) {
        reg_destroy(b.space);
        return rc;
    }
    *out = b.space;
    return REG_OK;
}

} // namespace

int create_winreg(const char *windows_dir, reg **out)
{
    if (!windows_dir || !out)
        return REG_ERR_INVAL;
    std::string dir = windows_dir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos || dir == "/")
        return REG_ERR_IO;
    // Inside the system drive, the directory above the Windows directory.
    return create_below(slash ? dir.substr(0, slash).c_str() : "/", dir.substr(slash + 1), out);
}

int create_winreg_in(const char *volume_root, const char *windows_dir, reg **out)
{
    if (!volume_root || !windows_dir || !out)
        return REG_ERR_INVAL;
    const std::string windows = trimmed(windows_dir);
    if (windows.empty())
        return REG_ERR_IO;
    return create_below(volume_root, windows, out);
}
