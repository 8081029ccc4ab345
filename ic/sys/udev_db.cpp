// Device properties under a system root: sysfs of the root and udev's
// database files <root>/run/udev/data.
#include "ic/sys/sysroot.h"
#include "udev_impl.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace ic_sys {
namespace {

const std::string *find(const property_list &props, const char *key)
{
    for (const auto &p : props)
        if (p.first == key)
            return &p.second;
    return nullptr;
}

bool parse_uint(const std::string &s, unsigned &value)
{
    if (s.empty() || s.size() > 10)
        return false;
    unsigned long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + unsigned(c - '0');
    }
    if (v > UINT_MAX)
        return false;
    value = unsigned(v);
    return true;
}

bool parse_devnum(const std::string &s, unsigned &major, unsigned &minor)
{
    size_t colon = s.find(':');
    return colon != std::string::npos && parse_uint(s.substr(0, colon), major)
           && parse_uint(s.substr(colon + 1), minor);
}

class db_backend final : public udev_backend {
public:
    int device_from_syspath(const char *syspath, ic_sys_udev_device &dev) override
    {
        char canon[PATH_MAX];
        if (!ic_sys_realpath(syspath, canon))
            return errno == ENOENT || errno == ENOTDIR ? IC_SYS_ENOENT : IC_SYS_EIO;
        std::string path(canon);
        if (path.compare(0, 5, "/sys/") != 0)
            return IC_SYS_ENOENT;
        std::string uevent_text;
        int err = read_text(path + "/uevent", uevent_text);
        if (err)
            return err == ENOENT || err == ENOTDIR ? IC_SYS_ENOENT : IC_SYS_EIO;

        set_names(dev, path);
        property_list uevent = parse_uevent(uevent_text);

        dev.subsystem = link_name(path + "/subsystem");
        if (const std::string *t = find(uevent, "DEVTYPE"))
            dev.devtype = *t;

        const std::string *ma = find(uevent, "MAJOR");
        const std::string *mi = find(uevent, "MINOR");
        if (ma && mi) {
            dev.has_devnum = parse_uint(*ma, dev.major) && parse_uint(*mi, dev.minor);
        } else {
            std::string dev_attr;
            if (read_text(path + "/dev", dev_attr) == 0) {
                while (!dev_attr.empty() && dev_attr.back() == '\n')
                    dev_attr.pop_back();
                dev.has_devnum = parse_devnum(dev_attr, dev.major, dev.minor);
            }
        }

        std::string id;
        if (dev.has_devnum)
            id = std::string(dev.subsystem && *dev.subsystem == "block" ? "b" : "c")
                 + std::to_string(dev.major) + ":" + std::to_string(dev.minor);
        else
            id = "+" + dev.subsystem.value_or("") + ":" + dev.sysname;
        std::string db_text;
        err = read_text("/run/udev/data/" + id, db_text);
        if (err && err != ENOENT)
            return IC_SYS_EIO;
        db_record db = parse_db_record(db_text);

        if (!db.node.empty())
            dev.devnode = "/dev/" + db.node;
        else if (const std::string *name = find(uevent, "DEVNAME"))
            dev.devnode = (*name)[0] == '/' ? *name : "/dev/" + *name;

        // The properties libudev shows: the uevent's, the standard ones, then
        // the database's.
        property_list &props = dev.properties;
        props = std::move(uevent);
        props.emplace_back("DEVPATH", dev.devpath);
        if (dev.subsystem)
            props.emplace_back("SUBSYSTEM", *dev.subsystem);
        if (dev.devnode)
            props.emplace_back("DEVNAME", *dev.devnode);
        if (dev.has_devnum) {
            props.emplace_back("MAJOR", std::to_string(dev.major));
            props.emplace_back("MINOR", std::to_string(dev.minor));
        }
        for (auto &p : db.properties)
            props.push_back(std::move(p));
        if (!db.links.empty()) {
            std::string links;
            for (const auto &l : db.links)
                links += (links.empty() ? "/dev/" : " /dev/") + l;
            props.emplace_back("DEVLINKS", links);
        }
        if (!db.initialized_usec.empty())
            props.emplace_back("USEC_INITIALIZED", db.initialized_usec);
        return IC_SYS_OK;
    }

    int device_from_devnum(char type, unsigned major, unsigned minor, ic_sys_udev_device &dev) override
    {
        std::string path = std::string(type == 'b' ? "/sys/dev/block/" : "/sys/dev/char/")
                           + std::to_string(major) + ":" + std::to_string(minor);
        return device_from_syspath(path.c_str(), dev);
    }

    int enum_block(std::vector<std::string> &syspaths) override
    {
        const char *dir = "/sys/class/block";
        struct stat st;
        if (ic_sys_stat(dir, &st) != 0)
            dir = "/sys/block";
        DIR *d = ic_sys_opendir(dir);
        if (!d)
            return errno == ENOENT ? IC_SYS_OK : IC_SYS_EIO;
        int rc = IC_SYS_OK;
        for (;;) {
            errno = 0;
            struct dirent *e = readdir(d);
            if (!e) {
                if (errno != 0)
                    rc = IC_SYS_EIO;
                break;
            }
            if (e->d_name[0] == '.')
                continue;
            std::string entry = std::string(dir) + "/" + e->d_name;
            char canon[PATH_MAX];
            if (!ic_sys_realpath(entry.c_str(), canon) || std::strncmp(canon, "/sys/", 5) != 0)
                continue;
            std::string uevent = std::string(canon) + "/uevent";
            if (ic_sys_stat(uevent.c_str(), &st) == 0)
                syspaths.emplace_back(canon);
        }
        closedir(d);
        return rc;
    }

    int settle(unsigned) override
    {
        return IC_SYS_OK;
    }
};

} // namespace

std::unique_ptr<udev_backend> make_db_backend(int &result)
{
    struct stat st;
    if (ic_sys_stat("/", &st) != 0 || !S_ISDIR(st.st_mode)) {
        result = IC_SYS_EIO;
        return nullptr;
    }
    result = IC_SYS_OK;
    return std::make_unique<db_backend>();
}

} // namespace ic_sys
