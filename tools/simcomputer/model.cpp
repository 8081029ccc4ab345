// Description to model: one handler per keyword, strict about what it accepts.
#include "description.h"
#include "internal.h"
#include "simcomputer/simcomputer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace simcomputer {
namespace {

[[noreturn]] void fail(int line, const std::string &message)
{
    throw description_error{line, message};
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_hex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool parse_unsigned(const std::string &s, int base, uint64_t &value)
{
    if (s.empty() || s[0] == '-' || s[0] == '+' || std::isspace(static_cast<unsigned char>(s[0])))
        return false;
    // Base 0 means decimal, or hexadecimal after 0x; never octal.
    const char *digits = s.c_str();
    if (base == 0) {
        base = 10;
        if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            base = 16;
            digits += 2;
        }
    }
    if (!std::isxdigit(static_cast<unsigned char>(*digits)))
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(digits, &end, base);
    if (errno != 0 || *end != '\0')
        return false;
    value = v;
    return true;
}

// Attributes of one line; every attribute must be used by its handler.
class Attrs {
public:
    explicit Attrs(const Node &node) : node_(node), used_(node.attrs.size(), false) {}

    const std::string *get(const char *key)
    {
        for (size_t i = 0; i < node_.attrs.size(); ++i)
            if (node_.attrs[i].first == key) {
                used_[i] = true;
                return &node_.attrs[i].second;
            }
        return nullptr;
    }
    bool has(const char *key) const
    {
        for (const auto &a : node_.attrs)
            if (a.first == key)
                return true;
        return false;
    }
    std::string str(const char *key, const std::string &def = {})
    {
        const std::string *v = get(key);
        return v ? *v : def;
    }
    // Decimal, or hexadecimal with 0x.
    uint64_t num(const char *key, uint64_t def, uint64_t max)
    {
        const std::string *v = get(key);
        if (!v)
            return def;
        uint64_t n;
        if (!parse_unsigned(*v, 0, n) || n > max)
            bad(key, *v);
        return n;
    }
    // Hexadecimal, 0x optional (identifiers as lspci and sysfs show them).
    uint64_t hex(const char *key, uint64_t def, uint64_t max)
    {
        const std::string *v = get(key);
        if (!v)
            return def;
        return hex_value(key, *v, max);
    }
    uint64_t required_hex(const char *key, uint64_t max)
    {
        const std::string *v = get(key);
        if (!v)
            fail(node_.line, node_.keyword + ": " + key + "= is required");
        return hex_value(key, *v, max);
    }
    // Bytes with an optional binary suffix K, M, G or T.
    uint64_t size(const char *key, uint64_t def)
    {
        const std::string *v = get(key);
        if (!v)
            return def;
        uint64_t n;
        if (!parse_size(*v, n))
            bad(key, *v);
        return n;
    }
    bool flag(const char *key, bool def)
    {
        const std::string *v = get(key);
        if (!v)
            return def;
        if (*v == "yes" || *v == "1" || *v == "true")
            return true;
        if (*v == "no" || *v == "0" || *v == "false")
            return false;
        bad(key, *v);
    }
    template <typename T>
    T choice(const char *key, T def, const std::map<std::string, T> &names)
    {
        const std::string *v = get(key);
        if (!v)
            return def;
        auto it = names.find(*v);
        if (it == names.end())
            bad(key, *v);
        return it->second;
    }
    void finish() const
    {
        for (size_t i = 0; i < used_.size(); ++i)
            if (!used_[i])
                fail(node_.line, node_.keyword + ": unknown attribute " + node_.attrs[i].first);
    }
    [[noreturn]] void bad(const char *key, const std::string &value) const
    {
        fail(node_.line, node_.keyword + ": bad value for " + key + ": " + value);
    }

    static bool parse_size(const std::string &v, uint64_t &n)
    {
        if (v.empty())
            return false;
        std::string digits = v;
        unsigned shift = 0;
        switch (std::toupper(static_cast<unsigned char>(v.back()))) {
        case 'K': shift = 10; break;
        case 'M': shift = 20; break;
        case 'G': shift = 30; break;
        case 'T': shift = 40; break;
        default: break;
        }
        if (shift)
            digits.pop_back();
        if (!parse_unsigned(digits, 0, n) || (shift && n > (UINT64_MAX >> shift)))
            return false;
        n <<= shift;
        return true;
    }

private:
    uint64_t hex_value(const char *key, const std::string &v, uint64_t max) const
    {
        std::string digits = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X') ? v.substr(2) : v;
        uint64_t n;
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), is_hex)
            || !parse_unsigned(digits, 16, n) || n > max)
            bad(key, v);
        return n;
    }

    const Node &node_;
    std::vector<bool> used_;
};

void no_args(const Node &n)
{
    if (!n.args.empty())
        fail(n.line, n.keyword + ": unexpected argument " + n.args[0]);
}

void no_children(const Node &n)
{
    if (!n.children.empty())
        fail(n.children[0].line, n.keyword + " has no nested lines");
}

const std::string &one_arg(const Node &n, const char *what)
{
    if (n.args.size() != 1)
        fail(n.line, n.keyword + ": expected one argument, " + what);
    return n.args[0];
}

