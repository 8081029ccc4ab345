// Whole block devices of /sys/block and their media kind.
#include "ic/sys/block.h"
#include "ic/sys/sysroot.h"
#include "udev_impl.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <initializer_list>
#include <new>
#include <string>

namespace {

constexpr const char *block_dir = "/sys/block";
constexpr unsigned floppy_major = 2;

// Leaves out "." and "..".
int skip_dots(const struct dirent *e)
{
    const char *n = e->d_name;
    return !(n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')));
}

struct dirents {
    struct dirent **list = nullptr;
    int count = 0;
    ~dirents()
    {
        for (int i = 0; i < count; ++i)
            std::free(list[i]);
        std::free(list);
    }
};

bool is(const char *value, const char *expected)
{
    return value && std::strcmp(value, expected) == 0;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string trimmed(std::string s)
{
    const char *blanks = " \t";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// udev's escaped form (\xHH for every byte outside [0-9A-Za-z#+-.:=@_]) back
// to text; escapes of control characters and of bytes above 0x7e stay as
// written, so that the text can hold no terminator or control character.
std::string decoded(const char *enc)
{
    std::string out;
    for (const char *p = enc; *p; ++p) {
        if (p[0] == '\\' && p[1] == 'x') {
            const int hi = hex_digit(p[2]), lo = hi < 0 ? -1 : hex_digit(p[3]);
            const int byte = lo < 0 ? -1 : hi * 16 + lo;
            if (byte >= 0x20 && byte <= 0x7e) {
                out += char(byte);
                p += 3;
                continue;
            }
        }
        out += *p;
    }
    return out;
}

// Text of one identity field: the escaped property decoded, else the first
// plain property given, else the sysfs attribute; kept in the device.
const char *identity_text(ic_sys_udev_device *dev, const char *field, const char *enc_key,
                          std::initializer_list<const char *> keys, const char *attr)
{
    auto kept = dev->texts.find(field);
    if (kept != dev->texts.end())
        return kept->second.c_str();
    std::string text;
    if (const char *enc = enc_key ? ic_sys_udev_device_property(dev, enc_key) : nullptr)
        text = trimmed(decoded(enc));
    for (const char *key : keys) {
        if (!text.empty())
            break;
        if (const char *v = ic_sys_udev_device_property(dev, key))
            text = v;
    }
    if (text.empty() && attr)
        if (const char *v = ic_sys_udev_device_sysattr(dev, attr))
            text = trimmed(v);
    return dev->texts.emplace(field, std::move(text)).first->second.c_str();
}

} // namespace

extern "C" {

int ic_sys_block_disks(ic_sys_udev_list **list)
{
    if (!list)
        return IC_SYS_EINVAL;
    *list = nullptr;
    dirents entries;
    entries.count = ic_sys_scandir(block_dir, &entries.list, skip_dots, alphasort);
    if (entries.count < 0) {
        entries.count = 0;
        return IC_SYS_EIO;
    }
    try {
        auto l = std::make_unique<ic_sys_udev_list>();
        for (int i = 0; i < entries.count; ++i) {
            std::string path = std::string(block_dir) + "/" + entries.list[i]->d_name;
            char resolved[PATH_MAX];
            if (!ic_sys_realpath(path.c_str(), resolved) || std::strstr(resolved, "/virtual/"))
                continue;
            l->syspaths.push_back(std::move(path));
        }
        *list = l.release();
        return IC_SYS_OK;
    } catch (const std::bad_alloc &) {
        return IC_SYS_ENOMEM;
    }
}

int ic_sys_block_media(ic_sys_udev_device *device)
{
    unsigned major = 0, minor = 0;
    if (ic_sys_udev_device_devnum(device, &major, &minor) == IC_SYS_OK && major == floppy_major)
        return IC_SYS_MEDIA_FLOPPY;
    if (is(ic_sys_udev_device_property(device, "ID_CDROM"), "1"))
        return IC_SYS_MEDIA_OPTICAL;
    if (is(ic_sys_udev_device_sysattr(device, "removable"), "1"))
        return IC_SYS_MEDIA_REMOVABLE;
    return IC_SYS_MEDIA_FIXED;
}

int ic_sys_block_identity_get(ic_sys_udev_device *device, ic_sys_block_identity *identity)
{
    if (!device || !identity)
        return IC_SYS_EINVAL;
    try {
        identity->vendor = identity_text(device, "vendor", "ID_VENDOR_ENC", {"ID_VENDOR"}, "device/vendor");
        identity->model = identity_text(device, "model", "ID_MODEL_ENC", {"ID_MODEL"}, "device/model");
        identity->revision = identity_text(device, "revision", nullptr, {"ID_REVISION"}, "device/rev");
        identity->serial = identity_text(device, "serial", nullptr, {"ID_SERIAL_SHORT", "ID_SERIAL"}, nullptr);
        return IC_SYS_OK;
    } catch (const std::bad_alloc &) {
        return IC_SYS_ENOMEM;
    }
}

} // extern "C"
