// The Windows name space of an installed system: standard hives, the
// control-set links, user profiles and the HKEY_* aliases.
#include "reg_internal.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>

namespace {

// The file at rel (components separated by '/') below dir, each component
// matched case-insensitively.  0, or 1 when a component is missing.
int find_filename_ci(const std::string &dir, const std::string &rel, std::string &found)
{
    std::string path = dir;
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t end = rel.find('/', pos);
        if (end == std::string::npos)
            end = rel.size();
        const std::string part = rel.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty())
            continue;
        DIR *d = opendir(path.c_str());
        if (!d)
            return REG_ERR_IO;
        std::string match;
        while (struct dirent *e = readdir(d)) {
            if (!strcasecmp(e->d_name, part.c_str())) {
                match = e->d_name;
                if (match == part)
                    break;
            }
        }
        closedir(d);
        if (match.empty())
            return REG_ERR_IO;
        path += "/" + match;
    }
    found = path;
    return REG_OK;
}

int mount_file(reg *space, const std::string &file, const char *point)
{
    reg_hive *hive;
    if (reg_create_file_hive(file.c_str(), &hive) != REG_OK)
        return REG_OK; // not a hive: skipped
    reg_key *key;
    int rc = reg_create_key_by_abs_path_u8(space, point, nullptr, REG_KEY_VOLATILE, &key);
    if (!rc) {
        rc = reg_mount_hive_u8(space, point, hive);
        reg_close_key(key);
    }
    reg_close_hive(hive);
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

// A profile's hive file from its ProfileImagePath, or false.
bool profile_file(const std::string &windows_dir, const std::string &drive, const std::string &image_path,
                  std::string &file)
{
    size_t p = image_path.find_first_not_of(" \t");
    if (p == std::string::npos)
        return false;
    std::string rest = image_path.substr(p), base;
    static const char root[] = "%systemroot%\\", drv[] = "%systemdrive%\\";
    if (!strncasecmp(rest.c_str(), root, sizeof root - 1)) {
        base = windows_dir;
        rest = rest.substr(sizeof root - 1);
    } else if (!strncasecmp(rest.c_str(), drv, sizeof drv - 1)) {
        base = drive;
        rest = rest.substr(sizeof drv - 1);
    } else {
        return false;
    }
    rest += "/ntuser.dat";
    for (char &c : rest)
        if (c == '\\')
            c = '/';
    return find_filename_ci(base, rest, file) == REG_OK;
}

int mount_profiles(reg *space, const std::string &windows_dir, const std::string &drive)
{
    reg_key *list;
    int rc = reg_open_key_by_abs_path_u8(
        space, "\\REGISTRY\\MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0, &list);
    if (rc)
        return rc;
    reg_key_enum *en;
    rc = reg_create_key_enum(list, 0, &en);
    if (rc) {
        reg_close_key(list);
        return rc;
    }
    for (;;) {
        char *sid;
        reg_key *profile;
        rc = reg_get_next_enum_key_u8(en, &sid, &profile);
        if (rc == REG_ERR_NOT_FOUND) {
            rc = REG_OK;
            break;
        }
        if (rc)
            break;
        char *image = nullptr;
        std::string file;
        if (reg_get_string_value_u8(profile, "ProfileImagePath", REG_EXPAND_SZ, &image) == REG_OK
            && profile_file(windows_dir, drive, image, file))
            rc = mount_file(space, file, ("\\REGISTRY\\USER\\" + std::string(sid)).c_str());
        reg_free_string_u8(image);
        reg_free_string_u8(sid);
        reg_close_key(profile);
        if (rc)
            break;
    }
    reg_destroy_key_enum(en);
    reg_close_key(list);
    return rc;
}

int build(reg *space, const std::string &windows_dir, const std::string &drive)
{
    static const char *const hives[][2] = {
        {"System32/Config/Software", "\\REGISTRY\\MACHINE\\SOFTWARE"},
        {"System32/Config/System", "\\REGISTRY\\MACHINE\\SYSTEM"},
        {"System32/Config/Security", "\\REGISTRY\\MACHINE\\SECURITY"},
        {"System32/Config/Default", "\\REGISTRY\\USER\\.DEFAULT"},
        {"System32/Config/Sam", "\\REGISTRY\\MACHINE\\SAM"},
    };
    for (const auto &h : hives) {
        std::string file;
        int rc = find_filename_ci(windows_dir, h[0], file);
        if (!rc)
            rc = mount_file(space, file, h[1]);
        if (rc)
            return rc;
    }
    uint32_t current, config;
    int rc = read_dword(space, "\\Registry\\Machine\\System\\Select", "Current", &current);
    char target[128];
    if (!rc) {
        std::snprintf(target, sizeof target, "\\Registry\\Machine\\System\\ControlSet%03u", current);
        rc = create_link(space, "\\Registry\\Machine\\System\\CurrentControlSet", target);
    }
    if (!rc)
        rc = read_dword(space, "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\IDConfigDB",
                        "CurrentConfig", &config);
    if (!rc) {
        std::snprintf(target, sizeof target,
                      "\\Registry\\Machine\\System\\CurrentControlSet\\Hardware Profiles\\%04u", config);
        rc = create_link(space, "\\Registry\\Machine\\System\\CurrentControlSet\\Hardware Profiles\\Current",
                         target);
    }
    if (!rc)
        rc = mount_profiles(space, windows_dir, drive);
    static const char *const aliases[][2] = {
        {"\\HKEY_CLASSES_ROOT", "\\REGISTRY\\MACHINE\\SOFTWARE\\Classes"},
        {"\\HKEY_LOCAL_MACHINE", "\\REGISTRY\\MACHINE"},
        {"\\HKEY_USERS", "\\REGISTRY\\USER"},
        {"\\HKEY_CURRENT_CONFIG", "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current"},
    };
    for (const auto &a : aliases)
        if (!rc)
            rc = create_link(space, a[0], a[1]);
    return rc;
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
    const std::string drive = slash ? dir.substr(0, slash) : "/";
    reg *space;
    int rc = reg_create(&space);
    if (rc)
        return rc;
    rc = build(space, dir, drive);
    if (rc) {
        reg_destroy(space);
        return rc;
    }
    *out = space;
    return REG_OK;
}