bool parse_pci_address(const std::string &s, PciFunction &f)
{
    // DDDD:BB:DD.F exactly, as the kernel names functions.
    if (s.size() != 12 || s[4] != ':' || s[7] != ':' || s[10] != '.')
        return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11})
        if (!std::isxdigit(static_cast<unsigned char>(s[i])))
            return false;
    unsigned d, b, dev, fn;
    if (std::sscanf(s.c_str(), "%4x:%2x:%2x.%1x", &d, &b, &dev, &fn) != 4 || dev > 31 || fn > 7)
        return false;
    f.domain = uint16_t(d);
    f.bus = uint8_t(b);
    f.device = uint8_t(dev);
    f.function = uint8_t(fn);
    return true;
}

bool valid_usb_name(const std::string &s, unsigned &bus)
{
    // BUS-PORT[.PORT...]
    size_t dash = s.find('-');
    if (dash == std::string::npos || dash == 0)
        return false;
    uint64_t b;
    if (!parse_unsigned(s.substr(0, dash), 10, b) || b < 1 || b > 127)
        return false;
    std::string ports = s.substr(dash + 1);
    size_t start = 0;
    for (;;) {
        size_t dot = ports.find('.', start);
        std::string p = ports.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        uint64_t n;
        if (p.empty() || !std::all_of(p.begin(), p.end(), is_digit) || !parse_unsigned(p, 10, n) || n < 1 || n > 255)
            return false;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    bus = unsigned(b);
    return true;
}

std::string usb_parent_name(const std::string &name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

// Device numbers the kernel gives the usual names.
bool default_devnum(const std::string &name, BlockKind kind, unsigned &major, unsigned &minor)
{
    auto letters = [](const std::string &s, int &index) {
        if (s.empty() || s.size() > 2)
            return false;
        index = 0;
        for (char c : s) {
            if (c < 'a' || c > 'z')
                return false;
            index = index * 26 + (c - 'a' + 1);
        }
        --index;
        return true;
    };
    auto number = [](const std::string &s, unsigned &n) {
        uint64_t v;
        if (s.empty() || !std::all_of(s.begin(), s.end(), is_digit) || !parse_unsigned(s, 10, v) || v > 255)
            return false;
        n = unsigned(v);
        return true;
    };
    int idx;
    unsigned n;
    if (kind != BlockKind::loop && name.compare(0, 2, "sd") == 0 && letters(name.substr(2), idx) && idx < 16) {
        major = 8;
        minor = unsigned(idx) * 16;
        return true;
    }
    if (kind != BlockKind::loop && name.compare(0, 2, "vd") == 0 && letters(name.substr(2), idx) && idx < 16) {
        major = 254;
        minor = unsigned(idx) * 16;
        return true;
    }
    if (name.compare(0, 2, "sr") == 0 && number(name.substr(2), n)) {
        major = 11;
        minor = n;
        return true;
    }
    if (name.compare(0, 4, "loop") == 0 && number(name.substr(4), n)) {
        major = 7;
        minor = n;
        return true;
    }
    if (name.compare(0, 2, "fd") == 0 && number(name.substr(2), n) && n < 4) {
        major = 2;
        minor = n;
        return true;
    }
    return false;
}

bool parse_devnum(const std::string &s, unsigned &major, unsigned &minor)
{
    size_t colon = s.find(':');
    uint64_t a, b;
    if (colon == std::string::npos || !parse_unsigned(s.substr(0, colon), 10, a)
        || !parse_unsigned(s.substr(colon + 1), 10, b) || a > 4095 || b > 1048575)
        return false;
    major = unsigned(a);
    minor = unsigned(b);
    return true;
}

void add_properties(const Node &n, std::vector<Property> &props)
{
    no_args(n);
    no_children(n);
    if (n.attrs.empty())
        fail(n.line, "prop: expected KEY=VALUE");
    for (const auto &a : n.attrs)
        props.push_back({a.first, a.second});
}

void check_text(const Node &n, const char *what, const std::string &s, size_t max)
{
    if (s.size() > max)
        fail(n.line, n.keyword + ": " + what + " longer than " + std::to_string(max) + " bytes");
    if (s.find('\0') != std::string::npos || s.find('\n') != std::string::npos)
        fail(n.line, n.keyword + ": " + what + " holds a NUL or newline");
}

// File systems and what they hold (fs, dir, file, image), and LVM names.
bool valid_fs_path(const std::string &p)
{
    if (p.size() < 2 || p[0] != '/' || p.back() == '/' || p.size() > 1024)
        return false;
    size_t i = 1;
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos)
            j = p.size();
        const std::string c = p.substr(i, j - i);
        if (c.empty() || c == "." || c == ".." || c.size() > 255)
            return false;
        i = j + 1;
    }
    // Quotes and backslashes would need quoting in the tools' scripts.
    return p.find_first_of(std::string("\0\n\"\\", 4)) == std::string::npos;
}

// The UUID forms blkid shows: vfat "XXXX-XXXX", ntfs 16 hexadecimal
// digits, ext "8-4-4-4-12".
bool valid_uuid(const std::string &u, const std::string &type)
{
    const std::string shape = type == "vfat" ? "xxxx-xxxx"
                              : type == "ntfs" ? "xxxxxxxxxxxxxxxx"
                                               : "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
    if (u.size() != shape.size())
        return false;
    for (size_t i = 0; i < u.size(); ++i)
        if (shape[i] == '-' ? u[i] != '-' : !is_hex(u[i]))
            return false;
    return true;
}

