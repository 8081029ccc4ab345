// Device-property interface: the C API over the two backends.
#include "ic/sys/sysroot.h"
#include "udev_impl.h"
#include "ic/util/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace ic_sys {

void set_names(ic_sys_udev_device &dev, const std::string &syspath)
{
    dev.syspath = syspath;
    dev.devpath = syspath.compare(0, 4, "/sys") == 0 ? syspath.substr(4) : syspath;
    size_t slash = syspath.rfind('/');
    dev.sysname = syspath.substr(slash == std::string::npos ? 0 : slash + 1);
    std::replace(dev.sysname.begin(), dev.sysname.end(), '!', '/');
    size_t digits = dev.sysname.size();
    while (digits > 0 && dev.sysname[digits - 1] >= '0' && dev.sysname[digits - 1] <= '9')
        --digits;
    if (digits < dev.sysname.size())
        dev.sysnum = dev.sysname.substr(digits);
    else
        dev.sysnum.reset();
}

void normalise_properties(property_list &props)
{
    std::stable_sort(props.begin(), props.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    property_list unique;
    unique.reserve(props.size());
    for (auto &p : props) {
        if (!unique.empty() && unique.back().first == p.first)
            unique.back().second = std::move(p.second);
        else
            unique.push_back(std::move(p));
    }
    props.swap(unique);
}

int read_text(const std::string &path, std::string &out)
{
    ic_util::unique_fd fd(ic_sys_open(path.c_str(), O_RDONLY, 0));
    if (!fd.valid())
        return errno;
    out.clear();
    char buf[4096];
    while (out.size() < max_text_size) {
        ssize_t n = read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        out.append(buf, size_t(n));
    }
    if (out.size() > max_text_size)
        out.resize(max_text_size);
    return 0;
}

std::optional<std::string> link_name(const std::string &path)
{
    char target[PATH_MAX];
    ssize_t n = ic_sys_readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return std::nullopt;
    std::string value(target, size_t(n));
    size_t slash = value.rfind('/');
    return slash == std::string::npos ? value : value.substr(slash + 1);
}

} // namespace ic_sys

