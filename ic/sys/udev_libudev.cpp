// Device properties on the real system, through libudev.
#include "ic/sys/sysroot.h"
#include "udev_impl.h"

#include <cerrno>
#include <ctime>
#include <libudev.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ic_sys {
namespace {

struct udev_deleter {
    void operator()(struct udev *u) const { udev_unref(u); }
    void operator()(struct udev_device *d) const { udev_device_unref(d); }
    void operator()(struct udev_enumerate *e) const { udev_enumerate_unref(e); }
    void operator()(struct udev_queue *q) const { udev_queue_unref(q); }
};
template <typename T>
using udev_ptr = std::unique_ptr<T, udev_deleter>;

std::optional<std::string> opt(const char *s)
{
    return s ? std::optional<std::string>(s) : std::nullopt;
}

long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void fill(struct udev_device *ud, ic_sys_udev_device &dev)
{
    const char *syspath = udev_device_get_syspath(ud);
    set_names(dev, syspath ? syspath : "");
    if (const char *name = udev_device_get_sysname(ud))
        dev.sysname = name;
    dev.sysnum = opt(udev_device_get_sysnum(ud));
    dev.subsystem = opt(udev_device_get_subsystem(ud));
    dev.devtype = opt(udev_device_get_devtype(ud));
    dev.devnode = opt(udev_device_get_devnode(ud));
    dev_t num = udev_device_get_devnum(ud);
    dev.has_devnum = num != makedev(0, 0);
    dev.major = major(num);
    dev.minor = minor(num);
    struct udev_list_entry *e;
    udev_list_entry_foreach(e, udev_device_get_properties_list_entry(ud))
    {
        const char *value = udev_list_entry_get_value(e);
        dev.properties.emplace_back(udev_list_entry_get_name(e), value ? value : "");
    }
}

int lookup_failure()
{
    return errno == ENOENT || errno == ENODEV || errno == ENOTDIR ? IC_SYS_ENOENT
           : errno == ENOMEM                                     ? IC_SYS_ENOMEM
                                                                 : IC_SYS_EIO;
}

class libudev_backend final : public udev_backend {
public:
    explicit libudev_backend(udev_ptr<struct udev> u) : udev_(std::move(u)) {}

    int device_from_syspath(const char *syspath, ic_sys_udev_device &dev) override
    {
        errno = 0;
        udev_ptr<struct udev_device> ud(udev_device_new_from_syspath(udev_.get(), syspath));
        if (!ud)
            return lookup_failure();
        fill(ud.get(), dev);
        return IC_SYS_OK;
    }

    int device_from_devnum(char type, unsigned maj, unsigned min, ic_sys_udev_device &dev) override
    {
        errno = 0;
        udev_ptr<struct udev_device> ud(udev_device_new_from_devnum(udev_.get(), type, makedev(maj, min)));
        if (!ud)
            return lookup_failure();
        fill(ud.get(), dev);
        return IC_SYS_OK;
    }

    int enum_block(std::vector<std::string> &syspaths) override
    {
        udev_ptr<struct udev_enumerate> en(udev_enumerate_new(udev_.get()));
        if (!en || udev_enumerate_add_match_subsystem(en.get(), "block") < 0
            || udev_enumerate_scan_devices(en.get()) < 0)
            return IC_SYS_EIO;
        struct udev_list_entry *e;
        udev_list_entry_foreach(e, udev_enumerate_get_list_entry(en.get()))
            syspaths.emplace_back(udev_list_entry_get_name(e));
        return IC_SYS_OK;
    }

    int settle(unsigned timeout_ms) override
    {
        udev_ptr<struct udev_queue> queue(udev_queue_new(udev_.get()));
        if (!queue)
            return IC_SYS_EIO;
        const long long deadline = now_ms() + timeout_ms;
        for (;;) {
            if (udev_queue_get_queue_is_empty(queue.get()))
                return IC_SYS_OK;
            if (now_ms() >= deadline)
                return IC_SYS_ETIMEDOUT;
            usleep(50 * 1000);
        }
    }

private:
    udev_ptr<struct udev> udev_;
};

} // namespace

std::unique_ptr<udev_backend> make_libudev_backend(int &result)
{
    udev_ptr<struct udev> u(udev_new());
    if (!u) {
        result = IC_SYS_EIO;
        return nullptr;
    }
    result = IC_SYS_OK;
    return std::make_unique<libudev_backend>(std::move(u));
}

} // namespace ic_sys