bool valid_lvm_name(const std::string &n)
{
    return !n.empty() && n.size() <= 127 && n[0] != '-'
           && std::all_of(n.begin(), n.end(), [](char ch) {
                  return std::isalnum(static_cast<unsigned char>(ch)) || ch == '+' || ch == '_' || ch == '.'
                         || ch == '-';
              });
}

unsigned mode_attr(Attrs &a)
{
    const std::string *m = a.get("mode");
    if (!m)
        return 0;
    uint64_t v;
    if (m->empty() || !parse_unsigned(*m, 8, v) || v > 07777)
        a.bad("mode", *m);
    return unsigned(v);
}

class Builder {
public:
    explicit Builder(Computer &c) : c_(c) {}

    void node(const Node &n)
    {
        static const std::map<std::string, void (Builder::*)(const Node &)> handlers = {
            {"cmdline", &Builder::cmdline}, {"pci", &Builder::pci},         {"usbhub", &Builder::usbhub},
            {"usb", &Builder::usb},         {"disk", &Builder::block},      {"cdrom", &Builder::block},
            {"floppy", &Builder::block},    {"loop", &Builder::block},      {"bios", &Builder::bios},
            {"smbios", &Builder::smbios},   {"cpu", &Builder::cpu},         {"memarray", &Builder::memarray},
            {"monitor", &Builder::monitor}, {"videobios", &Builder::videobios},
            {"windows", &Builder::windows},
            {"lvm", &Builder::lvm},
        };
        auto it = handlers.find(n.keyword);
        if (it == handlers.end())
            fail(n.line, "unknown keyword " + n.keyword);
        (this->*it->second)(n);
    }

    void finish()
    {
        std::map<std::string, const PciFunction *> pci;
        for (const auto &f : c_.pci)
            pci[f.address()] = &f;
        for (const auto &f : c_.pci)
            if (!f.bridge.empty() && !pci.count(f.bridge))
                fail(lines_.at("pci " + f.address()), "pci: bridge " + f.bridge + " is not described");
        for (const auto &b : c_.usb_buses)
            if (!b.controller.empty() && !pci.count(b.controller))
                fail(lines_.at("usbhub " + std::to_string(b.number)), "usbhub: controller " + b.controller + " is not described");
        std::set<std::string> usb_names;
        for (const auto &u : c_.usb)
            usb_names.insert(u.name);
        for (const auto &u : c_.usb) {
            std::string parent = usb_parent_name(u.name);
            if (!parent.empty() && !usb_names.count(parent))
                fail(lines_.at("usb " + u.name), "usb: " + u.name + " sits behind " + parent + ", which is not described");
            bool known = std::any_of(c_.usb_buses.begin(), c_.usb_buses.end(), [&u](const UsbBus &b) { return b.number == u.bus; });
            if (!known)
                c_.usb_buses.push_back({u.bus, ""});
        }
        std::sort(c_.usb_buses.begin(), c_.usb_buses.end(), [](const UsbBus &a, const UsbBus &b) { return a.number < b.number; });
        for (const auto &b : c_.blocks)
            if (!b.controller.empty() && !pci.count(b.controller) && !usb_names.count(b.controller))
                fail(lines_.at("block " + b.name), b.name + ": controller " + b.controller + " is not described");
    }

private:
    void once(const Node &n, const char *what)
    {
        if (!seen_.insert(what).second)
            fail(n.line, n.keyword + " given twice");
    }

    void cmdline(const Node &n)
    {
        once(n, "cmdline");
        no_children(n);
        Attrs(n).finish();
        const std::string &text = one_arg(n, "the command line in quotes");
        check_text(n, "command line", text, 4095);
        c_.cmdline = text;
    }

    void pci(const Node &n)
    {
        no_children(n);
        PciFunction f;
        if (!parse_pci_address(one_arg(n, "the address DDDD:BB:DD.F"), f))
            fail(n.line, "pci: bad address " + n.args[0]);
        Attrs a(n);
        f.vendor = uint16_t(a.required_hex("vendor", 0xFFFF));
        f.device_id = uint16_t(a.required_hex("device", 0xFFFF));
        f.class_code = uint32_t(a.required_hex("class", 0xFFFFFF));
        f.revision = uint8_t(a.hex("revision", 0, 0xFF));
        if (const std::string *s = a.get("subsystem")) {
            unsigned v, d;
            char tail;
            if (s->size() != 9 || std::sscanf(s->c_str(), "%4x:%4x%c", &v, &d, &tail) != 2)
                a.bad("subsystem", *s);
            f.subsystem_vendor = uint16_t(v);
            f.subsystem_device = uint16_t(d);
        }
        if (const std::string *b = a.get("bridge")) {
            PciFunction br;
            if (!parse_pci_address(*b, br))
                a.bad("bridge", *b);
            f.bridge = br.address();
        }
        a.finish();
        if (!lines_.emplace("pci " + f.address(), n.line).second)
            fail(n.line, "pci: " + f.address() + " described twice");
        c_.pci.push_back(f);
    }

    void usbhub(const Node &n)
    {
        no_children(n);
        uint64_t bus;
        if (!parse_unsigned(one_arg(n, "the bus number"), 10, bus) || bus < 1 || bus > 127)
            fail(n.line, "usbhub: bad bus number " + n.args[0]);
        Attrs a(n);
        UsbBus b{unsigned(bus), a.str("controller")};
        a.finish();
        if (!lines_.emplace("usbhub " + std::to_string(bus), n.line).second)
            fail(n.line, "usbhub: bus " + std::to_string(bus) + " described twice");
        c_.usb_buses.push_back(b);
    }

