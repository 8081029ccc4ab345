// Sysfs, udev database and device nodes of a simulated computer: PCI
// functions, USB devices with their root hubs and interfaces, block devices
// with their partitions.
#include "sysfs.h"

#include "description.h"
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>

namespace simcomputer {
namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0 || size_t(n) >= sizeof buf)
        throw description_error{0, "text too long"};
    return buf;
}

std::string usb_parent(const std::string &name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

std::string underscored(std::string s)
{
    for (char &ch : s)
        if (ch == ' ' || ch == '/')
            ch = '_';
    return s;
}

std::string padded(const std::string &s, size_t width)
{
    std::string r = s.substr(0, width);
    r.resize(width, ' ');
    return r;
}

class Writer {
public:
    Writer(const Computer &c, Tree &t) : c_(c), t_(t) {}

    void run()
    {
        t_.dir("/sys/bus/pci/devices");
        for (const auto &f : c_.pci)
            pci(f);
        if (!c_.usb.empty() || !c_.usb_buses.empty()) {
            t_.dir("/sys/bus/usb/devices");
            for (const auto &b : c_.usb_buses)
                root_hub(b);
            // Device numbers follow the description; parents are written first.
            std::map<unsigned, unsigned> next;
            std::vector<std::pair<const UsbDevice *, unsigned>> order;
            for (const auto &u : c_.usb)
                order.emplace_back(&u, ++next[u.bus] + 1);
            auto depth = [](const UsbDevice *u) { return std::count(u->name.begin(), u->name.end(), '.'); };
            std::stable_sort(order.begin(), order.end(),
                             [&depth](const auto &a, const auto &b) { return depth(a.first) < depth(b.first); });
            for (const auto &[u, devnum] : order)
                usb(*u, devnum);
        }
        t_.dir("/sys/block");
        t_.dir("/sys/class/block");
        t_.dir("/sys/dev/block");
        t_.dir("/run/udev/data");
        unsigned host = 0;
        for (const auto &b : c_.blocks)
            block(b, host);
    }

private:
    const PciFunction *find_pci(const std::string &addr) const
    {
        for (const auto &f : c_.pci)
            if (f.address() == addr)
                return &f;
        return nullptr;
    }

    std::string pci_path(const PciFunction &f, int depth = 0) const
    {
        if (depth > 32)
            throw description_error{0, "pci: bridges form a loop at " + f.address()};
        if (f.bridge.empty())
            return format("/sys/devices/pci%04x:%02x/", f.domain, f.bus) + f.address();
        return pci_path(*find_pci(f.bridge), depth + 1) + "/" + f.address();
    }

    void pci(const PciFunction &f)
    {
        const std::string p = pci_path(f);
        const bool bridge = (f.class_code >> 8) == 0x0604;
        t_.file(p + "/vendor", format("0x%04x\n", f.vendor));
        t_.file(p + "/device", format("0x%04x\n", f.device_id));
        t_.file(p + "/class", format("0x%06x\n", f.class_code));
        t_.file(p + "/subsystem_vendor", format("0x%04x\n", f.subsystem_vendor));
        t_.file(p + "/subsystem_device", format("0x%04x\n", f.subsystem_device));
        t_.file(p + "/revision", format("0x%02x\n", f.revision));
        t_.file(p + "/irq", "0\n");
        t_.file(p + "/enable", "1\n");
        std::string resource;
        for (int i = 0; i < 13; ++i)
            resource += "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
        t_.file(p + "/resource", resource);

        std::vector<uint8_t> config(256, 0);
        put16(&config[0x00], f.vendor);
        put16(&config[0x02], f.device_id);
        put16(&config[0x04], 0x0006); // memory space, bus master
        put16(&config[0x06], 0x0010); // capabilities list
        config[0x08] = f.revision;
        config[0x09] = uint8_t(f.class_code);
        config[0x0A] = uint8_t(f.class_code >> 8);
        config[0x0B] = uint8_t(f.class_code >> 16);
        config[0x0E] = bridge ? 0x01 : 0x00;
        if (bridge) {
            unsigned lo = 0xFF, hi = 0;
            for (const auto &g : c_.pci)
                if (g.bridge == f.address()) {
                    lo = std::min<unsigned>(lo, g.bus);
                    hi = std::max<unsigned>(hi, g.bus);
                }
            config[0x18] = f.bus;
            config[0x19] = uint8_t(lo == 0xFF ? 0 : lo);
            config[0x1A] = uint8_t(hi);
        } else {
            put16(&config[0x2C], f.subsystem_vendor);
            put16(&config[0x2E], f.subsystem_device);
        }
        t_.file(p + "/config", config);
        t_.file(p + "/uevent",
                format("PCI_CLASS=%X\nPCI_ID=%04X:%04X\nPCI_SUBSYS_ID=%04X:%04X\nPCI_SLOT_NAME=%s\n"
                       "MODALIAS=pci:v%08Xd%08Xsv%08Xsd%08Xbc%02Xsc%02Xi%02X\n",
                       f.class_code, f.vendor, f.device_id, f.subsystem_vendor, f.subsystem_device,
                       f.address().c_str(), f.vendor, f.device_id, f.subsystem_vendor, f.subsystem_device,
                       f.class_code >> 16, (f.class_code >> 8) & 0xFF, f.class_code & 0xFF));
        t_.link(p + "/subsystem", "/sys/bus/pci");
        t_.link("/sys/bus/pci/devices/" + f.address(), p);
    }

    void usb_common(const std::string &p, const std::string &name, unsigned bus, unsigned devnum,
                    uint16_t vendor, uint16_t product, uint16_t bcd, uint8_t cls, unsigned interfaces,
                    unsigned speed, const std::string &devpath)
    {
        const unsigned minor = (bus - 1) * 128 + devnum - 1;
        t_.file(p + "/idVendor", format("%04x\n", vendor));
        t_.file(p + "/idProduct", format("%04x\n", product));
        t_.file(p + "/bcdDevice", format("%04x\n", bcd));
        t_.file(p + "/busnum", format("%u\n", bus));
        t_.file(p + "/devnum", format("%u\n", devnum));
        t_.file(p + "/devpath", devpath + "\n");
        t_.file(p + "/bDeviceClass", format("%02x\n", cls));
        t_.file(p + "/bNumInterfaces", format("%2u\n", interfaces));
        t_.file(p + "/speed", format("%u\n", speed));
        t_.file(p + "/dev", format("189:%u\n", minor));
        t_.file(p + "/uevent",
                format("MAJOR=189\nMINOR=%u\nDEVNAME=bus/usb/%03u/%03u\nDEVTYPE=usb_device\nDRIVER=usb\n"
                       "PRODUCT=%x/%x/%x\nTYPE=%u/0/0\nBUSNUM=%03u\nDEVNUM=%03u\n",
                       minor, bus, devnum, vendor, product, bcd, cls, bus, devnum));
        t_.link(p + "/subsystem", "/sys/bus/usb");
        t_.link("/sys/bus/usb/devices/" + name, p);
    }

    void usb_interface(const std::string &dev_path, const std::string &dev_name, unsigned number,
                       uint16_t vendor, uint16_t product, uint8_t cls)
    {
        const std::string name = dev_name + format(":1.%u", number);
        const std::string p = dev_path + "/" + name;
        t_.file(p + "/bInterfaceClass", format("%02x\n", cls));
        t_.file(p + "/bInterfaceNumber", format("%02x\n", number));
        t_.file(p + "/bAlternateSetting", " 0\n");
        t_.file(p + "/bNumEndpoints", "01\n");
        t_.file(p + "/uevent",
                format("DEVTYPE=usb_interface\nPRODUCT=%x/%x/100\nINTERFACE=%u/0/0\n"
                       "MODALIAS=usb:v%04Xp%04Xd0100dc00dsc00dp00ic%02Xisc00ip00in%02X\n",
                       vendor, product, cls, vendor, product, cls, number));
        t_.link(p + "/subsystem", "/sys/bus/usb");
        t_.link("/sys/bus/usb/devices/" + name, p);
    }

    void root_hub(const UsbBus &b)
    {
        const std::string controller =
            b.controller.empty() ? format("/sys/devices/platform/dummy_hcd.%u", b.number - 1) : pci_path(*find_pci(b.controller));
        const std::string name = format("usb%u", b.number);
        const std::string p = controller + "/" + name;
        usb_paths_[name] = p;
        usb_common(p, name, b.number, 1, 0x1d6b, 0x0002, 0x0601, 0x09, 1, 480, "0");
        t_.file(p + "/manufacturer", "Linux simcomputer hcd\n");
        t_.file(p + "/product", "Simulated Host Controller\n");
        t_.file(p + "/serial", (b.controller.empty() ? format("dummy_hcd.%u", b.number - 1) : b.controller) + "\n");
        usb_interface(p, format("%u-0", b.number), 0, 0x1d6b, 0x0002, 0x09);
    }

    void usb(const UsbDevice &u, unsigned devnum)
    {
        const std::string parent = usb_parent(u.name);
        const std::string parent_path = usb_paths_.at(parent.empty() ? format("usb%u", u.bus) : parent);
        const std::string p = parent_path + "/" + u.name;
        usb_paths_[u.name] = p;
        usb_common(p, u.name, u.bus, devnum, u.vendor, u.product, 0x0100, u.device_class, u.interfaces, u.speed,
                   u.name.substr(u.name.find('-') + 1));
        if (u.serial)
            t_.file(p + "/serial", *u.serial + "\n");
        if (!u.manufacturer.empty())
            t_.file(p + "/manufacturer", u.manufacturer + "\n");
        if (!u.product_name.empty())
            t_.file(p + "/product", u.product_name + "\n");
        for (unsigned i = 0; i < u.interfaces; ++i)
            usb_interface(p, u.name, i, u.vendor, u.product, u.interface_class);
    }

    std::string block_path(const BlockDevice &b, unsigned &host, std::string &scsi_dir, std::string &bus)
    {
        if (b.is_virtual)
            return "/sys/devices/virtual/block/" + b.name;
        if (b.kind == BlockKind::floppy)
            return "/sys/devices/platform/floppy.0/block/" + b.name;
        const unsigned h = host++;
        std::string base;
        if (b.controller.empty()) {
            base = "/sys/devices/platform/simstorage";
            bus = "scsi";
        } else if (const PciFunction *f = find_pci(b.controller)) {
            base = pci_path(*f) + format("/ata%u", h + 1);
            bus = "ata";
        } else {
            base = usb_paths_.at(b.controller) + "/" + b.controller + ":1.0";
            bus = "usb";
        }
        scsi_dir = base + format("/host%u/target%u:0:0/%u:0:0:0", h, h, h);
        return scsi_dir + "/block/" + b.name;
    }

    void block(const BlockDevice &b, unsigned &host)
    {
        std::string scsi_dir, bus;
        const std::string p = block_path(b, host, scsi_dir, bus);
        if (!b.bus.empty())
            bus = b.bus;
        const uint64_t sectors = b.size / 512;
        t_.file(p + "/dev", format("%u:%u\n", b.major, b.minor));
        t_.file(p + "/size", format("%llu\n", (unsigned long long)sectors));
        t_.file(p + "/removable", b.removable ? "1\n" : "0\n");
        t_.file(p + "/ro", "0\n");
        t_.file(p + "/range", b.kind == BlockKind::disk ? "16\n" : "1\n");
        t_.file(p + "/uevent", format("MAJOR=%u\nMINOR=%u\nDEVNAME=%s\nDEVTYPE=disk\n", b.major, b.minor, b.name.c_str()));
        t_.link(p + "/subsystem", "/sys/class/block");
        if (!scsi_dir.empty()) {
            t_.link(p + "/device", scsi_dir);
            t_.file(scsi_dir + "/vendor", padded(b.vendor, 8) + "\n");
            t_.file(scsi_dir + "/model", padded(b.model, 16) + "\n");
            t_.file(scsi_dir + "/rev", padded(b.revision, 4) + "\n");
            t_.file(scsi_dir + "/type", b.kind == BlockKind::cdrom ? "5\n" : "0\n");
            t_.link(scsi_dir + "/subsystem", "/sys/bus/scsi");
        }
        t_.link("/sys/block/" + b.name, p);
        t_.link("/sys/class/block/" + b.name, p);
        t_.link(format("/sys/dev/block/%u:%u", b.major, b.minor), p);
        t_.sparse("/dev/" + b.name, b.size, {});

        // udev database: the identity that udev's persistent-storage rules give.
        std::vector<Property> ids;
        auto given = [&b](const std::string &key) {
            for (const auto &pr : b.properties)
                if (pr.key == key)
                    return true;
            return false;
        };
        auto id = [&](const char *key, const std::string &value) {
            if (!value.empty() && !given(key))
                ids.push_back({key, value});
        };
        std::string id_serial;
        if (!b.serial.empty())
            id_serial = underscored(bus == "usb" ? b.vendor + "_" + b.model + "_" + b.serial
                                                 : (b.model.empty() ? b.serial : b.model + "_" + b.serial));
        if (b.kind != BlockKind::loop) {
            id("ID_TYPE", b.kind == BlockKind::cdrom ? "cd" : b.kind == BlockKind::floppy ? "floppy" : "disk");
            id("ID_BUS", bus);
            id("ID_VENDOR", b.vendor);
            id("ID_MODEL", b.model);
            id("ID_REVISION", b.revision);
            id("ID_SERIAL", id_serial);
            id("ID_SERIAL_SHORT", b.serial);
            if (b.kind == BlockKind::cdrom)
                id("ID_CDROM", "1");
        }
        for (const auto &pr : b.properties)
            ids.push_back(pr);
        std::vector<std::string> links = b.links;
        if (!id_serial.empty() && !bus.empty())
            links.push_back("disk/by-id/" + bus + "-" + id_serial);
        udev_record(b.major, b.minor, links, ids);
        for (const auto &l : links)
            t_.link("/dev/" + l, "/dev/" + b.name);

        for (const auto &part : b.partitions) {
            const std::string pname = b.name + (std::isdigit(static_cast<unsigned char>(b.name.back())) ? "p" : "")
                                      + std::to_string(part.number);
            const std::string pp = p + "/" + pname;
            const unsigned minor = b.minor + part.number;
            t_.file(pp + "/dev", format("%u:%u\n", b.major, minor));
            t_.file(pp + "/partition", format("%u\n", part.number));
            t_.file(pp + "/start", format("%llu\n", (unsigned long long)part.start));
            t_.file(pp + "/size", format("%llu\n", (unsigned long long)part.sectors));
            t_.file(pp + "/ro", "0\n");
            t_.file(pp + "/uevent", format("MAJOR=%u\nMINOR=%u\nDEVNAME=%s\nDEVTYPE=partition\nPARTN=%u\n",
                                           b.major, minor, pname.c_str(), part.number));
            t_.link(pp + "/subsystem", "/sys/class/block");
            t_.link("/sys/class/block/" + pname, pp);
            t_.link(format("/sys/dev/block/%u:%u", b.major, minor), pp);
            t_.sparse("/dev/" + pname, part.sectors * 512, {});
            std::vector<Property> pids;
            for (const auto &pr : ids)
                if (pr.key.compare(0, 3, "ID_") == 0)
                    pids.push_back(pr);
            for (const auto &pr : part.properties)
                pids.push_back(pr);
            std::vector<std::string> plinks;
            if (!id_serial.empty() && !bus.empty())
                plinks.push_back("disk/by-id/" + bus + "-" + id_serial + "-part" + std::to_string(part.number));
            udev_record(b.major, minor, plinks, pids);
            for (const auto &l : plinks)
                t_.link("/dev/" + l, "/dev/" + pname);
        }
    }

    void udev_record(unsigned major, unsigned minor, const std::vector<std::string> &links,
                     const std::vector<Property> &props)
    {
        std::string text;
        for (const auto &l : links)
            text += "S:" + l + "\n";
        for (const auto &pr : props)
            text += "E:" + pr.key + "=" + pr.value + "\n";
        t_.file(format("/run/udev/data/b%u:%u", major, minor), text);
    }

    const Computer &c_;
    Tree &t_;
    std::map<std::string, std::string> usb_paths_;
};

} // namespace

void write_sysfs(const Computer &computer, Tree &tree)
{
    Writer(computer, tree).run();
}

} // namespace simcomputer
