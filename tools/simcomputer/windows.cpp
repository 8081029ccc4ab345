// Windows directories: the standard hives with what the system needs to
// start, user profiles with their ntuser.dat, written into any directory.
#include "simcomputer/regf.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <strings.h>
#include <unistd.h>

namespace simcomputer {
namespace {

const char *const kHiveNames[] = {"SYSTEM", "SOFTWARE", "SECURITY", "SAM", "DEFAULT"};

void set(RegKey &key, const char *name, uint32_t type, std::vector<uint8_t> data)
{
    RegValue &v = key.value(utf16(name));
    v.type = type;
    v.data = std::move(data);
}

std::string trim_slashes(std::string s)
{
    while (!s.empty() && s.front() == '/')
        s.erase(s.begin());
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    return s;
}

// The hive file name in dir and its logs, named as Windows names them:
// log_stem with ".LOG1", ".LOG2" or ".LOG" (a profile's "ntuser.dat.LOG1").
void add_hive(std::vector<std::pair<std::string, std::vector<uint8_t>>> &files, const std::string &dir,
              const std::string &name, const std::string &log_stem, const RegHive &hive)
{
    files.emplace_back(dir + name, write_regf(hive));
    for (auto &log : write_regf_logs(hive))
        files.emplace_back(dir + log_stem + log.first, std::move(log.second));
}

} // namespace

RegHive &Windows::hive(const std::string &name)
{
    for (auto &h : hives)
        if (!strcasecmp(h.first.c_str(), name.c_str()))
            return h.second;
    hives.emplace_back(name, RegHive{});
    hives.back().second.file_name = utf16(name);
    return hives.back().second;
}

Windows Windows::with_defaults(const std::string &dir)
{
    Windows w;
    w.dir = dir;
    for (const char *name : kHiveNames)
        w.hive(name);
    RegKey &system = w.hive("SYSTEM").root;
    RegKey &select = system.child(u"Select");
    set(select, "Current", 4, reg_dword(1));
    set(select, "Default", 4, reg_dword(1));
    set(select, "Failed", 4, reg_dword(0));
    set(select, "LastKnownGood", 4, reg_dword(1));
    set(system.child(u"ControlSet001\\Control\\IDConfigDB"), "CurrentConfig", 4, reg_dword(1));
    set(system.child(u"ControlSet001\\Hardware Profiles\\0001"), "FriendlyName", 1, reg_sz(u"Profile 1"));
    set(system.child(u"ControlSet001\\Control\\Session Manager"), "BootExecute", 7,
        reg_multi_sz({u"autocheck autochk *"}));
    system.child(u"ControlSet001\\Services");
    RegKey &software = w.hive("SOFTWARE").root;
    set(software.child(u"Microsoft\\Windows NT\\CurrentVersion"), "ProductName", 1, reg_sz(u"Windows 7 Professional"));
    software.child(u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
    software.child(u"Microsoft\\Windows\\CurrentVersion\\Run");
    software.child(u"Classes");
    w.hive("SECURITY").root.child(u"Policy");
    w.hive("SAM").root.child(u"SAM\\Domains");
    w.hive("DEFAULT").root.child(u"Control Panel");
    return w;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> windows_files(const Windows &w)
{
    const std::string dir = trim_slashes(w.dir);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    Windows copy = w;
    if (w.profile_list) {
        // In the base and in every state the logs lead to.
        RegHive &software = copy.hive("SOFTWARE");
        std::vector<RegKey *> roots{&software.root};
        for (RegLogEntry &e : software.logs.entries)
            roots.push_back(&e.root);
        for (RegKey *root : roots) {
            RegKey &list = root->child(u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
            for (const RegProfile &p : w.profiles)
                set(list.child(utf16(p.sid)), "ProfileImagePath", 2, reg_sz(utf16(p.image_path)));
        }
    }
    for (const auto &h : copy.hives)
        add_hive(files, dir + "/System32/config/", h.first, h.first, h.second);
    for (const RegProfile &p : w.profiles) {
        std::string rel = p.image_path;
        for (char &c : rel)
            if (c == '\\')
                c = '/';
        static const char root[] = "%systemroot%/", drive[] = "%systemdrive%/";
        if (!strncasecmp(rel.c_str(), root, sizeof root - 1))
            rel = dir + "/" + rel.substr(sizeof root - 1);
        else if (!strncasecmp(rel.c_str(), drive, sizeof drive - 1))
            rel = rel.substr(sizeof drive - 1);
        else
            continue; // a path the system cannot resolve: no file
        add_hive(files, trim_slashes(rel) + "/", "NTUSER.DAT", "ntuser.dat", p.hive);
    }
    return files;
}

bool write_windows(const Windows &w, const std::string &root, std::string &message)
{
    for (const auto &f : windows_files(w)) {
        const std::filesystem::path path = std::filesystem::path(root) / f.first;
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) {
            message = "cannot create " + path.parent_path().string() + ": " + ec.message();
            return false;
        }
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = fd >= 0;
        size_t done = 0;
        while (ok && done < f.second.size()) {
            ssize_t n = write(fd, f.second.data() + done, f.second.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            done += ok ? size_t(n) : 0;
        }
        if (fd >= 0 && close(fd) != 0)
            ok = false;
        if (!ok) {
            message = "cannot write " + path.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

} // namespace simcomputer