namespace {

bool safe_attr_name(const char *name)
{
    if (!name || !name[0] || name[0] == '/')
        return false;
    for (const char *p = name; *p;) {
        const char *end = std::strchr(p, '/');
        size_t len = end ? size_t(end - p) : std::strlen(p);
        if (len == 0 || (len == 2 && p[0] == '.' && p[1] == '.'))
            return false;
        p += len;
        if (*p == '/')
            ++p;
    }
    return true;
}

std::optional<std::string> read_attr(const std::string &path, const char *name)
{
    struct stat st;
    if (ic_sys_lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    if (S_ISLNK(st.st_mode)) {
        if (std::strcmp(name, "driver") != 0 && std::strcmp(name, "subsystem") != 0
            && std::strcmp(name, "module") != 0)
            return std::nullopt;
        return ic_sys::link_name(path);
    }
    std::string value;
    if (!S_ISREG(st.st_mode) || ic_sys::read_text(path, value) != 0)
        return std::nullopt;
    value.resize(std::strlen(value.c_str()));
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

const char *opt(const std::optional<std::string> &s)
{
    return s ? s->c_str() : nullptr;
}

int make_device(ic_sys_udev *udev, ic_sys_udev_device **device,
                int (*lookup)(ic_sys::udev_backend &, ic_sys_udev_device &, const void *), const void *arg)
{
    if (!udev || !device)
        return IC_SYS_EINVAL;
    *device = nullptr;
    try {
        auto dev = std::make_unique<ic_sys_udev_device>();
        int rc = lookup(*udev->backend, *dev, arg);
        if (rc != IC_SYS_OK)
            return rc;
        ic_sys::normalise_properties(dev->properties);
        *device = dev.release();
        return IC_SYS_OK;
    } catch (const std::bad_alloc &) {
        return IC_SYS_ENOMEM;
    }
}

struct devnum_arg {
    char type;
    unsigned major, minor;
};

} // namespace

extern "C" {

int ic_sys_udev_create(ic_sys_udev **udev)
{
    if (!udev)
        return IC_SYS_EINVAL;
    *udev = nullptr;
    try {
        auto ctx = std::make_unique<ic_sys_udev>();
        int rc = IC_SYS_OK;
        ctx->backend = ic_sys_root() ? ic_sys::make_db_backend(rc) : ic_sys::make_libudev_backend(rc);
        if (!ctx->backend)
            return rc != IC_SYS_OK ? rc : IC_SYS_EIO;
        *udev = ctx.release();
        return IC_SYS_OK;
    } catch (const std::bad_alloc &) {
        return IC_SYS_ENOMEM;
    }
}

void ic_sys_udev_destroy(ic_sys_udev *udev)
{
    delete udev;
}

int ic_sys_udev_settle(ic_sys_udev *udev, unsigned timeout_ms)
{
    if (!udev)
        return IC_SYS_EINVAL;
    return udev->backend->settle(timeout_ms);
}

int ic_sys_udev_device_from_syspath(ic_sys_udev *udev, const char *syspath, ic_sys_udev_device **device)
{
    if (!syspath || syspath[0] != '/')
        return IC_SYS_EINVAL;
    return make_device(udev, device,
                       [](ic_sys::udev_backend &b, ic_sys_udev_device &d, const void *a) {
                           return b.device_from_syspath(static_cast<const char *>(a), d);
                       },
                       syspath);
}

int ic_sys_udev_device_from_devnum(ic_sys_udev *udev, char type, unsigned major, unsigned minor,
                                   ic_sys_udev_device **device)
{
    if (type != 'b' && type != 'c')
        return IC_SYS_EINVAL;
    devnum_arg arg{type, major, minor};
    return make_device(udev, device,
                       [](ic_sys::udev_backend &b, ic_sys_udev_device &d, const void *a) {
                           auto *n = static_cast<const devnum_arg *>(a);
                           return b.device_from_devnum(n->type, n->major, n->minor, d);
                       },
                       &arg);
}

void ic_sys_udev_device_destroy(ic_sys_udev_device *device)
{
    delete device;
}

const char *ic_sys_udev_device_syspath(const ic_sys_udev_device *d) { return d ? d->syspath.c_str() : nullptr; }
const char *ic_sys_udev_device_devpath(const ic_sys_udev_device *d) { return d ? d->devpath.c_str() : nullptr; }
const char *ic_sys_udev_device_sysname(const ic_sys_udev_device *d) { return d ? d->sysname.c_str() : nullptr; }
const char *ic_sys_udev_device_sysnum(const ic_sys_udev_device *d) { return d ? opt(d->sysnum) : nullptr; }
const char *ic_sys_udev_device_subsystem(const ic_sys_udev_device *d) { return d ? opt(d->subsystem) : nullptr; }
const char *ic_sys_udev_device_devtype(const ic_sys_udev_device *d) { return d ? opt(d->devtype) : nullptr; }
const char *ic_sys_udev_device_devnode(const ic_sys_udev_device *d) { return d ? opt(d->devnode) : nullptr; }

int ic_sys_udev_device_devnum(const ic_sys_udev_device *d, unsigned *major, unsigned *minor)
{
    if (!d || !major || !minor)
        return IC_SYS_EINVAL;
    if (!d->has_devnum)
        return IC_SYS_ENOENT;
    *major = d->major;
    *minor = d->minor;
    return IC_SYS_OK;
}

const char *ic_sys_udev_device_property(ic_sys_udev_device *d, const char *key)
{
    if (!d || !key)
        return nullptr;
    auto it = std::lower_bound(d->properties.begin(), d->properties.end(), key,
                               [](const auto &p, const char *k) { return p.first < k; });
    return it != d->properties.end() && it->first == key ? it->second.c_str() : nullptr;
}

size_t ic_sys_udev_device_property_count(ic_sys_udev_device *d)
{
    return d ? d->properties.size() : 0;
}

int ic_sys_udev_device_property_at(ic_sys_udev_device *d, size_t index, const char **key, const char **value)
{
    if (!d || !key || !value || index >= d->properties.size())
        return IC_SYS_EINVAL;
    *key = d->properties[index].first.c_str();
    *value = d->properties[index].second.c_str();
    return IC_SYS_OK;
}

const char *ic_sys_udev_device_sysattr(ic_sys_udev_device *d, const char *name)
{
    if (!d || !safe_attr_name(name))
        return nullptr;
    try {
        auto it = d->attrs.find(name);
        if (it == d->attrs.end())
            it = d->attrs.emplace(name, read_attr(d->syspath + "/" + name, name)).first;
        return opt(it->second);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

int ic_sys_udev_enum_block(ic_sys_udev *udev, ic_sys_udev_list **list)
{
    if (!udev || !list)
        return IC_SYS_EINVAL;
    *list = nullptr;
    try {
        auto l = std::make_unique<ic_sys_udev_list>();
        int rc = udev->backend->enum_block(l->syspaths);
        if (rc != IC_SYS_OK)
            return rc;
        std::sort(l->syspaths.begin(), l->syspaths.end());
        l->syspaths.erase(std::unique(l->syspaths.begin(), l->syspaths.end()), l->syspaths.end());
        *list = l.release();
        return IC_SYS_OK;
    } catch (const std::bad_alloc &) {
        return IC_SYS_ENOMEM;
    }
}

size_t ic_sys_udev_list_count(const ic_sys_udev_list *list)
{
    return list ? list->syspaths.size() : 0;
}

const char *ic_sys_udev_list_syspath(const ic_sys_udev_list *list, size_t index)
{
    return list && index < list->syspaths.size() ? list->syspaths[index].c_str() : nullptr;
}

void ic_sys_udev_list_destroy(ic_sys_udev_list *list)
{
    delete list;
}

} // extern "C"