    void usb(const Node &n)
    {
        no_children(n);
        UsbDevice u;
        u.name = one_arg(n, "the device name BUS-PORT[.PORT...]");
        if (!valid_usb_name(u.name, u.bus))
            fail(n.line, "usb: bad device name " + u.name);
        Attrs a(n);
        u.vendor = uint16_t(a.required_hex("vendor", 0xFFFF));
        u.product = uint16_t(a.required_hex("product", 0xFFFF));
        if (const std::string *s = a.get("serial")) {
            check_text(n, "serial", *s, 255);
            u.serial = *s;
        }
        u.manufacturer = a.str("manufacturer");
        u.product_name = a.str("product_name");
        check_text(n, "manufacturer", u.manufacturer, 255);
        check_text(n, "product_name", u.product_name, 255);
        u.device_class = uint8_t(a.hex("class", 0, 0xFF));
        u.interface_class = uint8_t(a.hex("interface_class", u.device_class == 0x09 ? 0x09 : 0xFF, 0xFF));
        u.interfaces = unsigned(a.num("interfaces", 1, 32));
        u.speed = unsigned(a.num("speed", 480, 20000));
        a.finish();
        if (u.interfaces == 0)
            fail(n.line, "usb: a device has at least one interface");
        if (!lines_.emplace("usb " + u.name, n.line).second)
            fail(n.line, "usb: " + u.name + " described twice");
        c_.usb.push_back(std::move(u));
    }

