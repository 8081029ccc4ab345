// Device-property interface: the records behind the C handles and the backends.
#ifndef IC_SYS_UDEV_IMPL_H
#define IC_SYS_UDEV_IMPL_H

#include "ic/sys/udev.h"
#include "udev_record.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Everything a device answers, taken when it is looked up; sysfs attributes
// are read on demand and kept.
struct ic_sys_udev_device {
    std::string syspath;
    std::string devpath;
    std::string sysname;
    std::optional<std::string> sysnum;
    std::optional<std::string> subsystem;
    std::optional<std::string> devtype;
    std::optional<std::string> devnode;
    bool has_devnum = false;
    unsigned major = 0;
    unsigned minor = 0;
    ic_sys::property_list properties; // sorted by key, keys unique
    std::map<std::string, std::optional<std::string>> attrs;
    std::map<std::string, std::string> texts; // derived texts handed out (block identity)
};

namespace ic_sys {

class udev_backend {
public:
    virtual ~udev_backend() = default;
    // Results are ic_sys codes.
    virtual int device_from_syspath(const char *syspath, ic_sys_udev_device &dev) = 0;
    virtual int device_from_devnum(char type, unsigned major, unsigned minor, ic_sys_udev_device &dev) = 0;
    virtual int enum_block(std::vector<std::string> &syspaths) = 0;
    virtual int settle(unsigned timeout_ms) = 0;
};

std::unique_ptr<udev_backend> make_libudev_backend(int &result);
std::unique_ptr<udev_backend> make_db_backend(int &result);

// Fills the names derived from the syspath: devpath, sysname, sysnum.
void set_names(ic_sys_udev_device &dev, const std::string &syspath);
// Sorts properties by key; a later duplicate replaces an earlier one.
void normalise_properties(property_list &props);

// Reads the first max_text_size bytes of a file through the system root.
// 0, or an errno value.
constexpr size_t max_text_size = 65536;
int read_text(const std::string &path, std::string &out);

// The last component of the target of the link at path; none when path is
// not a readable link.
std::optional<std::string> link_name(const std::string &path);

} // namespace ic_sys

struct ic_sys_udev {
    std::unique_ptr<ic_sys::udev_backend> backend;
};

struct ic_sys_udev_list {
    std::vector<std::string> syspaths;
};

#endif
