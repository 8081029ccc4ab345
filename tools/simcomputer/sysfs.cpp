// Sysfs, udev database and device nodes of a simulated computer: PCI
// functions, USB devices with their root hubs and interfaces, block devices
// with their partitions.
#include "sysfs.h"
#include "udev_rules.h"

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
        unsigned sequence = 0;
        for (const auto &b : c_.blocks)
            block(b, sequence++);
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
        usb_controller_path_[b.number] = path_of(controller);
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

    // The transport of a block device: bus=, else from its controller and name.
    Transport transport(const BlockDevice &b) const
    {
        static const std::map<Transport, std::string> names = {{Transport::ata, "ata"},
                                                               {Transport::scsi, "scsi"},
                                                               {Transport::usb, "usb"},
                                                               {Transport::virtio, "virtio"},
                                                               {Transport::nvme, "nvme"}};
        if (b.is_virtual || b.kind == BlockKind::floppy)
            return Transport::none;
        Transport t = Transport::scsi;
        if (!b.bus.empty()) {
            for (const auto &[transport, name] : names)
                if (b.bus == name)
                    t = transport;
        } else if (usb_paths_.count(b.controller))
            t = Transport::usb;
        else if (!b.controller.empty())
            t = b.name.compare(0, 2, "vd") == 0 ? Transport::virtio
                : b.name.compare(0, 4, "nvme") == 0 ? Transport::nvme : Transport::ata;
        const bool on_usb = usb_paths_.count(b.controller) != 0, on_pci = find_pci(b.controller) != nullptr;
        if (t == Transport::usb ? !on_usb : t == Transport::scsi ? on_usb : !on_pci)
            throw description_error{0, b.name + ": controller " + (b.controller.empty() ? "(none)" : b.controller)
                                           + " does not carry bus " + names.at(t)};
        if (t == Transport::ata && b.kind == BlockKind::disk && !b.vendor.empty() && b.vendor != "ATA")
            throw description_error{0, b.name + ": an ATA disk's vendor is ATA (the maker goes into model=)"};
        return t;
    }

    // The first path_id element of a controller: "pci-ADDRESS" or "platform-NAME".
    std::string path_of(const std::string &controller_path) const
    {
        const std::string last = controller_path.substr(controller_path.rfind('/') + 1);
        return (controller_path.compare(0, 17, "/sys/devices/pci0") == 0 ? "pci-" : "platform-") + last;
    }

    // The SCSI device directory of a disk behind a host adapter.
    std::string scsi_device(const std::string &base, unsigned host, unsigned target)
    {
        return base + format("/host%u/target%u:0:%u/%u:0:%u:0", host, host, target, host, target);
    }

    // Sysfs path of a block device; fills where it sits and the SCSI device
    // directory (empty for devices without one).
    std::string block_path(const BlockDevice &b, BlockPlace &place, std::string &scsi_dir)
    {
        if (b.is_virtual)
            return "/sys/devices/virtual/block/" + b.name;
        if (b.kind == BlockKind::floppy)
            return "/sys/devices/platform/floppy.0/block/" + b.name;
        const std::string controller =
            b.controller.empty() ? "/sys/devices/platform/simstorage"
            : place.transport == Transport::usb ? usb_paths_.at(b.controller) : pci_path(*find_pci(b.controller));
        const unsigned on_controller = per_controller_[b.controller]++;
        switch (place.transport) {
        case Transport::ata: {
            // libata: one host per port, ports counted per controller.
            const unsigned h = host_++;
            scsi_dir = scsi_device(controller + format("/ata%u", ++ata_), h, 0);
            place.id_path = path_of(controller) + format("-ata-%u.0", on_controller + 1);
            place.ata_compat = path_of(controller) + format("-ata-%u", on_controller + 1);
            break;
        }
        case Transport::scsi: {
            // One host per adapter, a target per device.
            if (b.controller.empty()) {
                scsi_dir = scsi_device(controller, host_++, 0);
                place.id_path = path_of(controller) + format("-scsi-%u:0:0:0", on_controller);
            } else {
                if (!scsi_hosts_.count(b.controller))
                    scsi_hosts_[b.controller] = host_++;
                scsi_dir = scsi_device(controller, scsi_hosts_[b.controller], on_controller);
                place.id_path = path_of(controller) + format("-scsi-0:0:%u:0", on_controller);
            }
            break;
        }
        case Transport::usb: {
            const UsbDevice *u = nullptr;
            for (const auto &d : c_.usb)
                if (d.name == b.controller)
                    u = &d;
            if (!u)
                throw description_error{0, b.name + ": a USB disk sits on a USB device, not on a hub"};
            place.usb = u;
            scsi_dir = scsi_device(controller + "/" + b.controller + ":1.0", host_++, 0);
            place.id_path = usb_controller_path_.at(u->bus) + "-usb-0:" + b.controller.substr(b.controller.find('-') + 1)
                            + ":1.0-scsi-0:0:0:0";
            break;
        }
        case Transport::virtio:
            place.id_path = path_of(controller);
            return controller + format("/virtio%u/block/", virtio_++) + b.name;
        case Transport::nvme: {
            const std::string ctrl = controller + format("/nvme/nvme%u", nvme_++);
            place.id_path = path_of(controller) + "-nvme-1";
            t_.file(ctrl + "/model", padded(b.model, 40) + "\n");
            t_.file(ctrl + "/serial", padded(b.serial, 20) + "\n");
            t_.file(ctrl + "/firmware_rev", padded(b.revision, 8) + "\n");
            return ctrl + "/" + b.name;
        }
        case Transport::none:
            break;
        }
        return scsi_dir + "/block/" + b.name;
    }

    // The inquiry strings in the SCSI device's attributes; libata answers
    // for an ATA disk with vendor "ATA", the model's first 16 characters and
    // the last four of the firmware revision (the first four when those are
    // blank).
    void scsi_attributes(const BlockDevice &b, Transport t, const std::string &scsi_dir, const std::string &block)
    {
        std::string vendor = b.vendor, rev = b.revision;
        if (t == Transport::ata && b.kind == BlockKind::disk) {
            vendor = "ATA";
            const std::string firmware = padded(b.revision, 8);
            rev = firmware.substr(4, 4) == "    " ? firmware.substr(0, 4) : firmware.substr(4, 4);
        }
        t_.link(block + "/device", scsi_dir);
        t_.file(scsi_dir + "/vendor", padded(vendor, 8) + "\n");
        t_.file(scsi_dir + "/model", padded(b.model, 16) + "\n");
        t_.file(scsi_dir + "/rev", padded(rev, 4) + "\n");
        t_.file(scsi_dir + "/type", b.kind == BlockKind::cdrom ? "5\n" : "0\n");
        t_.link(scsi_dir + "/subsystem", "/sys/bus/scsi");
    }

    // A link below /dev; a name two devices claim (the same partition table
    // identifier on two disks) stays with the first, as udev keeps one.
    void dev_link(const std::string &link, const std::string &node)
    {
        if (dev_links_.insert(link).second)
            t_.link("/dev/" + link, "/dev/" + node);
    }

    // The NVMe namespace identifier the kernel makes without EUI-64 or
    // NGUID: PCI vendor, serial and model in hexadecimal, namespace 1.
    std::string nvme_wwid(const BlockDevice &b) const
    {
        std::string id = format("nvme.%04x-", find_pci(b.controller)->vendor);
        for (unsigned char ch : b.serial)
            id += format("%02x", ch);
        id += "-";
        for (unsigned char ch : b.model)
            id += format("%02x", ch);
        return id + "-00000001";
    }

    void block(const BlockDevice &b, unsigned sequence)
    {
        BlockPlace place;
        place.transport = transport(b);
        place.sequence = sequence;
        if (b.kind != BlockKind::floppy)
            place.diskseq = ++diskseq_;
        std::string scsi_dir;
        const std::string p = block_path(b, place, scsi_dir);
        const uint64_t sectors = b.size / 512;
        t_.file(p + "/dev", format("%u:%u\n", b.major, b.minor));
        t_.file(p + "/size", format("%llu\n", (unsigned long long)sectors));
        t_.file(p + "/removable", b.removable ? "1\n" : "0\n");
        t_.file(p + "/ro", "0\n");
        t_.file(p + "/range", b.kind == BlockKind::disk ? "16\n" : "1\n");
        t_.file(p + "/uevent", format("MAJOR=%u\nMINOR=%u\nDEVNAME=%s\nDEVTYPE=disk\n", b.major, b.minor, b.name.c_str())
                                   + (place.diskseq ? format("DISKSEQ=%u\n", place.diskseq) : ""));
        t_.link(p + "/subsystem", "/sys/class/block");
        if (!scsi_dir.empty())
            scsi_attributes(b, place.transport, scsi_dir, p);
        if (place.transport == Transport::virtio) {
            const std::string virtio = parent_of(parent_of(p));
            t_.link(p + "/device", virtio);
            t_.file(virtio + "/vendor", "0x1af4\n");
            t_.file(virtio + "/device", "0x0002\n");
            if (!b.serial.empty())
                t_.file(p + "/serial", b.serial + "\n");
        }
        if (place.transport == Transport::nvme) {
            place.wwid = nvme_wwid(b);
            t_.link(p + "/device", parent_of(p));
            t_.file(p + "/wwid", place.wwid + "\n");
            t_.file(p + "/nsid", "1\n");
        }
        t_.link("/sys/block/" + b.name, p);
        t_.link("/sys/class/block/" + b.name, p);
        t_.link(format("/sys/dev/block/%u:%u", b.major, b.minor), p);
        t_.sparse("/dev/" + b.name, b.size, {});

        const UdevRecord record = disk_record(b, place);
        t_.file(format("/run/udev/data/b%u:%u", b.major, b.minor), record_text(record));
        for (const auto &l : record.links)
            dev_link(l, b.name);

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
            const UdevRecord precord = partition_record(record, b, part, place);
            t_.file(format("/run/udev/data/b%u:%u", b.major, minor), record_text(precord));
            for (const auto &l : precord.links)
                dev_link(l, pname);
        }
    }

    const Computer &c_;
    Tree &t_;
    std::map<std::string, std::string> usb_paths_;          // USB device or hub name: sysfs path
    std::map<unsigned, std::string> usb_controller_path_;   // bus: path_id of its controller
    std::map<std::string, unsigned> per_controller_;        // devices so far on each controller
    std::map<std::string, unsigned> scsi_hosts_;            // SCSI adapter: its host number
    std::set<std::string> dev_links_;
    unsigned host_ = 0, ata_ = 0, virtio_ = 0, nvme_ = 0, diskseq_ = 0;
};

} // namespace

void write_sysfs(const Computer &computer, Tree &tree)
{
    Writer(computer, tree).run();
}

} // namespace simcomputer