    void block(const Node &n)
    {
        static const std::map<std::string, BlockKind> kinds = {
            {"disk", BlockKind::disk}, {"cdrom", BlockKind::cdrom}, {"floppy", BlockKind::floppy}, {"loop", BlockKind::loop}};
        BlockDevice b;
        b.kind = kinds.at(n.keyword);
        b.name = one_arg(n, "the kernel name");
        if (b.name.empty() || b.name.size() > 31 || b.name.find('/') != std::string::npos || b.name[0] == '.'
            || !std::all_of(b.name.begin(), b.name.end(), [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_'; }))
            fail(n.line, n.keyword + ": bad name " + b.name);
        Attrs a(n);
        if (const std::string *d = a.get("dev")) {
            if (!parse_devnum(*d, b.major, b.minor))
                a.bad("dev", *d);
        } else if (!default_devnum(b.name, b.kind, b.major, b.minor)) {
            fail(n.line, n.keyword + ": no usual device number for " + b.name + ", give dev=MAJOR:MINOR");
        }
        const bool is_disk = b.kind == BlockKind::disk;
        b.image = a.str("image");
        if (is_disk && !a.has("size") && b.image.empty())
            fail(n.line, "disk: size= is required");
        if (!b.image.empty() && a.has("size"))
            fail(n.line, n.keyword + ": size= does not go with image=");
        b.size = b.image.empty() ? a.size("size", b.kind == BlockKind::floppy ? 1474560 : 0) : image_size(b.image, n.line);
        if (b.size % 512)
            fail(n.line, n.keyword + ": size is not a multiple of 512 bytes");
        b.removable = a.flag("removable", b.kind == BlockKind::cdrom || b.kind == BlockKind::floppy);
        b.is_virtual = a.flag("virtual", b.kind == BlockKind::loop);
        if (b.is_virtual && (b.kind == BlockKind::cdrom || b.kind == BlockKind::floppy))
            fail(n.line, n.keyword + ": cannot be virtual");
        b.controller = a.str("controller");
        if (b.is_virtual && !b.controller.empty())
            fail(n.line, n.keyword + ": a virtual device has no controller");
        b.bus = a.str("bus");
        if (!b.bus.empty() && b.bus != "ata" && b.bus != "scsi" && b.bus != "usb" && b.bus != "virtio" && b.bus != "nvme")
            a.bad("bus", b.bus);
        if (a.has("label_id"))
            b.label_id = uint32_t(a.hex("label_id", 0, 0xFFFFFFFF));
        b.vendor = a.str("vendor");
        b.model = a.str("model");
        b.revision = a.str("revision");
        b.serial = a.str("serial");
        for (const char *what : {"vendor", "model", "revision", "serial", "bus"})
            check_text(n, what, a.str(what), 255);
        b.seed = a.str("seed");
        b.signature = a.flag("signature", true);
        const bool table_given = a.has("table");
        b.table = a.choice<bool>("table", false, {{"mbr", true}, {"none", false}});
        a.finish();
        for (const Node &child : n.children) {
            if (child.keyword == "prop")
                add_properties(child, b.properties);
            else if (child.keyword == "link")
                link(child, b.links);
            else if (child.keyword == "part")
                partition(child, b);
            else
                fail(child.line, n.keyword + ": unknown nested keyword " + child.keyword);
        }
        if (!table_given)
            b.table = !b.partitions.empty() && b.image.empty();
        check_disk(b, n.line);
        if (!lines_.emplace("block " + b.name, n.line).second)
            fail(n.line, n.keyword + ": " + b.name + " described twice");
        claim_devnum(n, b.major, b.minor);
        for (const auto &p : b.partitions)
            claim_devnum(n, b.major, b.minor + p.number);
        c_.blocks.push_back(std::move(b));
    }

    void claim_devnum(const Node &n, unsigned major, unsigned minor)
    {
        if (!devnums_.insert({major, minor}).second)
            fail(n.line, n.keyword + ": device number " + std::to_string(major) + ":" + std::to_string(minor) + " used twice");
    }

    void link(const Node &n, std::vector<std::string> &links)
    {
        no_children(n);
        Attrs(n).finish();
        const std::string &l = one_arg(n, "a path below /dev");
        if (l.empty() || l[0] == '/' || l.find("..") != std::string::npos || l.back() == '/')
            fail(n.line, "link: bad path " + l);
        links.push_back(l);
    }

    void partition(const Node &n, BlockDevice &b)
    {
        // An extended primary partition holds the logical ones.
        auto holds = [](const Partition &ext, const Partition &logical) {
            return ext.number <= 4 && extended_type(ext.type) && logical.number >= 5;
        };
        Partition p;
        uint64_t number;
        if (!parse_unsigned(one_arg(n, "the partition number"), 10, number) || number < 1 || number > 255)
            fail(n.line, "part: bad number " + n.args[0]);
        p.number = unsigned(number);
        Attrs a(n);
        if (!a.has("start") || !a.has("size"))
            fail(n.line, "part: start= and size= are required");
        uint64_t start = a.size("start", 0), size = a.size("size", 0);
        p.type = uint8_t(a.hex("type", 0x83, 0xFF));
        if (const std::string *v = a.get("boot")) {
            uint64_t byte;
            if (*v == "yes" || *v == "no")
                p.boot = *v == "yes" ? 0x80 : 0x00;
            else if (parse_unsigned(*v, 0, byte) && byte <= 0xFF)
                p.boot = uint8_t(byte);
            else
                a.bad("boot", *v);
        }
        p.seed = a.str("seed");
        p.next = unsigned(a.num("next", 0, 255));
        if (a.has("next_at"))
            p.next_at = a.size("next_at", 0);
        p.ebr_signature = a.flag("ebr_signature", true);
        a.finish();
        if (start % 512 || size % 512 || size == 0)
            fail(n.line, "part: start and size must be non-zero multiples of 512 bytes");
        if (start > b.size || size > b.size - start)
            fail(n.line, "part: partition ends beyond the device");
        p.start = start / 512;
        p.sectors = size / 512;
        for (const auto &q : b.partitions) {
            if (q.number == p.number)
                fail(n.line, "part: number " + std::to_string(p.number) + " used twice");
            if (p.start < q.start + q.sectors && q.start < p.start + p.sectors && !holds(q, p) && !holds(p, q))
                fail(n.line, "part: overlaps partition " + std::to_string(q.number));
        }
        for (const Node &child : n.children) {
            if (child.keyword == "fs")
                p.fs = file_system(child, b.name + "/" + std::to_string(p.number), p.fs);
            else if (child.keyword == "prop")
                add_properties(child, p.properties);
            else
                fail(child.line, "part: unknown nested keyword " + child.keyword);
        }
        b.partitions.push_back(std::move(p));
    }

    // fs TYPE [label=] [uuid=], with dir, file and image lines nested.
    std::shared_ptr<FileSystem> file_system(const Node &n, const std::string &seed,
                                            const std::shared_ptr<FileSystem> &given)
    {
        if (given)
            fail(n.line, "fs given twice");
        auto fs = std::make_shared<FileSystem>();
        fs->type = one_arg(n, "the file-system type");
        if (fs->type != "ext2" && fs->type != "ext3" && fs->type != "ext4" && fs->type != "vfat" && fs->type != "ntfs")
            fail(n.line, "fs: unsupported type " + fs->type + " (ext2, ext3, ext4, vfat, ntfs)");
        Attrs a(n);
        fs->label = a.str("label");
        fs->uuid = a.str("uuid");
        fs->dirty = a.flag("dirty", false);
        a.finish();
        if (fs->dirty && fs->type != "ntfs")
            fail(n.line, "fs: dirty is for ntfs");
        check_text(n, "label", fs->label, fs->type == "vfat" ? 11 : fs->type == "ntfs" ? 32 : 16);
        if (!fs->uuid.empty() && !valid_uuid(fs->uuid, fs->type))
            fail(n.line, "fs: bad uuid " + fs->uuid);
        fs->seed = seed;
        for (const Node &child : n.children) {
            if (child.keyword != "windows") {
                fs->entries.push_back(fs_entry(child));
                const FsEntry::Kind kind = fs->entries.back().kind;
                if ((kind == FsEntry::fifo || kind == FsEntry::socket || kind == FsEntry::device) &&
                    fs->type != "ext2" && fs->type != "ext3" && fs->type != "ext4")
                    fail(child.line, child.keyword + ": only ext keeps special files");
                continue;
            }
            // A Windows directory on the volume: its hive files as files.
            for (auto &f : windows_files(parse_windows(child))) {
                FsEntry e;
                e.path = "/" + f.first;
                if (!valid_fs_path(e.path))
                    fail(child.line, "windows: bad path " + e.path);
                e.content = std::string(f.second.begin(), f.second.end());
                fs->entries.push_back(std::move(e));
            }
        }
        return fs;
    }

    FsEntry fs_entry(const Node &n)
    {
        FsEntry e;
        if (n.keyword == "dir")
            e.kind = FsEntry::dir;
        else if (n.keyword == "file")
            e.kind = FsEntry::file;
        else if (n.keyword == "image")
            e.kind = FsEntry::image;
        else if (n.keyword == "symlink")
            e.kind = FsEntry::link;
        else if (n.keyword == "fifo")
            e.kind = FsEntry::fifo;
        else if (n.keyword == "socket")
            e.kind = FsEntry::socket;
        else if (n.keyword == "device")
            e.kind = FsEntry::device;
        else
            fail(n.line, "fs: unknown nested keyword " + n.keyword);
        e.path = one_arg(n, "an absolute path");
        if (!valid_fs_path(e.path))
            fail(n.line, n.keyword + ": bad path " + e.path);
        Attrs a(n);
        if (e.kind == FsEntry::link) {
            e.target = a.str("target");
            a.finish();
            no_children(n);
            if (e.target.empty() || e.target.size() > 1024 || e.target.find('\0') != std::string::npos)
                fail(n.line, "symlink: target= is required");
            return e;
        }
        if (e.kind != FsEntry::image)
            e.mode = mode_attr(a);
        if (e.kind == FsEntry::device) {
            const std::string type = a.str("type");
            if (type != "char" && type != "block")
                fail(n.line, "device: type=char or type=block is required");
            e.block = type == "block";
            const std::string *d = a.get("dev");
            if (!d)
                fail(n.line, "device: dev=MAJOR:MINOR is required");
            if (!parse_devnum(*d, e.major, e.minor))
                a.bad("dev", *d);
        }
        if (e.kind == FsEntry::file) {
            if (const std::string *c = a.get("content"))
                e.content = *c;
            e.size = a.size("size", 0);
            if (e.content && a.has("size"))
                fail(n.line, "file: size= and content= exclude each other");
        } else if (e.kind == FsEntry::image) {
            if (!a.has("size"))
                fail(n.line, "image: size= is required");
            e.size = a.size("size", 0);
            if (e.size == 0 || e.size % 512)
                fail(n.line, "image: size must be a non-zero multiple of 512 bytes");
        }
        a.finish();
        if (e.kind != FsEntry::image) {
            no_children(n);
            return e;
        }
        BlockDevice image;
        image.name = e.path;
        image.size = e.size;
        for (const Node &child : n.children) {
            if (child.keyword != "part")
                fail(child.line, "image: unknown nested keyword " + child.keyword);
            partition(child, image);
        }
        if (image.partitions.size() > 4)
            fail(n.line, "image: at most 4 partitions");
        for (const auto &p : image.partitions)
            if (p.number > 4)
                fail(n.line, "image: partitions are numbered 1 to 4");
        e.partitions = std::move(image.partitions);
        return e;
    }

    // lvm GROUP, with "lv NAME size= [udev=no]" lines and their fs.
    void lvm(const Node &n)
    {
        const std::string group = one_arg(n, "the volume-group name");
        if (!valid_lvm_name(group))
            fail(n.line, "lvm: bad group name " + group);
        Attrs(n).finish();
        for (const Node &child : n.children) {
            if (child.keyword != "lv")
                fail(child.line, "lvm: unknown nested keyword " + child.keyword);
            LvmVolume v;
            v.group = group;
            v.name = one_arg(child, "the logical-volume name");
            if (!valid_lvm_name(v.name))
                fail(child.line, "lv: bad name " + v.name);
            Attrs a(child);
            if (!a.has("size"))
                fail(child.line, "lv: size= is required");
            v.size = a.size("size", 0);
            v.udev_names = a.flag("udev", true);
            a.finish();
            if (v.size == 0 || v.size % 512)
                fail(child.line, "lv: size must be a non-zero multiple of 512 bytes");
            for (const auto &other : c_.lvm)
                if (other.group == v.group && other.name == v.name)
                    fail(child.line, "lv: " + group + "/" + v.name + " described twice");
            v.minor = unsigned(c_.lvm.size());
            claim_devnum(child, 253, v.minor);
            for (const Node &fs_node : child.children) {
                if (fs_node.keyword != "fs")
                    fail(fs_node.line, "lv: unknown nested keyword " + fs_node.keyword);
                v.fs = file_system(fs_node, "lvm/" + v.dm_name(), v.fs);
            }
            c_.lvm.push_back(std::move(v));
        }
    }

    void bios(const Node &n)
    {
        once(n, "bios");
        no_args(n);
        no_children(n);
        Attrs a(n);
        Bios &b = c_.bios;
        b.described = true;
        b.vendor = a.str("vendor");
        b.version = a.str("version");
        b.date = a.str("date");
        for (const char *what : {"vendor", "version", "date"})
            check_text(n, what, a.str(what), 255);
        b.segment = uint16_t(a.hex("segment", 0xF000, 0xFFFF));
        uint64_t rom = a.size("rom_size", 0);
        b.seed = a.str("seed", b.seed);
        std::string release = a.str("release", "1.0");
        a.finish();
        if (b.segment != 0 && (b.segment < 0xC800 || b.segment % 0x100))
            fail(n.line, "bios: segment must be 0 or a multiple of 0x100 from 0xC800 to 0xFF00");
        if (rom % 65536 || rom > 16u * 1024 * 1024)
            fail(n.line, "bios: rom_size must be a multiple of 64K up to 16M");
        b.rom_size = uint32_t(rom);
        unsigned maj, min;
        char tail;
        if (std::sscanf(release.c_str(), "%u.%u%c", &maj, &min, &tail) != 2 || maj > 254 || min > 254)
            fail(n.line, "bios: bad release " + release);
        b.release_major = uint8_t(maj);
        b.release_minor = uint8_t(min);
        c_.dmi_order.push_back({DmiItem::bios, 0});
    }

    void smbios(const Node &n)
    {
        once(n, "smbios");
        no_args(n);
        no_children(n);
        Attrs a(n);
        Smbios &s = c_.smbios;
        s.entry = a.choice<SmbiosEntry>("entry", SmbiosEntry::sm,
                                        {{"sm", SmbiosEntry::sm}, {"legacy", SmbiosEntry::legacy},
                                         {"efi", SmbiosEntry::efi}, {"none", SmbiosEntry::none},
                                         {"sm3", SmbiosEntry::sm3}, {"efi3", SmbiosEntry::efi3}});
        std::string version = a.str("version", s.sm3() ? "3.0" : "2.7");
        s.entry_addr = uint32_t(a.num("entry_addr", 0, 0xFFFFFFF0));
        s.table_addr = a.num("table_addr", 0, s.sm3() ? 0xFFFFFFFFFFF0ull : 0xFFFFFFF0);
        s.damage = a.choice<SmbiosDamage>("damage", SmbiosDamage::none,
                                          {{"none", SmbiosDamage::none}, {"checksum", SmbiosDamage::checksum},
                                           {"structure", SmbiosDamage::structure}, {"strings", SmbiosDamage::strings}});
        a.finish();
        unsigned maj, min;
        char tail;
        if (s.sm3() && (std::sscanf(version.c_str(), "%u.%u%c", &maj, &min, &tail) != 2 || maj != 3 || min > 9))
            fail(n.line, "smbios: version must be 3.0 to 3.9 for a 64-bit entry point");
        if (!s.sm3() && (std::sscanf(version.c_str(), "%u.%u%c", &maj, &min, &tail) != 2 || maj != 2 || min > 8))
            fail(n.line, "smbios: version must be 2.0 to 2.8");
        s.major = uint8_t(maj);
        s.minor = uint8_t(min);
    }

    void cpu(const Node &n)
    {
        no_args(n);
        no_children(n);
        Attrs a(n);
        Cpu p;
        p.socket = a.str("socket", "CPU" + std::to_string(c_.cpus.size()));
        p.manufacturer = a.str("manufacturer");
        p.version = a.str("version");
        p.serial = a.str("serial");
        p.part = a.str("part");
        for (const char *what : {"socket", "manufacturer", "version", "serial", "part"})
            check_text(n, what, a.str(what), 255);
        p.populated = a.flag("populated", true);
        p.speed = uint16_t(a.num("speed", 0, 0xFFFF));
        p.max_speed = uint16_t(a.num("max_speed", p.speed, 0xFFFF));
        p.external_clock = uint16_t(a.num("external_clock", 100, 0xFFFF));
        p.family = uint8_t(a.num("family", 0x01, 0xFF));
        p.cores = uint8_t(a.num("cores", 1, 0xFF));
        p.threads = uint8_t(a.num("threads", p.cores, 0xFF));
        p.id = a.hex("id", 0, UINT64_MAX);
        a.finish();
        c_.dmi_order.push_back({DmiItem::cpu, c_.cpus.size()});
        c_.cpus.push_back(std::move(p));
    }

    void memarray(const Node &n)
    {
        no_args(n);
        Attrs a(n);
        MemoryArray m;
        m.location = uint8_t(a.num("location", 3, 0xFF));
        m.use = uint8_t(a.num("use", 3, 0xFF));
        m.ecc = uint8_t(a.num("ecc", 3, 0xFF));
        uint64_t cap = a.size("capacity", 0);
        a.finish();
        if (cap % 1024 || cap / 1024 > 0xFFFFFFFEu)
            fail(n.line, "memarray: capacity must be whole KiB below 4T");
        m.capacity_kb = uint32_t(cap / 1024);
        for (const Node &child : n.children) {
            if (child.keyword != "memory")
                fail(child.line, "memarray: unknown nested keyword " + child.keyword);
            m.devices.push_back(memory(child));
        }
        c_.dmi_order.push_back({DmiItem::memory_array, c_.memory_arrays.size()});
        c_.memory_arrays.push_back(std::move(m));
    }

    MemoryDevice memory(const Node &n)
    {
        no_args(n);
        no_children(n);
        Attrs a(n);
        MemoryDevice d;
        d.locator = a.str("locator");
        d.bank = a.str("bank");
        d.manufacturer = a.str("manufacturer");
        d.serial = a.str("serial");
        d.part = a.str("part");
        for (const char *what : {"locator", "bank", "manufacturer", "serial", "part"})
            check_text(n, what, a.str(what), 255);
        const std::string size = a.str("size", "none");
        if (size == "none") {
            d.size = 0;
        } else if (size == "unknown") {
            d.size = 0xFFFF;
        } else if (size.size() > 2 && size[0] == '0' && (size[1] == 'x' || size[1] == 'X')) {
            uint64_t raw;
            if (!parse_unsigned(size, 16, raw) || raw > 0xFFFF)
                a.bad("size", size);
            d.size = uint16_t(raw);
        } else {
            uint64_t bytes;
            bool bare = !size.empty() && std::isdigit(static_cast<unsigned char>(size.back()));
            if (!Attrs::parse_size(size, bytes))
                a.bad("size", size);
            if (bare)
                bytes <<= 20; // a bare number counts MiB
            if (bytes == 0 || bytes % 1024)
                a.bad("size", size);
            if (bytes % (1u << 20) != 0 || bytes < (1u << 20)) {
                if (bytes / 1024 >= 0x8000)
                    a.bad("size", size);
                d.size = uint16_t(0x8000 | (bytes / 1024));
            } else if (bytes >> 20 < 0x7FFF) {
                d.size = uint16_t(bytes >> 20);
            } else if (bytes >> 20 <= 0x7FFFFFFF) {
                d.size = 0x7FFF;
                d.extended_size = uint32_t(bytes >> 20);
            } else {
                a.bad("size", size);
            }
        }
        static const std::map<std::string, uint8_t> types = {
            {"other", 0x01}, {"unknown", 0x02}, {"dram", 0x03}, {"sdram", 0x0F}, {"ddr", 0x12},
            {"ddr2", 0x13},  {"ddr3", 0x18},    {"ddr4", 0x1A}, {"ddr5", 0x22}};
        d.type = a.choice<uint8_t>("type", 0x02, types);
        d.speed = uint16_t(a.num("speed", 0, 0xFFFF));
        a.finish();
        return d;
    }

    void monitor(const Node &n)
    {
        no_args(n);
        Attrs a(n);
        Monitor m;
        if (!a.has("port"))
            fail(n.line, "monitor: port= is required");
        m.port = unsigned(a.num("port", 0, 5));
        std::string hex = a.str("edid");
        for (const Node &child : n.children) {
            if (child.keyword != "hex" || !child.attrs.empty() || !child.children.empty())
                fail(child.line, "monitor: nested lines are hex lines");
            for (const auto &h : child.args)
                hex += h;
        }
        if (!hex.empty()) {
            for (const char *key : {"manufacturer", "product", "serial", "week", "year", "width", "height", "name", "serial_text"})
                if (a.has(key))
                    fail(n.line, std::string("monitor: ") + key + "= does not go with a given EDID");
            if (hex.size() != 256 || !std::all_of(hex.begin(), hex.end(), is_hex))
                fail(n.line, "monitor: an EDID is 256 hexadecimal digits");
            for (size_t i = 0; i < 128; ++i)
                m.edid[i] = uint8_t(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        } else {
            EdidSpec e;
            e.manufacturer = a.str("manufacturer");
            if (e.manufacturer.size() != 3 || !std::all_of(e.manufacturer.begin(), e.manufacturer.end(), [](char ch) { return ch >= 'A' && ch <= 'Z'; }))
                fail(n.line, "monitor: manufacturer= is three letters A-Z");
            e.product = uint16_t(a.num("product", 0, 0xFFFF));
            e.serial = uint32_t(a.num("serial", 0, 0xFFFFFFFF));
            e.week = uint8_t(a.num("week", 1, 54));
            e.year = uint16_t(a.num("year", 2014, 2245));
            e.width_cm = uint8_t(a.num("width", 52, 255));
            e.height_cm = uint8_t(a.num("height", 29, 255));
            e.name = a.str("name");
            e.serial_text = a.str("serial_text");
            if (e.year < 1990)
                a.bad("year", std::to_string(e.year));
            for (const auto &t : {e.name, e.serial_text})
                if (t.size() > 13 || !std::all_of(t.begin(), t.end(), [](char ch) { return ch >= 0x20 && ch < 0x7F; }))
                    fail(n.line, "monitor: name and serial_text are at most 13 printable characters");
            m.edid = make_edid(e);
        }
        a.finish();
        for (const auto &other : c_.monitors)
            if (other.port == m.port)
                fail(n.line, "monitor: port " + std::to_string(m.port) + " described twice");
        c_.monitors.push_back(m);
    }

    void videobios(const Node &n)
    {
        once(n, "videobios");
        no_args(n);
        no_children(n);
        Attrs a(n);
        c_.video_bios = a.choice<VideoBiosMode>(
            "mode", VideoBiosMode::answer,
            {{"answer", VideoBiosMode::answer}, {"hang", VideoBiosMode::hang}, {"absent", VideoBiosMode::absent}});
        a.finish();
    }

    void windows(const Node &n)
    {
        c_.windows.push_back(parse_windows(n));
    }

    Computer &c_;
    std::set<std::string> seen_;
    std::map<std::string, int> lines_;
    std::set<std::pair<unsigned, unsigned>> devnums_;
};

} // namespace

std::string Error::text() const
{
    return line > 0 ? "line " + std::to_string(line) + ": " + message : message;
}

std::string PciFunction::address() const
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04x:%02x:%02x.%x", domain, bus, device, function);
    return buf;
}

bool parse(const std::string &text, Computer &computer, Error &err)
{
    try {
        Computer c;
        Builder b(c);
        for (const Node &n : parse_nodes(text))
            b.node(n);
        b.finish();
        computer = std::move(c);
        return true;
    } catch (const description_error &e) {
        err = {e.line, e.message};
    } catch (const std::exception &e) {
        err = {0, e.what()};
    }
    return false;
}

bool parse_file(const std::string &path, Computer &computer, Error &err)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err = {0, "cannot read " + path};
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) {
        err = {0, "cannot read " + path};
        return false;
    }
    return parse(text.str(), computer, err);
}

} // namespace simcomputer
